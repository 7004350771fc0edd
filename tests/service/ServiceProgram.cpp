#include "ServiceProgram.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "BaseClasses/EventLogRecord.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace platform = kx::platform;

namespace {

std::atomic<int> g_run{0};

#ifdef _WIN32
std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:" + kx::Utf8ToWide(unixPath);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}
#endif

#ifndef _WIN32
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
#endif

}  // namespace

namespace {

std::filesystem::path BuiltExecutable() {
#ifdef _WIN32
    return std::filesystem::path(WinePath(KX_SERVICE_EXECUTABLE));
#else
    return std::filesystem::path(KX_SERVICE_EXECUTABLE);
#endif
}

// The agent keeps its files next to its executable: each test process
// installs a copy of its own, so that agents of tests running at the same
// time never share them. The folder's name has a blank, as "Program Files"
// has, which the service's image path must survive.
const std::filesystem::path& InstallationFolder() {
    static CTempDirectory temporary;
    static const std::filesystem::path folder = [] {
        const std::filesystem::path built = BuiltExecutable();
        const std::filesystem::path agent = temporary.Path() / "Korvex Agent";
        std::filesystem::create_directory(agent);
        std::filesystem::copy_file(built, agent / built.filename());
        std::filesystem::copy_file(built.parent_path() / "KXWkstnSvc.dll",
                                   agent / "KXWkstnSvc.dll");
        return agent;
    }();
    return folder;
}

}  // namespace

std::wstring ServiceExecutablePath() {
    return (InstallationFolder() / BuiltExecutable().filename()).wstring();
}

std::wstring ServiceFolder() {
    return InstallationFolder().wstring();
}

std::wstring ServiceMessageFilePath() {
    return (InstallationFolder() / "KXWkstnSvc.dll").wstring();
}

int ExitCodeOf(uint32_t error) {
#ifdef _WIN32
    return static_cast<int>(error);
#else
    return static_cast<int>(error & 0xFF);
#endif
}

ProgramResult RunServiceProgram(const std::string& arguments) {
    static CTempDirectory outputs;
    const std::filesystem::path out = outputs.Path() / ("run-" + std::to_string(g_run++) + ".out");
#ifdef _WIN32
    // cmd.exe /c drops the outer quotes and keeps those of the paths.
    const std::wstring command = L"\"\"" + ServiceExecutablePath() + L"\" " +
                                 kx::Utf8ToWide(arguments) + L" >\"" + out.wstring() + L"\" 2>&1\"";
    const int status = _wsystem(command.c_str());
    return ProgramResult{status, ReadFileBytes(out)};
#else
    const std::string command =
        "KX_MACHINE_ROOT=" + Quote(kx::WideToUtf8(platform::GetMachineRoot())) + " " +
        Quote(kx::WideToUtf8(ServiceExecutablePath())) + " " + arguments + " >" +
        Quote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    return ProgramResult{(status >> 8) & 0xFF, ReadFileBytes(out)};
#endif
}

bool QueryServiceState(const std::wstring& name, platform::ServiceStatus* status, uint32_t* error) {
    platform::IServiceControl& control = platform::GetServiceControl();
    platform::ServiceHandle manager = control.OpenManager(nullptr, nullptr, 1);
    platform::ServiceHandle service =
        manager ? control.OpenServiceEntry(manager, name.c_str(), 4) : nullptr;
    bool queried = service && control.QueryStatus(service, status);
    *error = queried ? 0 : platform::GetLastErrorCode();
    if (service) control.CloseServiceHandle(service);
    if (manager) control.CloseServiceHandle(manager);
    return queried;
}

bool QueryServiceRecovery(const std::wstring& name, platform::ServiceFailureActions* actions,
                          bool* onNonCrashFailures, uint32_t* error) {
    platform::IServiceControl& control = platform::GetServiceControl();
    platform::ServiceHandle manager = control.OpenManager(nullptr, nullptr, 1);
    platform::ServiceHandle service =
        manager ? control.OpenServiceEntry(manager, name.c_str(), platform::kServiceQueryConfig)
                : nullptr;
    bool queried = service && control.QueryFailureActions(service, actions, onNonCrashFailures);
    *error = queried ? 0 : platform::GetLastErrorCode();
    if (service) control.CloseServiceHandle(service);
    if (manager) control.CloseServiceHandle(manager);
    return queried;
}

uint32_t ControlServiceByName(const std::wstring& name, uint32_t control) {
    platform::IServiceControl& services = platform::GetServiceControl();
    platform::ServiceHandle manager = services.OpenManager(nullptr, nullptr, 1);
    platform::ServiceHandle service =
        manager ? services.OpenServiceEntry(manager, name.c_str(), 0x1E4) : nullptr;
    platform::ServiceStatus status;
    bool sent = service && services.SendControl(service, control, &status);
    uint32_t error = sent ? 0 : platform::GetLastErrorCode();
    if (service) services.CloseServiceHandle(service);
    if (manager) services.CloseServiceHandle(manager);
    return error;
}

bool MachineKeyExists(const std::wstring& subkey) {
    platform::RegistryKeyHandle key = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, subkey, platform::kKeyRead, &key)) {
        return false;
    }
    platform::RegistryCloseKey(key);
    return true;
}

std::wstring ReadMachineValue(const std::wstring& subkey, const std::wstring& name) {
    platform::RegistryKeyHandle key = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, subkey, platform::kKeyRead, &key)) {
        return L"(missing)";
    }
    uint32_t type = 0;
    uint32_t size = 0;
    std::string bytes;
    uint32_t error = platform::RegistryQueryValue(key, name, &type, nullptr, &size);
    if (!error) {
        bytes.resize(size);
        error = platform::RegistryQueryValue(key, name, &type, bytes.data(), &size);
    }
    platform::RegistryCloseKey(key);
    if (error) return L"(missing)";
    if (type == platform::kRegDword && bytes.size() == 4) {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
        return std::to_wstring(value);
    }
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    if (type == platform::kRegMultiSz) {
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        for (wchar_t& c : text) {
            if (c == L'\0') c = L'|';
        }
        return text;
    }
    return text.substr(0, text.find(L'\0'));
}

std::vector<LoggedEvent> ApplicationEvents() {
    std::vector<LoggedEvent> events;
    platform::IEventLog& log = platform::GetEventLog();
    platform::EventLogHandle handle = log.Open(nullptr, L"Application");
    if (!handle) return events;
    std::vector<uint8_t> buffer(0x10000);
    for (;;) {
        uint32_t read = 0;
        uint32_t needed = 0;
        if (!log.Read(handle, platform::kEventLogSequentialRead | platform::kEventLogForwardsRead,
                      0, buffer.data(), static_cast<uint32_t>(buffer.size()), &read, &needed)) {
            break;
        }
        for (uint32_t at = 0; at < read;) {
            CEventLogRecord record(buffer.data() + at, read - at);
            if (!record.IsValid()) break;
            if (auto fields = record.ReadFields()) {
                events.push_back(LoggedEvent{fields->eventId, fields->sourceName, fields->strings});
            }
            at += record.Length();
        }
    }
    log.Close(handle);
    return events;
}
