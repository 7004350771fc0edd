#include "platform/posix/RegistryAccountTable.h"

#include <vector>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/Registry.h"

namespace kx::platform {
namespace {

constexpr uint32_t kNameCapacity = 256;

// A string value cut at its first NUL; empty when missing or not a string.
std::wstring ReadText(RegistryKeyHandle key, const wchar_t* name) {
    uint32_t type = 0;
    uint32_t size = 0;
    if (RegistryQueryValue(key, name, &type, nullptr, &size) != 0 || type != kRegSz) return L"";
    std::vector<uint8_t> data(size);
    if (RegistryQueryValue(key, name, &type, data.data(), &size) != 0) return L"";
    std::wstring text = Utf16LEToWide(data.data(), size);
    return text.substr(0, text.find(L'\0'));
}

uint32_t ReadUse(RegistryKeyHandle key) {
    uint32_t type = 0;
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    if (RegistryQueryValue(key, L"Use", &type, &value, &size) != 0 || type != kRegDword)
        return static_cast<uint32_t>(SidUse::User);
    return value;
}

std::vector<std::wstring> AccountKeyNames() {
    std::vector<std::wstring> names;
    RegistryKeyHandle table = 0;
    if (RegistryOpenKey(kHkeyLocalMachine, kLocalAccountsKey, kKeyRead, &table) != 0) return names;
    wchar_t name[kNameCapacity];
    for (uint32_t i = 0; RegistryEnumKey(table, i, name, kNameCapacity) == 0; ++i)
        names.emplace_back(name);
    RegistryCloseKey(table);
    return names;
}

}  // namespace

bool CRegistryAccountTable::ReadAccount(const std::wstring& sidText, LocalAccount& found) {
    RegistryKeyHandle key = 0;
    if (RegistryOpenKey(kHkeyLocalMachine, std::wstring(kLocalAccountsKey) + L"\\" + sidText,
                        kKeyRead, &key) != 0) {
        return false;
    }
    LocalAccount account;
    account.account.name = ReadText(key, L"Name");
    account.account.domain = ReadText(key, L"Domain");
    account.account.use = static_cast<SidUse>(ReadUse(key));
    RegistryCloseKey(key);
    if (account.account.domain.empty()) account.account.domain = GetLocalComputerName();
    if (account.account.name.empty() || ConvertStringToSid(sidText, account.sid) != 0) return false;
    found = std::move(account);
    return true;
}

bool CRegistryAccountTable::FindBySid(const SidBytes& sid, LocalAccount& found) const {
    std::wstring text;
    return ConvertSidToString(sid.data(), sid.size(), text) == 0 && ReadAccount(text, found);
}

bool CRegistryAccountTable::FindByName(std::wstring_view domain, std::wstring_view name,
                                       LocalAccount& found) const {
    for (const std::wstring& sidText : AccountKeyNames()) {
        LocalAccount account;
        if (!ReadAccount(sidText, account) || !EqualsNoCase(account.account.name, name)) continue;
        if (!domain.empty() && !EqualsNoCase(account.account.domain, domain)) continue;
        found = std::move(account);
        return true;
    }
    return false;
}

}  // namespace kx::platform
