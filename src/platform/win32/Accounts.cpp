#include "platform/Accounts.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

namespace kx::platform {
namespace {

constexpr std::size_t kSidHeaderBytes = 8;
constexpr uint8_t kMaxSubAuthorities = 15;

uint32_t LastError(uint32_t fallback) {
    DWORD error = GetLastError();
    return error ? error : fallback;
}

const wchar_t* SystemName(const std::wstring& computer) {
    return computer.empty() ? nullptr : computer.c_str();
}

std::wstring NamePart(const std::wstring& name) {
    std::size_t slash = name.find(L'\\');
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

}  // namespace

uint32_t ConvertStringToSid(std::wstring_view text, SidBytes& sid) {
    // Windows refuses an empty text; Wine answers it with the null SID.
    if (text.empty()) {
        SetLastError(kErrorInvalidSid);
        return kErrorInvalidSid;
    }
    const std::wstring terminated(text);
    PSID converted = nullptr;
    if (!ConvertStringSidToSidW(terminated.c_str(), &converted)) return LastError(kErrorInvalidSid);
    const uint8_t* bytes = static_cast<const uint8_t*>(converted);
    sid.assign(bytes, bytes + GetLengthSid(converted));
    LocalFree(converted);
    return 0;
}

uint32_t ConvertSidToString(const void* sid, std::size_t size, std::wstring& text) {
    // The platform trusts the SID's own count; bytes from outside are
    // checked first and handed over as an aligned copy.
    const uint8_t* bytes = static_cast<const uint8_t*>(sid);
    if (!sid || size < kSidHeaderBytes || bytes[0] != SID_REVISION ||
        bytes[1] > kMaxSubAuthorities || size < kSidHeaderBytes + 4u * bytes[1]) {
        SetLastError(kErrorInvalidSid);
        return kErrorInvalidSid;
    }
    SidBytes copy(bytes, bytes + kSidHeaderBytes + 4u * bytes[1]);
    wchar_t* converted = nullptr;
    if (!ConvertSidToStringSidW(copy.data(), &converted)) return LastError(kErrorInvalidSid);
    text = converted;
    LocalFree(converted);
    return 0;
}

uint32_t LookupAccountBySid(const std::wstring& computer, const SidBytes& sid,
                            AccountName& account) {
    if (sid.size() < kSidHeaderBytes || !IsValidSid(const_cast<uint8_t*>(sid.data())) ||
        GetLengthSid(const_cast<uint8_t*>(sid.data())) > sid.size()) {
        SetLastError(kErrorInvalidSid);
        return kErrorInvalidSid;
    }
    wchar_t name[260];
    wchar_t domain[260];
    DWORD nameLength = 260;
    DWORD domainLength = 260;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidW(SystemName(computer), const_cast<uint8_t*>(sid.data()), name,
                           &nameLength, domain, &domainLength, &use)) {
        return LastError(kErrorNoneMapped);
    }
    account.name = name;
    account.domain = domain;
    account.use = static_cast<SidUse>(use);
    return 0;
}

uint32_t LookupAccountByName(const std::wstring& computer, const std::wstring& name, SidBytes& sid,
                             AccountName& account) {
    BYTE buffer[50];
    DWORD sidLength = sizeof(buffer);
    wchar_t domain[256];
    DWORD domainLength = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountNameW(SystemName(computer), name.c_str(), buffer, &sidLength, domain,
                            &domainLength, &use)) {
        return LastError(kErrorNoneMapped);
    }
    sid.assign(buffer, buffer + GetLengthSid(buffer));
    account.domain = domain;
    account.name = NamePart(name);
    account.use = static_cast<SidUse>(use);
    return 0;
}

}  // namespace kx::platform
