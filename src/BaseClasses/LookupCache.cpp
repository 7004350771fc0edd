#include "BaseClasses/LookupCache.h"

#include <stdexcept>

#include "common/Format.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "platform/Accounts.h"
#include "platform/ComputerName.h"

namespace {

constexpr std::size_t kComputerNameCapacity = 260;
constexpr wchar_t kPublisherPrefix[] = L"Microsoft-Windows-";
constexpr wchar_t kPublishersPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Publishers";
constexpr wchar_t kEventLogServicePath[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s";

struct PathVariable {
    const wchar_t* name;
    const wchar_t* subkey;
    const wchar_t* value;
};

constexpr PathVariable kPathVariables[] = {
    {L"%SYSTEMROOT%", L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"SystemRoot"},
    {L"%PROGRAMFILES%", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"},
    {L"%COMMONFILES%", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir"},
};

// Publishers name their message files differently from classic sources.
std::wstring PublisherValueName(const std::wstring& valueName) {
    if (valueName == L"EventMessageFile") return L"MessageFileName";
    if (valueName == L"CategoryMessageFile") return L"ResourceFileName";
    if (valueName == L"ParameterMessageFile") return L"ParameterFileName";
    return valueName;
}

std::vector<std::wstring> SplitFileList(const std::wstring& value) {
    std::vector<std::wstring> pieces;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(L';', start);
        if (end == std::wstring::npos) end = value.size();
        if (end > start) pieces.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

void ReplaceAll(std::wstring& text, const std::wstring& what, const std::wstring& with) {
    for (std::size_t at = text.find(what); at != std::wstring::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

CLookupCache::CLookupCache()
    : localComputerName_(
          kx::platform::GetLocalComputerName().substr(0, kComputerNameCapacity - 1)) {}

CLookupCache::~CLookupCache() {
    for (auto& [key, modules] : modules_) {
        if (!modules) continue;
        for (kx::platform::MessageModuleHandle module : *modules)
            kx::platform::FreeMessageModule(module);
    }
}

bool CLookupCache::IsLocalComputer(const std::wstring& computer) const {
    return computer.empty() || kx::EqualsNoCase(computer, localComputerName_);
}

const MessageModuleList* CLookupCache::GetMessageModules(const std::wstring& computer,
                                                         const std::wstring& log,
                                                         const std::wstring& source,
                                                         const std::wstring& valueName) {
    const std::wstring key = kx::Format(L"%s/%s/%s/%s", computer, log, source, valueName);
    auto found = modules_.find(key);
    if (found == modules_.end())
        found = modules_.emplace(key, LoadMessageModules(computer, log, source, valueName)).first;
    return found->second ? &*found->second : nullptr;
}

std::optional<MessageModuleList> CLookupCache::LoadMessageModules(const std::wstring& computer,
                                                                  const std::wstring& log,
                                                                  const std::wstring& source,
                                                                  const std::wstring& valueName) {
    CRegistryKey key;
    key.UseWow64View();
    const bool local = IsLocalComputer(computer);
    const int connected = local ? key.SetRoot(kx::platform::kHkeyLocalMachine)
                                : key.Connect(computer, kx::platform::kHkeyLocalMachine);
    if (!connected) return std::nullopt;
    std::wstring subkey;
    std::wstring value;
    if (!FindMessageFileValue(key, log, source, valueName, &subkey, &value)) return std::nullopt;
    if (!key.Open(subkey, false)) return std::nullopt;
    std::vector<std::wstring> paths;
    for (const std::wstring& piece : SplitFileList(key.ReadString(value, L""))) {
        std::wstring path = ExpandPathVariable(key, piece);
        paths.push_back(local ? path : ToAdministrativeSharePath(computer, path));
    }
    if (paths.empty()) return std::nullopt;
    MessageModuleList modules;
    for (const std::wstring& path : paths) {
        if (kx::platform::MessageModuleHandle module = kx::platform::LoadMessageModule(path))
            modules.push_back(module);
    }
    return modules;
}

bool CLookupCache::FindMessageFileValue(CRegistryKey& key, const std::wstring& log,
                                        const std::wstring& source, const std::wstring& valueName,
                                        std::wstring* subkey, std::wstring* value) {
    if (source.rfind(kPublisherPrefix, 0) != 0) {
        *subkey = kx::Format(kEventLogServicePath, log, source);
        *value = valueName;
        return true;
    }
    if (publishers_.empty()) BuildPublisherMap(key);
    auto found = publishers_.find(source);
    if (found == publishers_.end()) return false;
    *subkey = found->second;
    *value = PublisherValueName(valueName);
    return true;
}

void CLookupCache::BuildPublisherMap(CRegistryKey& key) {
    if (!key.Open(kPublishersPath, false)) return;
    std::vector<std::wstring> names;
    key.EnumSubkeys(&names);
    for (const std::wstring& name : names) {
        std::wstring path = kx::Format(L"%s\\%s", kPublishersPath, name);
        if (!key.Open(path, false)) continue;
        std::wstring publisher = key.ReadString(L"", L"");
        if (!publisher.empty()) publishers_[publisher] = path;
    }
}

std::wstring CLookupCache::ExpandPathVariable(CRegistryKey& key, const std::wstring& path) {
    const std::size_t first = path.find(L'%');
    const std::size_t second = first == std::wstring::npos ? first : path.find(L'%', first + 1);
    if (second == std::wstring::npos) return path;
    const std::wstring variable = path.substr(first, second - first + 1);
    for (const PathVariable& known : kPathVariables) {
        if (!kx::EqualsNoCase(variable, known.name)) continue;
        if (!key.Open(known.subkey, false)) return path;
        const std::wstring directory = key.ReadString(known.value, L"");
        std::wstring result = path;
        if (!directory.empty()) ReplaceAll(result, variable, directory);
        return result;
    }
    return path;
}

std::wstring CLookupCache::ToAdministrativeSharePath(const std::wstring& computer,
                                                     const std::wstring& path) {
    if (path.size() < 2)
        throw std::invalid_argument("a message file path of a remote computer names no drive");
    std::wstring share = path;
    share[1] = L'$';
    return kx::Format(L"\\\\%s\\%s", computer, share);
}

std::wstring CLookupCache::GetParameterText(const std::wstring& computer, const std::wstring& log,
                                            const std::wstring& source, uint32_t number) {
    const std::wstring key = kx::Format(L"%s/%s/%s/%u", computer, log, source, number);
    if (const std::wstring* found = parameters_.Find(key)) return *found;
    std::wstring text;
    bool found = false;
    if (const MessageModuleList* modules =
            GetMessageModules(computer, log, source, L"ParameterMessageFile")) {
        for (kx::platform::MessageModuleHandle module : *modules) {
            if (kx::platform::FormatModuleMessage(module, number, kx::InsertHandling::Ignore, {},
                                                  text) == 0) {
                found = true;
                break;
            }
        }
    }
    text = found ? kx::Trim(text) : kx::Format(L"%%%%%u", number);
    parameters_.Put(key, text);
    return text;
}

std::wstring CLookupCache::GetAccountFromSid(const std::wstring& computer,
                                             const std::wstring& sidString) {
    if (const std::wstring* found = accounts_.Find(sidString)) return *found;
    std::wstring result;
    try {
        result = sidString;
        kx::platform::SidBytes sid;
        kx::platform::AccountName account;
        if (kx::platform::ConvertStringToSid(sidString, sid) == 0 &&
            kx::platform::LookupAccountBySid(computer, sid, account) == 0) {
            result = kx::Format(L"%s\\%s", account.domain, account.name);
        }
        accounts_.Put(sidString, result);
    } catch (...) {
        return sidString;  // as the record has it, asked again next time
    }
    return result;
}

std::wstring CLookupCache::GetSidFromAccount(const std::wstring& computer,
                                             const std::wstring& account) {
    if (const std::wstring* found = sids_.Find(account)) return *found;
    std::wstring result;
    try {
        kx::platform::SidBytes sid;
        kx::platform::AccountName resolved;
        if (kx::platform::LookupAccountByName(computer, account, sid, resolved) == 0)
            kx::platform::ConvertSidToString(sid.data(), sid.size(), result);
        sids_.Put(account, result);
    } catch (...) {
        return L"";
    }
    return result;
}
