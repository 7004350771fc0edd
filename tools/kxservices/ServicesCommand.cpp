#include "ServicesCommand.h"

#include <chrono>
#include <thread>

#include "common/Format.h"
#include "common/Text.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/SystemMessage.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services";
constexpr auto kPollInterval = std::chrono::milliseconds(100);

const wchar_t* StateName(uint32_t state) {
    static const wchar_t* const names[] = {L"unknown",       L"stopped", L"start pending",
                                           L"stop pending",  L"running", L"continue pending",
                                           L"pause pending", L"paused"};
    return state < std::size(names) ? names[state] : names[0];
}

// A value of an opened key: its bytes, or empty.
std::string ValueBytes(platform::RegistryKeyHandle key, const wchar_t* name, uint32_t* type) {
    uint32_t size = 0;
    if (platform::RegistryQueryValue(key, name, type, nullptr, &size) != 0) return "";
    std::string bytes(size, '\0');
    if (platform::RegistryQueryValue(key, name, type, bytes.data(), &size) != 0) return "";
    return bytes;
}

std::vector<std::wstring> SplitList(const std::string& bytes) {
    std::vector<std::wstring> names;
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    for (std::size_t start = 0; start < text.size() && text[start];) {
        std::size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos) end = text.size();
        names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

int CServicesCommand::Run(const std::vector<std::wstring>& arguments) {
    if (arguments.empty() || (arguments.size() != 1 && arguments.size() != 3)) {
        errors_ = L"Usage: kxservices boot|shutdown [--timeout MS] | list\n";
        return 2;
    }
    if (arguments.size() == 3) {
        if (arguments[1] != L"--timeout" || arguments[2].empty() ||
            arguments[2].find_first_not_of(L"0123456789") != std::wstring::npos) {
            errors_ = L"kxservices: --timeout takes milliseconds\n";
            return 2;
        }
        timeout_ = static_cast<uint32_t>(std::stoul(arguments[2]));
    }
    const std::wstring& command = arguments[0];
    if (command != L"boot" && command != L"shutdown" && command != L"list") {
        errors_ = L"kxservices: unknown command '" + command + L"'\n";
        return 2;
    }
    manager_ = control_.OpenManager(nullptr, L"ServicesActive", 0xF003F);
    if (!manager_) {
        Fail(L"", L"cannot open the service control manager", platform::GetLastErrorCode());
        return 1;
    }
    ReadServices();
    int result = command == L"boot" ? Boot() : command == L"shutdown" ? Shutdown() : List();
    control_.CloseServiceHandle(manager_);
    return result;
}

void CServicesCommand::ReadServices() {
    platform::RegistryKeyHandle services = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, kServicesKey, platform::kKeyRead,
                                  &services) != 0) {
        return;
    }
    wchar_t name[256];
    for (uint32_t index = 0; platform::RegistryEnumKey(services, index, name, 256) == 0; ++index) {
        platform::RegistryKeyHandle key = 0;
        if (platform::RegistryOpenKey(services, name, platform::kKeyRead, &key) != 0) continue;
        uint32_t type = 0;
        if (!ValueBytes(key, L"ImagePath", &type).empty()) {
            Service service;
            service.name = name;
            std::string start = ValueBytes(key, L"Start", &type);
            if (start.size() == 4 && type == platform::kRegDword) {
                service.startType = static_cast<uint8_t>(start[0]);
            }
            service.dependencies = SplitList(ValueBytes(key, L"DependOnService", &type));
            services_.push_back(service);
        }
        platform::RegistryCloseKey(key);
    }
    platform::RegistryCloseKey(services);
}

const CServicesCommand::Service* CServicesCommand::Find(const std::wstring& name) const {
    for (const Service& service : services_) {
        if (kx::EqualsNoCase(service.name, name)) return &service;
    }
    return nullptr;
}

int CServicesCommand::Boot() {
    bool allStarted = true;
    std::set<std::wstring> visited;
    for (const Service& service : services_) {
        if (service.startType == platform::kServiceAutoStart) {
            allStarted &= StartWithDependencies(service, visited);
        }
    }
    return allStarted ? 0 : 1;
}

// Dependencies that are not installed here are the host's own facilities
// (such as "lanmanworkstation") and are taken as present.
bool CServicesCommand::StartWithDependencies(const Service& service,
                                             std::set<std::wstring>& visited) {
    if (!visited.insert(kx::ToLower(service.name)).second) return true;
    for (const std::wstring& dependency : service.dependencies) {
        if (const Service* installed = Find(dependency)) {
            if (!StartWithDependencies(*installed, visited)) return false;
        }
    }
    return StartOne(service.name);
}

bool CServicesCommand::StartOne(const std::wstring& name) {
    platform::ServiceHandle service = control_.OpenServiceEntry(manager_, name.c_str(), 0x14);
    if (!service) {
        Fail(name, L"cannot be opened", platform::GetLastErrorCode());
        return false;
    }
    bool started = control_.StartServiceProcess(service, 0, nullptr) ||
                   platform::GetLastErrorCode() == platform::kErrorServiceAlreadyRunning;
    if (!started) {
        Fail(name, L"did not start", platform::GetLastErrorCode());
    } else if (!WaitForState(service, platform::kServiceRunning)) {
        Fail(name, L"is not running", platform::GetLastErrorCode());
        started = false;
    } else {
        output_ += name + L": running\n";
    }
    control_.CloseServiceHandle(service);
    return started;
}

int CServicesCommand::Shutdown() {
    bool allStopped = true;
    for (const Service& service : services_) allStopped &= StopOne(service.name);
    return allStopped ? 0 : 1;
}

bool CServicesCommand::StopOne(const std::wstring& name) {
    platform::ServiceHandle service = control_.OpenServiceEntry(manager_, name.c_str(), 0x24);
    if (!service) return true;
    platform::ServiceStatus status;
    bool stopped = true;
    if (control_.QueryStatus(service, &status) &&
        status.currentState != platform::kServiceStopped) {
        if (!(status.controlsAccepted & platform::kAcceptStop)) {
            output_ += name + L": does not accept a stop\n";
        } else if (!control_.SendControl(service, platform::kControlStop, &status) ||
                   !WaitForState(service, platform::kServiceStopped)) {
            Fail(name, L"did not stop", platform::GetLastErrorCode());
            stopped = false;
        } else {
            output_ += name + L": stopped\n";
        }
    }
    control_.CloseServiceHandle(service);
    return stopped;
}

int CServicesCommand::List() {
    for (const Service& service : services_) {
        platform::ServiceHandle handle =
            control_.OpenServiceEntry(manager_, service.name.c_str(), 4);
        platform::ServiceStatus status;
        if (handle && control_.QueryStatus(handle, &status)) {
            output_ += kx::Format(L"%-24s %-16s start type %u", service.name,
                                  StateName(status.currentState), service.startType);
            if (status.currentState == platform::kServiceStopped && status.win32ExitCode) {
                output_ += kx::Format(L", exit code %u (%u)", status.win32ExitCode,
                                      status.serviceSpecificExitCode);
            }
            output_ += L"\n";
        }
        if (handle) control_.CloseServiceHandle(handle);
    }
    return 0;
}

bool CServicesCommand::WaitForState(platform::ServiceHandle service, uint32_t state) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_);
    for (;;) {
        platform::ServiceStatus status;
        if (!control_.QueryStatus(service, &status)) return false;
        if (status.currentState == state) return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            platform::SetLastErrorCode(platform::kErrorTimeout);
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

void CServicesCommand::Fail(const std::wstring& name, const std::wstring& what, uint32_t error) {
    std::wstring text = kx::Trim(platform::GetSystemErrorText(error));
    errors_ +=
        kx::Format(L"%s%s%s: error %u %s\n", name, name.empty() ? L"" : L" ", what, error, text);
}
