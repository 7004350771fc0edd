// A Linux domain member names its domain's SIDs, and the SIDs of its
// domain's accounts, through the directory that the machine registry names
// for the local computer (the Samba domain controller of the fixture).

#include <gtest/gtest.h>

#include "RegistrySandbox.h"
#include "SambaFacts.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "platform/Accounts.h"
#include "platform/ComputerName.h"

namespace {

using namespace kx::platform;

constexpr wchar_t kServers[] = L"SOFTWARE\\Brenwick Corporation\\Korvex\\Directory\\Servers\\";

void BecomeMember(const CSambaFacts& facts) {
    CRegistryKey key;
    key.SetRoot(kHkeyLocalMachine);
    ASSERT_TRUE(key.Open(kServers + GetLocalComputerName(), true));
    key.WriteString(L"Uri", facts["uri"]);
    key.WriteString(L"Authentication", L"Simple");
    key.WriteString(L"User", facts["user"]);
    key.WriteString(L"PasswordFile", facts["passwordFile"]);
}

SidBytes Sid(const std::wstring& text) {
    SidBytes sid;
    EXPECT_EQ(ConvertStringToSid(text, sid), 0u) << kx::WideToUtf8(text);
    return sid;
}

TEST(DomainAccountsTest, TheDirectoryOfTheLocalComputerNamesTheDomainsAccounts) {
    const CSambaFacts facts;
    if (!facts.Available()) GTEST_SKIP() << CSambaFacts::kNotAvailable;
    const CRegistrySandbox registry;
    const SidBytes jane = Sid(facts["jane.sid"]);
    AccountName account;
    EXPECT_EQ(LookupAccountBySid(L"", jane, account), kErrorNoneMapped)
        << "a machine that names no directory for itself asks none";

    BecomeMember(facts);
    ASSERT_EQ(LookupAccountBySid(L"", jane, account), 0u);
    EXPECT_EQ(account.domain, L"EXAMPLE");
    EXPECT_EQ(account.name, L"jane");
    EXPECT_EQ(account.use, SidUse::User);
    ASSERT_EQ(LookupAccountBySid(L"", Sid(facts["auditors.sid"]), account), 0u);
    EXPECT_EQ(account.name, L"auditors");
    EXPECT_EQ(account.use, SidUse::Group);
    const std::wstring domainSid = facts["jane.sid"].substr(0, facts["jane.sid"].rfind(L'-'));
    EXPECT_EQ(LookupAccountBySid(L"", Sid(domainSid + L"-99999"), account), kErrorNoneMapped);

    SidBytes sid;
    for (const wchar_t* name : {L"jane", L"example\\JANE", L"EXAMPLE.test\\jane"}) {
        ASSERT_EQ(LookupAccountByName(L"", name, sid, account), 0u) << name;
        EXPECT_EQ(sid, jane);
        EXPECT_EQ(account.domain, L"EXAMPLE");
    }
    EXPECT_EQ(account.name, L"jane") << "the name as asked";
    // Another domain's name, and filter characters taken as they stand.
    for (const wchar_t* name : {L"OTHER\\jane", L"jan*", L"jane)(objectSid=*"})
        EXPECT_EQ(LookupAccountByName(L"", name, sid, account), kErrorNoneMapped) << name;
}

}  // namespace
