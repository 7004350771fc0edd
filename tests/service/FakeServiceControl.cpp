#include "FakeServiceControl.h"

#include "platform/Process.h"

namespace platform = kx::platform;

bool CFakeServiceControl::Fails(const std::string& operation) {
    auto found = failures_.find(operation);
    if (found == failures_.end()) return false;
    platform::SetLastErrorCode(found->second);
    return true;
}

void CFakeServiceControl::Record(const std::string& name, uint32_t access,
                                 const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(Call{name, access, text});
}

void* CFakeServiceControl::NewHandle() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++openHandles_;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(nextHandle_++));
}

std::vector<CFakeServiceControl::Call> CFakeServiceControl::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> CFakeServiceControl::CallNames() const {
    std::vector<std::string> names;
    for (const Call& call : Calls()) names.push_back(call.name);
    return names;
}

platform::ServiceHandle CFakeServiceControl::OpenManager(const wchar_t* machine,
                                                         const wchar_t* database, uint32_t access) {
    Record("OpenManager", access,
           std::wstring(machine ? machine : L"(local)") + L"|" + (database ? database : L"(none)"));
    return Fails("OpenManager") ? nullptr : NewHandle();
}

platform::ServiceLockHandle CFakeServiceControl::LockDatabase(platform::ServiceHandle) {
    Record("LockDatabase", 0);
    if (Fails("LockDatabase")) return nullptr;
    locked_ = true;
    return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000));
}

bool CFakeServiceControl::UnlockDatabase(platform::ServiceLockHandle) {
    Record("UnlockDatabase", 0);
    locked_ = false;
    return true;
}

platform::ServiceHandle CFakeServiceControl::CreateServiceEntry(
    platform::ServiceHandle, const platform::ServiceCreation& c) {
    Record("CreateServiceEntry", c.desiredAccess, c.serviceName);
    creation_ = c;
    binaryPath_ = c.binaryPathName ? c.binaryPathName : L"";
    dependencies_.clear();
    if (const wchar_t* p = c.dependencies) {
        do {
            std::wstring name(p);
            dependencies_.insert(dependencies_.end(), name.begin(), name.end());
            dependencies_.push_back(L'\0');
            p += name.size() + 1;
        } while (*p);
        dependencies_.push_back(L'\0');
    }
    return Fails("CreateServiceEntry") ? nullptr : NewHandle();
}

platform::ServiceHandle CFakeServiceControl::OpenServiceEntry(platform::ServiceHandle,
                                                              const wchar_t* name,
                                                              uint32_t access) {
    Record("OpenServiceEntry", access, name);
    return Fails("OpenServiceEntry") ? nullptr : NewHandle();
}

bool CFakeServiceControl::DeleteServiceEntry(platform::ServiceHandle) {
    Record("DeleteServiceEntry", 0);
    return !Fails("DeleteServiceEntry");
}

bool CFakeServiceControl::CloseServiceHandle(platform::ServiceHandle) {
    Record("CloseServiceHandle", 0);
    std::lock_guard<std::mutex> lock(mutex_);
    --openHandles_;
    return true;
}

bool CFakeServiceControl::QueryStatus(platform::ServiceHandle, platform::ServiceStatus* status) {
    Record("QueryStatus", 0);
    if (Fails("QueryStatus")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ++queries_;
    *status = platform::ServiceStatus{};
    status->currentState = states_.front();
    if (states_.size() > 1) states_.erase(states_.begin());
    return true;
}

bool CFakeServiceControl::SendControl(platform::ServiceHandle, uint32_t control,
                                      platform::ServiceStatus*) {
    Record("SendControl", control);
    if (onRequest_) onRequest_(control);
    return !Fails("SendControl");
}

bool CFakeServiceControl::StartServiceProcess(platform::ServiceHandle, uint32_t argc,
                                              const wchar_t**) {
    Record("StartServiceProcess", argc);
    if (onRequest_) onRequest_(0);
    return !Fails("StartServiceProcess");
}

bool CFakeServiceControl::ChangeDescription(platform::ServiceHandle, const wchar_t* description) {
    Record("ChangeDescription", 0, description);
    description_ = description;
    return true;
}

bool CFakeServiceControl::ChangeFailureActions(
    platform::ServiceHandle, const platform::ServiceFailureActions& failureActions) {
    Record("ChangeFailureActions", static_cast<uint32_t>(failureActions.actions.size()));
    failureActions_ = failureActions;
    return true;
}

bool CFakeServiceControl::ChangeFailureActionsFlag(platform::ServiceHandle,
                                                   bool onNonCrashFailures) {
    Record("ChangeFailureActionsFlag", onNonCrashFailures ? 1 : 0);
    onNonCrashFailures_ = onNonCrashFailures;
    return true;
}

bool CFakeServiceControl::QueryFailureActions(platform::ServiceHandle,
                                              platform::ServiceFailureActions* failureActions,
                                              bool* onNonCrashFailures) {
    Record("QueryFailureActions", 0);
    *failureActions = failureActions_;
    *onNonCrashFailures = onNonCrashFailures_;
    return true;
}

bool CFakeServiceControl::RunDispatcher(const platform::ServiceTableEntry* table) {
    Record("RunDispatcher", 0, table[0].serviceName);
    if (Fails("RunDispatcher")) return false;
    std::wstring name = table[0].serviceName;
    wchar_t* argv[] = {name.data(), nullptr};
    table[0].serviceMain(1, argv);
    return true;
}

platform::ServiceStatusHandle CFakeServiceControl::RegisterHandlerEx(
    const wchar_t* serviceName, platform::ServiceHandlerExFunction handler, void*) {
    Record("RegisterHandlerEx", 0, serviceName);
    handlerEx_ = handler;
    return Fails("RegisterHandlerEx") ? nullptr : reinterpret_cast<void*>(0x2000);
}

platform::ServiceStatusHandle CFakeServiceControl::RegisterHandler(
    const wchar_t* serviceName, platform::ServiceHandlerFunction handler) {
    Record("RegisterHandler", 0, serviceName);
    handler_ = handler;
    return reinterpret_cast<void*>(0x2000);
}

bool CFakeServiceControl::ReportServiceStatus(platform::ServiceStatusHandle,
                                              const platform::ServiceStatus& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(status);
    return true;
}

bool CFakeServiceControl::SetConsoleHandler(platform::ConsoleHandlerFunction handler, bool add) {
    Record("SetConsoleHandler", add ? 1 : 0);
    consoleHandler_ = add ? handler : nullptr;
    return true;
}

void CFakeServiceControl::ShowMessageBox(const std::wstring& text, const std::wstring&) {
    std::lock_guard<std::mutex> lock(mutex_);
    messageBoxes_.push_back(text);
}
