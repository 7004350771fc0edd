#include "MessageSources.h"

#include <stdexcept>
#include <vector>

#include "TestData.h"
#include "common/Format.h"
#include "config/RegistryKey.h"
#include "platform/Files.h"

namespace {

constexpr int kPublisherKeys = 4;
constexpr const wchar_t* kPublishersPath =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Publishers";
constexpr const wchar_t* kWindowsNtPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const wchar_t* kWindowsPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const wchar_t* kFolderName = L"KxLookupTests";

std::wstring PublisherKeyName(int index) {
    return kx::Format(L"{0E5E7A3C-9A53-4C6B-8B0D-4B58AC%06d}", index);
}

std::vector<std::wstring> SandboxKeys() {
    std::vector<std::wstring> keys = {
        kx::Format(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s",
                   CMessageSources::kLog)};
    for (int i = 1; i <= kPublisherKeys; ++i)
        keys.push_back(
            kx::Format(L"HKEY_LOCAL_MACHINE\\%s\\%s", kPublishersPath, PublisherKeyName(i)));
    return keys;
}

}  // namespace

CMessageSources::CMessageSources() : sandbox_(SandboxKeys()) {
#ifdef _WIN32
    folder_ = kx::platform::ToNativePath(SystemRoot() + L"\\" + kFolderName);
#else
    // A Windows-like machine: the message port finds "C:\..." below drive_c.
    WriteMachineValue(kWindowsNtPath, L"SystemRoot", L"C:\\Windows");
    WriteMachineValue(kWindowsPath, L"ProgramFilesDir", L"C:\\Program Files");
    WriteMachineValue(kWindowsPath, L"CommonFilesDir", L"C:\\Program Files\\Common Files");
    folder_ = kx::platform::ToNativePath(sandbox_.MachineRoot()) / "drive_c" / "Windows" /
              kx::platform::ToNativePath(kFolderName);
#endif
    std::filesystem::create_directories(folder_);
}

CMessageSources::~CMessageSources() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::wstring CMessageSources::Install(const std::wstring& fileName) {
    std::filesystem::copy_file(kx::platform::ToNativePath(TestMessageFilePath(fileName)),
                               folder_ / kx::platform::ToNativePath(fileName),
                               std::filesystem::copy_options::overwrite_existing);
    return kx::Format(L"%%SystemRoot%%\\%s\\%s", kFolderName, fileName);
}

void CMessageSources::RegisterSource(const std::wstring& source, const std::wstring& valueName,
                                     const std::wstring& files) {
    WriteMachineValue(
        kx::Format(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s", kLog, source),
        valueName, files);
}

void CMessageSources::RegisterPublisher(const std::wstring& publisher,
                                        const std::wstring& valueName, const std::wstring& files) {
    auto entry =
        publisherKeys_.emplace(publisher, static_cast<int>(publisherKeys_.size()) + 1).first;
    if (entry->second > kPublisherKeys) throw std::logic_error("no publisher key left");
    const std::wstring key =
        kx::Format(L"%s\\%s", kPublishersPath, PublisherKeyName(entry->second));
    WriteMachineValue(key, L"", publisher);
    WriteMachineValue(key, valueName, files);
}

std::wstring CMessageSources::SystemRoot() const {
    CRegistryKey key;
    key.UseWow64View();
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    key.Open(kWindowsNtPath, false);
    return key.ReadString(L"SystemRoot", L"");
}

void CMessageSources::WriteMachineValue(const std::wstring& subkey, const std::wstring& name,
                                        const std::wstring& value) {
    CRegistryKey key;
    key.UseWow64View();
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    if (!key.Open(subkey, true) || !key.WriteString(name, value))
        throw std::runtime_error("cannot write the test's registry value");
}
