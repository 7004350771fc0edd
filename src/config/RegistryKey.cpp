#include "config/RegistryKey.h"

#include "common/RegFile.h"
#include "common/Text.h"

namespace reg = kx::platform;

namespace {

constexpr uint32_t kCreateAccess = reg::kKeyWrite;  // creation never asks for a view

}  // namespace

CRegistryKey::CRegistryKey()
    : lastStatus_(0), root_(reg::kHkeyCurrentUser), lazyWrite_(1), wow64View_(0), remote_(0) {}

CRegistryKey::~CRegistryKey() {
    Close();
}

int CRegistryKey::SetRoot(reg::RegistryKeyHandle root) {
    if (root != reg::kHkeyClassesRoot && root != reg::kHkeyCurrentUser &&
        root != reg::kHkeyLocalMachine && root != reg::kHkeyUsers) {
        return 0;
    }
    // A remote root given up here would otherwise stay open.
    if (remote_) {
        reg::RegistryCloseKey(root_);
        remote_ = 0;
    }
    root_ = root;
    return 1;
}

int CRegistryKey::Connect(const std::wstring& machine, reg::RegistryKeyHandle root) {
    reg::RegistryKeyHandle connected = 0;
    if (reg::RegistryConnect(machine, root, &connected) != 0) return 0;
    if (remote_) reg::RegistryCloseKey(root_);
    root_ = connected;
    remote_ = 1;
    return 1;
}

void CRegistryKey::UseWow64View() {
    wow64View_ = 1;
}

uint32_t CRegistryKey::Access(uint32_t rights) const {
    return wow64View_ ? rights | reg::kKeyWow64_64Key : rights;
}

bool CRegistryKey::OpenSubkey(uint32_t rights, reg::RegistryKeyHandle* key) {
    return reg::RegistryOpenKey(root_, subkey_, Access(rights), key) == 0;
}

bool CRegistryKey::Open(const std::wstring& subkey, bool create) {
    if (subkey.empty()) {
        subkey_.clear();
        return true;
    }
    reg::RegistryKeyHandle key = 0;
    bool opened = create && reg::RegistryCreateKey(root_, subkey, kCreateAccess, &key) == 0;
    if (!opened) {
        // Without the right to create (or write), an existing key still serves reads.
        lastStatus_ =
            static_cast<int32_t>(reg::RegistryOpenKey(root_, subkey, Access(reg::kKeyRead), &key));
        if (lastStatus_ != 0) return false;
    }
    subkey_ = subkey;
    reg::RegistryCloseKey(key);
    return true;
}

uint32_t CRegistryKey::GetValueType(const std::wstring& name) {
    reg::RegistryKeyHandle key = 0;
    lastStatus_ = static_cast<int32_t>(
        reg::RegistryOpenKey(root_, subkey_, Access(reg::kKeyQueryValue), &key));
    if (lastStatus_ != 0) return 0;
    uint32_t type = 0;
    lastStatus_ = static_cast<int32_t>(reg::RegistryQueryValue(key, name, &type, nullptr, nullptr));
    reg::RegistryCloseKey(key);
    return lastStatus_ == 0 ? type : 0;
}

uint32_t CRegistryKey::ReadDword(const std::wstring& name, uint32_t defaultValue) {
    reg::RegistryKeyHandle key = 0;
    if (!OpenSubkey(reg::kKeyRead, &key)) return defaultValue;
    unsigned char bytes[4] = {0, 0, 0, 0};
    uint32_t size = sizeof bytes;
    uint32_t status = reg::RegistryQueryValue(key, name, nullptr, bytes, &size);
    reg::RegistryCloseKey(key);
    if (status != 0) return defaultValue;
    // The raw bytes, whatever the value's type: a string "1" gives 49.
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::wstring CRegistryKey::ReadString(const std::wstring& name, const std::wstring& defaultValue) {
    uint32_t type = GetValueType(name);
    if (type != reg::kRegSz && type != reg::kRegExpandSz) return defaultValue;
    reg::RegistryKeyHandle key = 0;
    lastStatus_ =
        static_cast<int32_t>(reg::RegistryOpenKey(root_, subkey_, Access(reg::kKeyRead), &key));
    if (lastStatus_ != 0) return defaultValue;
    uint32_t size = 0;
    reg::RegistryQueryValue(key, name, nullptr, nullptr, &size);
    // One character more than stored, so that a value written without its
    // terminating NUL still ends.
    std::string bytes(static_cast<std::size_t>(size) + 2, '\0');
    uint32_t received = static_cast<uint32_t>(bytes.size());
    lastStatus_ =
        static_cast<int32_t>(reg::RegistryQueryValue(key, name, nullptr, bytes.data(), &received));
    reg::RegistryCloseKey(key);
    if (lastStatus_ != 0) return defaultValue;
    std::wstring text = kx::Utf16LEToWide(bytes.data(), received);
    return text.substr(0, text.find(L'\0'));
}

int CRegistryKey::EnumSubkeys(std::vector<std::wstring>* names) {
    reg::RegistryKeyHandle key = 0;
    if (!OpenSubkey(reg::kKeyRead, &key)) return -1;
    reg::RegistryKeyInfo info;
    if (reg::RegistryQueryInfoKey(key, &info) != 0) {
        reg::RegistryCloseKey(key);
        return 0;
    }
    std::vector<wchar_t> buffer(info.maxSubkeyLength + 1);
    for (uint32_t index = 0; index < info.subkeyCount; ++index) {
        uint32_t status =
            reg::RegistryEnumKey(key, index, buffer.data(), static_cast<uint32_t>(buffer.size()));
        if (status == reg::kRegistryNoMoreItems) break;  // removed meanwhile
        if (status == 0) names->push_back(buffer.data());
    }
    reg::RegistryCloseKey(key);
    return static_cast<int>(info.subkeyCount);
}

bool CRegistryKey::WriteDword(const std::wstring& name, uint32_t value) {
    reg::RegistryKeyHandle key = 0;
    if (!OpenSubkey(reg::kKeyWrite, &key)) return false;
    std::string data = kx::RegDwordData(value);
    bool written = reg::RegistrySetValue(key, name, reg::kRegDword, data.data(), 4) == 0;
    reg::RegistryCloseKey(key);
    return written;
}

bool CRegistryKey::WriteString(const std::wstring& name, const std::wstring& value) {
    reg::RegistryKeyHandle key = 0;
    if (!OpenSubkey(reg::kKeyWrite, &key)) return false;
    // (length + 1) x 2 bytes: the terminating NUL is stored.
    std::string data = kx::RegStringData(value);
    bool written = reg::RegistrySetValue(key, name, reg::kRegSz, data.data(),
                                         static_cast<uint32_t>(data.size())) == 0;
    reg::RegistryCloseKey(key);
    return written;
}

void CRegistryKey::Close() {
    if (remote_) reg::RegistryCloseKey(root_);
    root_ = reg::kHkeyCurrentUser;
    lazyWrite_ = 1;
    remote_ = 0;
}
