// The parameter operations of CNTService: values below the service's
// "Parameters" key, one subkey per section.

#include "common/RegFile.h"
#include "common/Text.h"
#include "service/NTService.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services";
constexpr uint32_t kSectionRead = 0x00020019;
constexpr uint32_t kSectionReadWrite = 0x0002001F;

// A section key, closed at the end of a scope.
class CSection {
public:
    explicit CSection(platform::RegistryKeyHandle key) : key_(key) {}
    ~CSection() {
        if (key_) platform::RegistryCloseKey(key_);
    }
    CSection(const CSection&) = delete;
    CSection& operator=(const CSection&) = delete;
    explicit operator bool() const { return key_ != 0; }
    platform::RegistryKeyHandle Get() const { return key_; }

private:
    platform::RegistryKeyHandle key_;
};

// The value's bytes, or the error of the read.
uint32_t QueryBytes(platform::RegistryKeyHandle key, const std::wstring& entry, uint32_t* type,
                    std::string* bytes) {
    uint32_t size = 0;
    uint32_t error = platform::RegistryQueryValue(key, entry, type, nullptr, &size);
    if (error) return error;
    bytes->assign(size, '\0');
    return platform::RegistryQueryValue(key, entry, type, bytes->data(), &size);
}

}  // namespace

platform::RegistryKeyHandle CNTService::OpenParametersKey(bool readOnly) {
    const uint32_t access =
        readOnly ? platform::kKeyRead : platform::kKeyRead | platform::kKeyWrite;
    platform::RegistryKeyHandle services = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, kServicesKey, access, &services)) {
        return 0;
    }
    platform::RegistryKeyHandle parameters = 0;
    if (platform::RegistryCreateKey(services, serviceName_ + L"\\Parameters", access,
                                    &parameters) != 0) {
        parameters = 0;
    }
    platform::RegistryCloseKey(services);
    return parameters;
}

platform::RegistryKeyHandle CNTService::OpenParameterSection(const std::wstring& section,
                                                             bool readOnly) {
    CSection parameters(OpenParametersKey(readOnly));
    if (!parameters) return 0;
    platform::RegistryKeyHandle key = 0;
    if (platform::RegistryCreateKey(parameters.Get(), section,
                                    readOnly ? kSectionRead : kSectionReadWrite, &key) != 0) {
        return 0;
    }
    return key;
}

bool CNTService::WriteParameterString(const std::wstring& section, const std::wstring* entry,
                                      const std::wstring* value) {
    if (!entry) {
        CSection parameters(OpenParametersKey(false));
        return parameters && platform::RegistryDeleteTree(parameters.Get(), section) == 0;
    }
    if (value) {
        std::string data = kx::RegStringData(*value);
        return WriteParameterValue(section, *entry, platform::kRegSz, data.data(),
                                   static_cast<uint32_t>(data.size()));
    }
    CSection key(OpenParameterSection(section, false));
    if (!key) return false;
    bool deleted = platform::RegistryDeleteValue(key.Get(), *entry) == 0;
    if (deleted && flushParameters_) platform::RegistryFlushKey(key.Get());
    return deleted;
}

bool CNTService::WriteParameterInt(const std::wstring& section, const std::wstring& entry,
                                   uint32_t value) {
    std::string data = kx::RegDwordData(value);
    return WriteParameterValue(section, entry, platform::kRegDword, data.data(), 4);
}

bool CNTService::WriteParameterStringArray(const std::wstring& section, const std::wstring& entry,
                                           const std::vector<std::wstring>& values) {
    // An empty list is still a list: one empty string's NUL and the final NUL.
    std::string data = values.empty() ? std::string(4, '\0') : kx::RegMultiStringData(values);
    return WriteParameterValue(section, entry, platform::kRegMultiSz, data.data(),
                               static_cast<uint32_t>(data.size()));
}

bool CNTService::WriteParameterBinary(const std::wstring& section, const std::wstring& entry,
                                      const void* data, uint32_t size) {
    return WriteParameterValue(section, entry, platform::kRegBinary, data, size);
}

bool CNTService::WriteParameterValue(const std::wstring& section, const std::wstring& entry,
                                     uint32_t type, const void* data, uint32_t size) {
    CSection key(OpenParameterSection(section, false));
    if (!key) return false;
    bool written = platform::RegistrySetValue(key.Get(), entry, type, data, size) == 0;
    if (written && flushParameters_) platform::RegistryFlushKey(key.Get());
    return written;
}

std::wstring CNTService::GetParameterString(const std::wstring& section, const std::wstring& entry,
                                            const std::wstring& defaultValue, uint32_t* error) {
    CSection key(OpenParameterSection(section, true));
    uint32_t type = 0;
    std::string bytes;
    uint32_t result =
        key ? QueryBytes(key.Get(), entry, &type, &bytes) : platform::kRegistryFileNotFound;
    if (!result && type != platform::kRegSz && type != platform::kRegExpandSz) {
        result = platform::kRegistryInvalidParameter;
    }
    if (error) *error = result;
    if (result) return defaultValue;
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    return text.substr(0, text.find(L'\0'));
}

uint32_t CNTService::GetParameterInt(const std::wstring& section, const std::wstring& entry,
                                     uint32_t defaultValue, uint32_t* error) {
    CSection key(OpenParameterSection(section, true));
    uint32_t type = 0;
    std::string bytes;
    uint32_t result =
        key ? QueryBytes(key.Get(), entry, &type, &bytes) : platform::kRegistryFileNotFound;
    if (!result && (type != platform::kRegDword || bytes.size() != 4)) {
        result = platform::kRegistryInvalidParameter;
    }
    if (error) *error = result;
    if (result) return defaultValue;
    return static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8 |
           static_cast<uint8_t>(bytes[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[3])) << 24;
}

bool CNTService::GetParameterStringArray(const std::wstring& section, const std::wstring& entry,
                                         std::vector<std::wstring>* values) {
    CSection key(OpenParameterSection(section, true));
    uint32_t type = 0;
    std::string bytes;
    if (!key || QueryBytes(key.Get(), entry, &type, &bytes) != 0 || type != platform::kRegMultiSz) {
        return false;
    }
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos) end = text.size();
        if (end == start) break;
        values->push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

bool CNTService::GetParameterBinary(const std::wstring& section, const std::wstring& entry,
                                    std::vector<uint8_t>* data) {
    CSection key(OpenParameterSection(section, true));
    uint32_t type = 0;
    std::string bytes;
    if (!key || QueryBytes(key.Get(), entry, &type, &bytes) != 0) return false;
    data->assign(bytes.begin(), bytes.end());
    return true;
}
