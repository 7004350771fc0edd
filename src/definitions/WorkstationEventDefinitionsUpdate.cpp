// The refresh of the definitions from the Korvex Foundation service and the
// local copy that carries the last good document across restarts.

#include <cstdio>
#include <string>

#include "BaseClasses/LogData.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/FoundationServiceRequest.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/Files.h"
#include "platform/Process.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\definitions\\WorkstationEventDefinitionsUpdate.cpp";
constexpr const wchar_t* kLocalCopyName = L"KXEventDefinitions.xml";
constexpr const wchar_t* kCurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const wchar_t* kDefaultOsVersion = L"6.1";
constexpr int32_t kNoServerVersion = 3;

std::string ReadAllBytes(std::FILE* file) {
    std::string bytes;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.append(buffer, got);
    }
    return bytes;
}

bool WriteAllBytes(const std::wstring& path, const std::string& bytes) {
    std::FILE* file = kx::platform::OpenFileStream(path, L"wb", kx::platform::FileAccess::Private);
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                   kx::platform::FlushFileToDisk(file);
    return std::fclose(file) == 0 && written;
}

}  // namespace

CWorkstationEventDefinitions::CWorkstationEventDefinitions() {
    Update();
}

int32_t CWorkstationEventDefinitions::Update() {
    if (version_.empty()) {
        std::wstring text = ReadLocalDefinitions();
        if (!text.empty()) {
            LoadFromXml(text);
            // A copy that is not a whole document holds no version: the
            // server's document is downloaded whatever its number.
            if (DeclaresSuccess()) {
                version_ = GetEDVersion();
                held_ = true;
            }
        }
    }
    std::wstring newVersion = GetConfigValue(L"EDVersionNumber");
    if (newVersion.empty()) return kNoServerVersion;
    if (kx::EqualsNoCase(newVersion, version_)) return 0;
    std::wstring os = GetOsVersion();
    if (os == L"5.1") os = L"5.2";  // one document serves both
    CFoundationServiceRequest request(L"/EventDefinitions/" + os);
    const std::wstring& url = request.Url();
    if (!request.Send(L"GET", false)) return static_cast<int32_t>(request.GetLastErrorCode());
    std::wstring body = request.Http().GetResponseText();
    // Read apart from the set held: an error page, a proxy's page or a body
    // cut short would otherwise leave the agent with no definitions until
    // the server's number changes again.
    CWorkstationEventDefinitions downloaded{kWithoutRefresh};
    int32_t result = downloaded.LoadFromXml(body);
    if (!downloaded.DeclaresSuccess()) {
        LogMessage(kSourceFile, __LINE__, kLogWarning,
                   L"Event definitions: the answer of %s is not a whole definitions document "
                   L"(status %s); the definitions held are kept.",
                   url, request.Http().GetStatusCode());
        return result;
    }
    // The version is the one of the set taken: a download that failed is
    // tried again at the next refresh.
    TakeSetFrom(downloaded);
    version_ = newVersion;
    WriteLocalDefinitions(body);
    SetEDVersion(newVersion);
    return result;
}

void CWorkstationEventDefinitions::TakeSetFrom(CWorkstationEventDefinitions& downloaded) {
    definitions_ = std::move(downloaded.definitions_);
    candidates_ = downloaded.candidates_;
    success_ = downloaded.success_;
    complete_ = downloaded.complete_;
    held_ = true;
}

std::wstring CWorkstationEventDefinitions::GetOsVersion() {
    CRegistryKey key;
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    if (!key.Open(kCurrentVersionKey, false)) return kDefaultOsVersion;
    uint32_t major = key.ReadDword(L"CurrentMajorVersionNumber", 0);
    if (major > 0) {
        uint32_t minor = key.ReadDword(L"CurrentMinorVersionNumber", 0);
        return kx::Format(L"%d.%d", major, minor);
    }
    return key.ReadString(L"CurrentVersion", kDefaultOsVersion);
}

std::wstring CWorkstationEventDefinitions::GetLocalDefinitionsPath() {
    std::wstring executable = kx::platform::GetExecutablePath();
    std::size_t last = executable.rfind(kx::platform::kPathSeparator);
    std::wstring folder = last == std::wstring::npos ? L"." : executable.substr(0, last);
    return folder + kx::platform::kPathSeparator + kLocalCopyName;
}

std::wstring CWorkstationEventDefinitions::ReadLocalDefinitions() {
    std::FILE* file = kx::platform::OpenFileStream(GetLocalDefinitionsPath(), L"rb");
    if (!file) return std::wstring();
    std::string bytes = ReadAllBytes(file);
    std::fclose(file);
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    std::size_t zero = text.find(L'\0');
    if (zero != std::wstring::npos) text.resize(zero);
    return text;
}

// The copy is written beside the old one and renamed over it, so a crash
// while writing never leaves half a document to be loaded at the next start.
void CWorkstationEventDefinitions::WriteLocalDefinitions(const std::wstring& text) {
    std::wstring path = GetLocalDefinitionsPath();
    std::wstring temporary = path + L".new";
    if (!WriteAllBytes(temporary, kx::WideToUtf16LE(text)) ||
        !kx::platform::ReplaceFileByPath(temporary, path)) {
        kx::platform::DeleteFileByPath(temporary);
    }
}
