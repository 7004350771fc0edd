#include "RegCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/Format.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "config/FoundationServiceRequest.h"
#include "config/RegistryTransfer.h"
#include "config/Settings.h"
#include "platform/Files.h"
#include "platform/SystemMessage.h"

namespace reg = kx::platform;

namespace {

constexpr const wchar_t* kUsage =
    L"Usage:\n"
    L"  kxreg query KEY [/v NAME | /ve] [/s]\n"
    L"  kxreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    L"  kxreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    L"  kxreg export KEY FILE [/y]\n"
    L"  kxreg import FILE\n"
    L"  kxreg policy [/enable | /disable] [/server NAME] [/port PORT] [/https | /http]\n"
    L"               [/ca FILE]\n"
    L"\n"
    L"KEY is ROOT\\SUBKEY with ROOT one of HKLM, HKCU, HKCR, HKU (or the full names).\n"
    L"TYPE is REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    L"REG_BINARY or REG_NONE. REG_DWORD and REG_QWORD data is decimal or 0x hex;\n"
    L"REG_BINARY and REG_NONE data is hex digits; REG_MULTI_SZ strings are separated\n"
    L"by \\0 unless /s gives another separator.\n"
    L"policy sets the agent's policy values and shows the settings the agent uses;\n"
    L"/https makes it reach the server over HTTPS, /ca FILE trust only the certificate\n"
    L"authorities of that PEM file (/ca \"\": the system's trusted roots).\n";

constexpr const wchar_t* kSuccess = L"The operation completed successfully.\n";

const std::pair<uint32_t, const wchar_t*> kTypeNames[] = {
    {0, L"REG_NONE"},
    {1, L"REG_SZ"},
    {2, L"REG_EXPAND_SZ"},
    {3, L"REG_BINARY"},
    {4, L"REG_DWORD"},
    {5, L"REG_DWORD_BIG_ENDIAN"},
    {6, L"REG_LINK"},
    {7, L"REG_MULTI_SZ"},
    {8, L"REG_RESOURCE_LIST"},
    {9, L"REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, L"REG_RESOURCE_REQUIREMENTS_LIST"},
    {11, L"REG_QWORD"},
};

std::wstring TypeName(uint32_t type) {
    for (const auto& [code, name] : kTypeNames) {
        if (code == type) return name;
    }
    return kx::Format(L"0x%x", type);
}

bool ParseNumber(const std::wstring& text, uint64_t limit, uint64_t* number) {
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    std::wstring digits = hex ? text.substr(2) : text;
    if (digits.empty()) return false;
    uint64_t result = 0;
    for (wchar_t c : digits) {
        uint64_t digit;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<uint64_t>(c - L'0');
        } else if (hex && ((c | 0x20) >= L'a' && (c | 0x20) <= L'f')) {
            digit = static_cast<uint64_t>((c | 0x20) - L'a' + 10);
        } else {
            return false;
        }
        uint64_t base = hex ? 16 : 10;
        if (result > (limit - digit) / base) return false;
        result = result * base + digit;
    }
    *number = result;
    return true;
}

std::string LittleEndian(uint64_t number, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    return bytes;
}

std::wstring StringOf(const std::string& data) {
    std::wstring text = kx::Utf16LEToWide(data.data(), data.size());
    return text.substr(0, text.find(L'\0'));
}

std::wstring DataText(const reg::RegistryValue& value) {
    const std::string& data = value.data;
    switch (value.type) {
        case reg::kRegSz:
        case reg::kRegExpandSz:
            return StringOf(data);
        case reg::kRegDword:
        case reg::kRegQword:
            if (data.size() == 4 || data.size() == 8) {
                uint64_t number = 0;
                for (std::size_t i = data.size(); i-- > 0;) {
                    number = (number << 8) | static_cast<unsigned char>(data[i]);
                }
                return kx::Format(L"0x%llx", number);
            }
            break;
        case reg::kRegMultiSz: {
            std::wstring text = kx::Utf16LEToWide(data.data(), data.size());
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            std::wstring shown;
            for (wchar_t c : text) shown += c == L'\0' ? std::wstring(L"\\0") : std::wstring(1, c);
            return shown;
        }
    }
    std::wstring hex;
    for (char byte : data) hex += kx::Format(L"%02X", static_cast<unsigned char>(byte));
    return hex;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    std::FILE* file = reg::OpenFileStream(path, L"rb");
    if (!file) return false;
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, count);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    std::FILE* file = reg::OpenFileStream(path, L"wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

std::wstring CRegCommand::Options::Get(const std::wstring& name) const {
    auto found = named.find(name);
    return found == named.end() ? std::wstring() : found->second;
}

int CRegCommand::Run(const std::vector<std::wstring>& args) {
    if (args.empty()) return Usage(L"");
    std::wstring command = kx::ToLower(args[0]);
    std::vector<std::wstring> rest(args.begin() + 1, args.end());
    if (command == L"query") return Query(rest);
    if (command == L"add") return Add(rest);
    if (command == L"delete") return Delete(rest);
    if (command == L"export") return Export(rest);
    if (command == L"import") return Import(rest);
    if (command == L"policy") return Policy(rest);
    if (command == L"/?" || command == L"-h" || command == L"--help" || command == L"help") {
        output_ += kUsage;
        return 0;
    }
    return Usage(L"Unknown command " + args[0] + L".");
}

int CRegCommand::Usage(const std::wstring& problem) {
    if (!problem.empty()) errors_ += L"ERROR: " + problem + L"\n";
    errors_ += kUsage;
    return 1;
}

int CRegCommand::Fail(uint32_t code) {
    if (code == reg::kRegistryCorrupt) {
        return Fail(L"The registry file cannot be read (1015); the message above says where.");
    }
    if (code == reg::kRegistryBadPathName) {
        return Fail(
            L"The key must begin with HKLM, HKCU, HKCR or HKU and contain no empty names "
            L"(161).");
    }
    std::wstring text = kx::Trim(reg::GetSystemErrorText(code));
    return Fail(kx::Format(L"%s (%u)", text.empty() ? std::wstring(L"Error") : text, code));
}

bool CRegCommand::Reject(const std::wstring& problem) {
    Usage(problem);
    return false;
}

bool CRegCommand::Refuse(const std::wstring& message) {
    Fail(message);
    return false;
}

int CRegCommand::Fail(const std::wstring& message) {
    errors_ += L"ERROR: " + message + L"\n";
    return 1;
}

bool CRegCommand::ParseOptions(const std::vector<std::wstring>& args,
                               const std::vector<std::wstring>& flags,
                               const std::vector<std::wstring>& withValue,
                               std::size_t positionalCount, Options* options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) {
            options->positional.push_back(arg);
            continue;
        }
        // Anything that is not one of the command's options is an argument:
        // on Linux, paths begin with "/" too.
        std::wstring name = kx::ToLower(arg.substr(1));
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            options->named[name] = L"";
        } else if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
            if (i + 1 >= args.size()) return Reject(L"The option " + arg + L" needs a value.");
            options->named[name] = args[++i];
        } else {
            options->positional.push_back(arg);
        }
    }
    if (options->positional.size() != positionalCount) {
        return Reject(L"Wrong number of arguments.");
    }
    return true;
}

uint32_t CRegCommand::OpenKey(const std::wstring& path, uint32_t access,
                              reg::RegistryKeyHandle* key, bool create) {
    reg::RegistryKeyHandle root = 0;
    std::wstring subkey;
    if (!ParseRegistryPath(path, &root, &subkey)) return reg::kRegistryBadPathName;
    return create ? reg::RegistryCreateKey(root, subkey, access, key)
                  : reg::RegistryOpenKey(root, subkey, access, key);
}

int CRegCommand::Query(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {L"ve", L"s"}, {L"v"}, 1, &options)) return 1;
    reg::RegistryKeyHandle key = 0;
    if (uint32_t status = OpenKey(options.positional[0], reg::kKeyRead, &key, false); status) {
        return Fail(status);
    }
    int result = 0;
    if (options.Has(L"v") || options.Has(L"ve")) {
        std::wstring name = options.Get(L"v");
        reg::RegistryValue value;
        value.name = name;
        uint32_t size = 0;
        uint32_t status = reg::RegistryQueryValue(key, name, &value.type, nullptr, &size);
        value.data.resize(size);
        if (status == 0)
            status = reg::RegistryQueryValue(key, name, &value.type, value.data.data(), &size);
        if (status == 0) {
            output_ += L"\n" + options.positional[0] + L"\n";
            PrintValue(value);
            output_ += L"\n";
        } else {
            result = Fail(status);
        }
    } else {
        result = QueryKey(key, options.positional[0], options.Has(L"s"));
    }
    reg::RegistryCloseKey(key);
    return result;
}

int CRegCommand::QueryKey(reg::RegistryKeyHandle key, const std::wstring& path, bool recursive) {
    output_ += L"\n" + path + L"\n";
    reg::RegistryValue value;
    for (uint32_t index = 0; reg::RegistryEnumValue(key, index, &value) == 0; ++index) {
        PrintValue(value);
    }
    std::vector<std::wstring> children;
    if (uint32_t status = ListSubkeyNames(key, &children); status != 0) return Fail(status);
    for (const std::wstring& child : children) {
        std::wstring childPath = path + L"\\" + child;
        reg::RegistryKeyHandle childKey = 0;
        if (!recursive || reg::RegistryOpenKey(key, child, reg::kKeyRead, &childKey) != 0) {
            output_ += (recursive ? L"" : L"\n") + childPath + L"\n";
            continue;
        }
        int result = QueryKey(childKey, childPath, true);
        reg::RegistryCloseKey(childKey);
        if (result != 0) return result;
    }
    return 0;
}

void CRegCommand::PrintValue(const reg::RegistryValue& value) {
    output_ += kx::Format(L"    %s    %s    %s\n", value.name.empty() ? L"(Default)" : value.name,
                          TypeName(value.type), DataText(value));
}

bool CRegCommand::MakeData(const std::wstring& type, const std::wstring& data,
                           const std::wstring& separator, uint32_t* typeCode, std::string* bytes) {
    std::wstring upper = kx::ToUpper(type);
    uint64_t number = 0;
    if (upper == L"REG_SZ" || upper == L"REG_EXPAND_SZ") {
        *typeCode = upper == L"REG_SZ" ? reg::kRegSz : reg::kRegExpandSz;
        *bytes = kx::RegStringData(data);
    } else if (upper == L"REG_DWORD" || upper == L"REG_QWORD") {
        bool dword = upper == L"REG_DWORD";
        if (!ParseNumber(data, dword ? 0xFFFFFFFFull : ~0ull, &number)) {
            return Refuse(L"The data of " + upper +
                          L" must be a decimal or 0x hex number in range.");
        }
        *typeCode = dword ? reg::kRegDword : reg::kRegQword;
        *bytes = LittleEndian(number, dword ? 4 : 8);
    } else if (upper == L"REG_MULTI_SZ") {
        std::vector<std::wstring> strings;
        std::size_t start = 0;
        while (start < data.size()) {
            std::size_t end = data.find(separator, start);
            if (end == std::wstring::npos) end = data.size();
            strings.push_back(data.substr(start, end - start));
            start = end + separator.size();
        }
        *typeCode = reg::kRegMultiSz;
        *bytes = kx::RegMultiStringData(strings);
    } else if (upper == L"REG_BINARY" || upper == L"REG_NONE") {
        if (data.size() % 2 != 0) return Refuse(L"Binary data must be pairs of hex digits.");
        bytes->clear();
        for (std::size_t i = 0; i < data.size(); i += 2) {
            if (!ParseNumber(L"0x" + data.substr(i, 2), 0xFF, &number)) {
                return Refuse(L"Binary data must be pairs of hex digits.");
            }
            bytes->push_back(static_cast<char>(number));
        }
        *typeCode = upper == L"REG_BINARY" ? reg::kRegBinary : reg::kRegNone;
    } else {
        return Refuse(L"Unknown type " + type + L".");
    }
    return true;
}

int CRegCommand::Add(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {L"ve", L"f"}, {L"v", L"t", L"d", L"s"}, 1, &options)) return 1;
    reg::RegistryKeyHandle key = 0;
    if (uint32_t status = OpenKey(options.positional[0], reg::kKeyAllAccess, &key, true); status) {
        return Fail(status);
    }
    uint32_t status = 0;
    if (options.Has(L"v") || options.Has(L"ve") || options.Has(L"d") || options.Has(L"t")) {
        std::wstring type = options.Has(L"t") ? options.Get(L"t") : L"REG_SZ";
        std::wstring separator = options.Has(L"s") ? options.Get(L"s") : L"\\0";
        uint32_t typeCode = 0;
        std::string bytes;
        if (separator.empty() || !MakeData(type, options.Get(L"d"), separator, &typeCode, &bytes)) {
            reg::RegistryCloseKey(key);
            return separator.empty() ? Fail(L"The separator must not be empty.") : 1;
        }
        status = reg::RegistrySetValue(key, options.Get(L"v"), typeCode, bytes.data(),
                                       static_cast<uint32_t>(bytes.size()));
    }
    reg::RegistryCloseKey(key);
    if (status != 0) return Fail(status);
    output_ += kSuccess;
    return 0;
}

int CRegCommand::Delete(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {L"ve", L"va", L"f"}, {L"v"}, 1, &options)) return 1;
    const std::wstring& path = options.positional[0];
    uint32_t status = 0;
    if (!options.Has(L"v") && !options.Has(L"ve") && !options.Has(L"va")) {
        reg::RegistryKeyHandle root = 0;
        std::wstring subkey;
        if (!ParseRegistryPath(path, &root, &subkey) || subkey.empty()) {
            return Fail(L"Give a key below the root to delete.");
        }
        status = reg::RegistryDeleteTree(root, subkey);
    } else {
        reg::RegistryKeyHandle key = 0;
        status = OpenKey(path, reg::kKeyAllAccess, &key, false);
        if (status == 0 && options.Has(L"va")) {
            reg::RegistryValue value;
            std::vector<std::wstring> names;
            for (uint32_t index = 0; reg::RegistryEnumValue(key, index, &value) == 0; ++index) {
                names.push_back(value.name);
            }
            for (const std::wstring& name : names) {
                if (status == 0) status = reg::RegistryDeleteValue(key, name);
            }
        } else if (status == 0) {
            status = reg::RegistryDeleteValue(key, options.Get(L"v"));
        }
        if (key) reg::RegistryCloseKey(key);
    }
    if (status != 0) return Fail(status);
    output_ += kSuccess;
    return 0;
}

int CRegCommand::Export(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {L"y"}, {}, 2, &options)) return 1;
    const std::wstring& file = options.positional[1];
    if (reg::FileExists(file) && !options.Has(L"y")) {
        return Fail(L"The file " + file + L" exists; give /y to overwrite it.");
    }
    std::vector<kx::RegFileKey> keys;
    if (uint32_t status = ExportRegistryKey(options.positional[0], &keys); status != 0) {
        return Fail(status);
    }
    if (!WriteWholeFile(file, kx::FormatRegFile(keys))) {
        return Fail(L"The file " + file + L" cannot be written.");
    }
    output_ += kSuccess;
    return 0;
}

int CRegCommand::Import(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {}, {}, 1, &options)) return 1;
    const std::wstring& file = options.positional[0];
    std::string bytes;
    if (!ReadWholeFile(file, &bytes)) return Fail(L"The file " + file + L" cannot be read.");
    std::vector<kx::RegFileKey> keys;
    kx::RegFileError error;
    if (!kx::ParseRegFile(bytes, &keys, &error)) {
        return Fail(kx::Format(L"%s, line %d: %s.", file, error.line, error.message));
    }
    std::wstring failedPath;
    if (uint32_t status = ImportRegistryKeys(keys, &failedPath); status != 0) {
        errors_ += L"ERROR: [" + failedPath + L"] could not be imported.\n";
        return Fail(status);
    }
    output_ += kSuccess;
    return 0;
}

int CRegCommand::Policy(const std::vector<std::wstring>& args) {
    Options options;
    if (!ParseOptions(args, {L"enable", L"disable", L"https", L"http"}, {L"server", L"port", L"ca"},
                      0, &options)) {
        return 1;
    }
    if (options.Has(L"enable") && options.Has(L"disable")) {
        return Usage(L"Give /enable or /disable, not both.");
    }
    PolicyValues values;
    if (!ChannelValues(options, &values)) return 1;
    if (options.Has(L"enable") || options.Has(L"disable")) {
        values.push_back({L"EnableWorkstationAuditAgent",
                          {reg::kRegDword, kx::RegDwordData(options.Has(L"enable") ? 1 : 0)}});
    }
    if (options.Has(L"server")) {
        values.push_back({L"KFSServer", {reg::kRegSz, kx::RegStringData(options.Get(L"server"))}});
    }
    if (options.Has(L"port")) {
        values.push_back({L"KFSPort", {reg::kRegSz, kx::RegStringData(options.Get(L"port"))}});
    }
    if (!values.empty()) {
        reg::RegistryKeyHandle key = 0;
        uint32_t status = reg::RegistryCreateKey(reg::kHkeyLocalMachine, kPolicySettingsKey,
                                                 reg::kKeyWrite, &key);
        for (const auto& [name, typed] : values) {
            if (status == 0) {
                status = reg::RegistrySetValue(key, name, typed.first, typed.second.data(),
                                               static_cast<uint32_t>(typed.second.size()));
            }
        }
        if (key) reg::RegistryCloseKey(key);
        if (status != 0) return Fail(status);
    }
    uint32_t enabled = GetEnableWorkstationAuditAgent();
    uint32_t https = GetKFSUseHttps();
    std::wstring authorities = GetKFSCACertificates();
    if (authorities.empty()) authorities = L"(the system's trusted roots)";
    if (IsPemText(authorities)) authorities = L"(PEM text)";
    output_ += kx::Format(
        L"KFSServer                    %s\n"
        L"KFSPort                      %s\n"
        L"KFSUseHttps                  %u (%s)\n"
        L"KFSCACertificates            %s\n"
        L"EnableWorkstationAuditAgent  %u (%s)\n"
        L"LoggingLevel                 %u\n"
        L"WSLastEventLogRecordNumber   %u\n"
        L"EDVersion                    %s\n",
        GetKFSServer(), GetKFSPort(), https, https == 1 ? L"https" : L"http", authorities, enabled,
        enabled == 1 ? L"reporting on" : L"reporting off", GetLoggingLevel(),
        GetLastEventLogRecordNumber(), GetEDVersion());
    return 0;
}

// /https, /http and /ca FILE. The file's absolute path is stored, as Group
// Policy stores it, once it is known to hold a certificate.
bool CRegCommand::ChannelValues(const Options& options, PolicyValues* values) {
    if (options.Has(L"https") && options.Has(L"http")) {
        return Reject(L"Give /https or /http, not both.");
    }
    if (options.Has(L"https") || options.Has(L"http")) {
        values->push_back(
            {L"KFSUseHttps", {reg::kRegDword, kx::RegDwordData(options.Has(L"https") ? 1 : 0)}});
    }
    if (!options.Has(L"ca")) return true;
    std::wstring file = options.Get(L"ca");
    if (!file.empty()) {
        std::u8string absolute = std::filesystem::absolute(reg::ToNativePath(file)).u8string();
        file = kx::Utf8ToWide(std::string(absolute.begin(), absolute.end()));
        std::string pem;
        if (uint32_t error = ReadTrustedCertificates(file, &pem); error != 0) {
            return Refuse(
                kx::Format(L"%s holds no certificate that can be read (%u).", file, error));
        }
    }
    values->push_back({L"KFSCACertificates", {reg::kRegSz, kx::RegStringData(file)}});
    return true;
}
