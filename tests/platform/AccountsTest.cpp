// The accounts port: SID conversions and account lookups, with the same
// expectations on Linux (the project's tables) and on Windows (advapi32,
// under Wine).

#include "platform/Accounts.h"

#include <gtest/gtest.h>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"

namespace {

using kx::platform::AccountName;
using kx::platform::SidBytes;
using kx::platform::SidUse;

std::wstring RoundTrip(const std::wstring& text, uint32_t* error = nullptr) {
    SidBytes sid;
    uint32_t result = kx::platform::ConvertStringToSid(text, sid);
    if (error) *error = result;
    std::wstring back;
    if (result == 0) kx::platform::ConvertSidToString(sid.data(), sid.size(), back);
    return back;
}

TEST(SidConversion, BinaryLayout) {
    SidBytes sid;
    ASSERT_EQ(kx::platform::ConvertStringToSid(L"S-1-5-21-1004336348-512", sid), 0u);
    const SidBytes expected = {1, 3, 0,    0,    0,    0,    0,    5,    21, 0,
                               0, 0, 0xDC, 0xF4, 0xDC, 0x3B, 0x00, 0x02, 0,  0};
    EXPECT_EQ(sid, expected);
}

TEST(SidConversion, RoundTrips) {
    for (const wchar_t* text :
         {L"S-1-5-18", L"S-1-1-0", L"S-1-5-32-544", L"S-1-16-12288",
          L"S-1-5-21-1004336348-1177238915-682003330-512", L"S-1-5-4294967295",
          L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"}) {
        EXPECT_EQ(RoundTrip(text), text);
    }
    // Accepted spellings, written back in the standard form.
    EXPECT_EQ(RoundTrip(L"s-1-5-18"), L"S-1-5-18");
    EXPECT_EQ(RoundTrip(L"S-1-0x5-18"), L"S-1-5-18");
    EXPECT_EQ(RoundTrip(L"S-1-5-018"), L"S-1-5-18");
    EXPECT_EQ(RoundTrip(L"SY"), L"S-1-5-18");
    EXPECT_EQ(RoundTrip(L"BA"), L"S-1-5-32-544");
    EXPECT_EQ(RoundTrip(L"WD"), L"S-1-1-0");
}

TEST(SidConversion, MalformedStrings) {
    for (const wchar_t* text :
         {L"", L"S-", L"S-1", L"S-1-5", L"S-2-5-18", L"X-1-5-18", L"S-1-5-18x", L"S-1-5-18 ",
          L"S-1--5", L"S-1-+5-18", L"S-1-5-+18", L"S-1-5-x", L"ZZ"}) {
        uint32_t error = 0;
        RoundTrip(text, &error);
        EXPECT_EQ(error, 1337u) << kx::WideToUtf8(text);
        EXPECT_EQ(kx::platform::GetLastErrorCode(), 1337u);
    }
}

TEST(SidConversion, MalformedBinary) {
    std::wstring text = L"unchanged";
    const uint8_t revision2[] = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(kx::platform::ConvertSidToString(revision2, sizeof(revision2), text), 1337u);
    const uint8_t sixteen[8 + 64] = {1, 16, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(kx::platform::ConvertSidToString(sixteen, sizeof(sixteen), text), 1337u);
    // Two subauthorities claimed, one present: nothing past the bytes is read.
    const uint8_t cut[] = {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
    EXPECT_EQ(kx::platform::ConvertSidToString(cut, sizeof(cut), text), 1337u);
    EXPECT_EQ(kx::platform::ConvertSidToString(cut, 7, text), 1337u);
    EXPECT_EQ(kx::platform::ConvertSidToString(nullptr, 0, text), 1337u);
    EXPECT_EQ(text, L"unchanged");
    const uint8_t noSubauthority[] = {1, 0, 0, 0, 0, 0, 0, 5};
    EXPECT_EQ(kx::platform::ConvertSidToString(noSubauthority, sizeof(noSubauthority), text), 0u);
    EXPECT_EQ(text, L"S-1-5");
}

AccountName AccountOf(const std::wstring& sidText, uint32_t& error,
                      const std::wstring& computer = L"") {
    SidBytes sid;
    AccountName account;
    error = kx::platform::ConvertStringToSid(sidText, sid);
    if (error == 0) error = kx::platform::LookupAccountBySid(computer, sid, account);
    return account;
}

TEST(AccountLookup, WellKnownSids) {
    struct {
        const wchar_t* sid;
        const wchar_t* domain;
        const wchar_t* name;
        SidUse use;
    } const known[] = {
        {L"S-1-5-18", L"NT AUTHORITY", L"SYSTEM", SidUse::WellKnownGroup},
        {L"S-1-5-19", L"NT AUTHORITY", L"LOCAL SERVICE", SidUse::WellKnownGroup},
        {L"S-1-5-20", L"NT AUTHORITY", L"NETWORK SERVICE", SidUse::WellKnownGroup},
        {L"S-1-5-7", L"NT AUTHORITY", L"ANONYMOUS LOGON", SidUse::WellKnownGroup},
        {L"S-1-5-11", L"NT AUTHORITY", L"Authenticated Users", SidUse::WellKnownGroup},
        {L"S-1-5-4", L"NT AUTHORITY", L"INTERACTIVE", SidUse::WellKnownGroup},
        {L"S-1-5-2", L"NT AUTHORITY", L"NETWORK", SidUse::WellKnownGroup},
        {L"S-1-1-0", L"", L"Everyone", SidUse::WellKnownGroup},
        {L"S-1-3-0", L"", L"CREATOR OWNER", SidUse::WellKnownGroup},
        {L"S-1-5-32", L"BUILTIN", L"BUILTIN", SidUse::Domain},
        {L"S-1-5-32-544", L"BUILTIN", L"Administrators", SidUse::Alias},
        {L"S-1-5-32-545", L"BUILTIN", L"Users", SidUse::Alias},
        {L"S-1-5-32-546", L"BUILTIN", L"Guests", SidUse::Alias},
        {L"S-1-5-32-547", L"BUILTIN", L"Power Users", SidUse::Alias},
        {L"S-1-5-32-551", L"BUILTIN", L"Backup Operators", SidUse::Alias},
        {L"S-1-5-32-555", L"BUILTIN", L"Remote Desktop Users", SidUse::Alias},
    };
    for (const auto& entry : known) {
        uint32_t error = 0;
        AccountName account = AccountOf(entry.sid, error);
        SCOPED_TRACE(kx::WideToUtf8(entry.sid));
        EXPECT_EQ(error, 0u);
        EXPECT_EQ(account.domain, entry.domain);
        EXPECT_EQ(account.name, entry.name);
        EXPECT_EQ(account.use, entry.use);
    }
}

TEST(AccountLookup, UnknownSids) {
    for (const wchar_t* sid :
         {L"S-1-5-21-1-2-3-500", L"S-1-5-21-1004336348-1177238915-682003330-512", L"S-1-5-99",
          L"S-1-5-32-999"}) {
        uint32_t error = 0;
        AccountOf(sid, error);
        EXPECT_EQ(error, 1332u) << kx::WideToUtf8(sid);
        EXPECT_EQ(kx::platform::GetLastErrorCode(), 1332u);
    }
}

struct NameLookup {
    uint32_t error;
    std::wstring sid;
    AccountName account;
};

NameLookup SidOf(const std::wstring& name, const std::wstring& computer = L"") {
    NameLookup result;
    SidBytes sid;
    result.error = kx::platform::LookupAccountByName(computer, name, sid, result.account);
    if (result.error == 0) kx::platform::ConvertSidToString(sid.data(), sid.size(), result.sid);
    return result;
}

TEST(AccountLookup, NamesIgnoreCaseWithOrWithoutDomain) {
    EXPECT_EQ(SidOf(L"SYSTEM").sid, L"S-1-5-18");
    EXPECT_EQ(SidOf(L"system").sid, L"S-1-5-18");
    EXPECT_EQ(SidOf(L"NT AUTHORITY\\SYSTEM").sid, L"S-1-5-18");
    EXPECT_EQ(SidOf(L"nt authority\\system").sid, L"S-1-5-18");
    EXPECT_EQ(SidOf(L"SYSTEM").account.domain, L"NT AUTHORITY");
    EXPECT_EQ(SidOf(L"Administrators").sid, L"S-1-5-32-544");
    EXPECT_EQ(SidOf(L"BUILTIN\\Administrators").account.use, SidUse::Alias);
    EXPECT_EQ(SidOf(L"Everyone").sid, L"S-1-1-0");
    EXPECT_EQ(SidOf(L"\\Everyone").sid, L"S-1-1-0");
    EXPECT_EQ(SidOf(L"LOCAL SERVICE").sid, L"S-1-5-19");
    EXPECT_EQ(SidOf(L"network service").sid, L"S-1-5-20");
    EXPECT_EQ(SidOf(L"Authenticated Users").sid, L"S-1-5-11");
    EXPECT_EQ(SidOf(L"ANONYMOUS LOGON").sid, L"S-1-5-7");
    EXPECT_EQ(SidOf(L"Remote Desktop Users").sid, L"S-1-5-32-555");
    EXPECT_EQ(SidOf(L"BUILTIN").sid, L"S-1-5-32");
}

TEST(AccountLookup, UnknownNames) {
    for (const wchar_t* name : {L"nosuchuser", L"BUILTIN\\SYSTEM", L"NT AUTHORITY\\Administrators",
                                L"SYSTEM@NT AUTHORITY"}) {
        EXPECT_EQ(SidOf(name).error, 1332u) << kx::WideToUtf8(name);
    }
}

TEST(AccountLookup, ComputerByName) {
    const std::wstring local = kx::platform::GetLocalComputerName();
    EXPECT_EQ(SidOf(L"SYSTEM", local).sid, L"S-1-5-18");
    uint32_t error = 0;
    EXPECT_EQ(AccountOf(L"S-1-5-18", error, local).name, L"SYSTEM");
    EXPECT_EQ(error, 0u);

    EXPECT_EQ(SidOf(L"SYSTEM", L"NOSUCHPC-KX").error, 1722u);
    AccountOf(L"S-1-5-18", error, L"NOSUCHPC-KX");
    EXPECT_EQ(error, 1722u);
}

}  // namespace
