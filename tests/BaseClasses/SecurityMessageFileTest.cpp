// The project's own Security message file, registered for the auditing
// publisher as an installer registers it, over records that carry the
// insertion strings of the recorded logs (tests/data/evtx): each field's
// value lands under its own label and parameter references read as text.

#include <gtest/gtest.h>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/LookupCache.h"
#include "MessageSources.h"
#include "common/Text.h"

namespace {

constexpr const wchar_t* kAuditing = L"Microsoft-Windows-Security-Auditing";

// The 4720 of "acct_lifecycle_hidden_user.evtx".
const std::vector<std::wstring> kCreatedAccount = {
    L"3teamssixf$",
    L"FS03VULN",
    L"S-1-5-21-2721507831-1374043488-2540227515-1008",
    L"S-1-5-21-4230534742-2542757381-3142984815-1111",
    L"admmig",
    L"OFFSEC",
    L"0x0000000014f509e2",
    L"-",
    L"3teamssixf$",
    L"%%1793",
    L"-",
    L"%%1793",
    L"%%1793",
    L"%%1793",
    L"%%1793",
    L"%%1793",
    L"%%1794",
    L"%%1794",
    L"513",
    L"-",
    L"0x0",
    L"0x15",
    L"\r\n\t\t%%2080\r\n\t\t%%2082\r\n\t\t%%2084",
    L"%%1793",
    L"-",
    L"%%1797"};

// The first 5136 of "user_changed_spn_4738_5136.evtx".
const std::vector<std::wstring> kModifiedObject = {
    L"{52BFBF59-4CF4-4D5E-98D1-09D1EBE12FDE}",
    L"-",
    L"S-1-5-21-4230534742-2542757381-3142984815-1158",
    L"lambda-user",
    L"OFFSEC",
    L"0x0000000006529663",
    L"offsec.lan",
    L"%%14676",
    L"CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY,DC=offsec,DC=lan",
    L"{259162F1-58E4-4EE9-9B9C-2BAF2A03D376}",
    L"user",
    L"servicePrincipalName",
    L"2.5.5.12",
    L"HTTP/HACK-ME-PC.offsec.lan",
    L"%%14674"};

class SecurityMessageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring file = sources_.Install(L"KXSecurityMessages.dll");
        sources_.RegisterPublisher(kAuditing, L"MessageFileName", file);
        sources_.RegisterPublisher(kAuditing, L"ParameterFileName", file);
    }

    std::wstring MessageOf(uint32_t eventId, const std::vector<std::wstring>& strings) {
        EventLogRecordFields fields;
        fields.eventId = eventId;
        fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
        fields.sourceName = kAuditing;
        fields.computerName = cache_.LocalComputerName();
        fields.strings = strings;
        record_ = BuildEventLogRecord(fields);
        CEventLogEntry entry(cache_.LocalComputerName(), L"offsec.lan", L"Security", record_.data(),
                             false, cache_);
        return entry.GetMessageText();
    }

    // The text after a label up to the end of its line.
    static std::wstring ValueAfter(const std::wstring& text, const std::wstring& label) {
        std::size_t at = text.find(label);
        if (at == std::wstring::npos) return L"(no " + label + L")";
        at = text.find_first_not_of(L'\t', at + label.size());
        return text.substr(at, text.find(L"\r\n", at) - at);
    }

    CMessageSources sources_;
    CLookupCache cache_;
    std::vector<uint8_t> record_;
};

TEST_F(SecurityMessageFileTest, ACreatedAccountNamesTheNewAccountAndWhoCreatedIt) {
    const std::wstring text = MessageOf(4720, kCreatedAccount);
    SCOPED_TRACE(kx::WideToUtf8(text));
    EXPECT_EQ(text.find(L"cannot be found"), std::wstring::npos);
    EXPECT_EQ(text.rfind(L"A user account was created.\r\n", 0), 0u);
    const std::wstring actor = text.substr(0, text.find(L"New account:"));
    const std::wstring created = text.substr(text.find(L"New account:"));
    EXPECT_EQ(ValueAfter(actor, L"Account Name:"), L"admmig");
    EXPECT_EQ(ValueAfter(actor, L"Account Domain:"), L"OFFSEC");
    EXPECT_EQ(ValueAfter(actor, L"Logon ID:"), L"0x0000000014f509e2");
    EXPECT_EQ(ValueAfter(created, L"Account Name:"), L"3teamssixf$");
    EXPECT_EQ(ValueAfter(created, L"Security ID:"),
              L"S-1-5-21-2721507831-1374043488-2540227515-1008");
    EXPECT_EQ(ValueAfter(created, L"Primary Group ID:"), L"513");
    EXPECT_EQ(ValueAfter(created, L"New UAC Value:"), L"0x15");
    // Parameter references of single values and of a multi-valued field.
    EXPECT_EQ(ValueAfter(created, L"Display Name:"), L"<not set>");
    EXPECT_EQ(ValueAfter(created, L"Account Expires:"), L"<never>");
    EXPECT_NE(text.find(L"\t\tAccount disabled: switched on\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\t\tNormal account: switched on\r\n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"%%"), std::wstring::npos);
}

TEST_F(SecurityMessageFileTest, AModifiedObjectNamesTheAttributeItsValueAndTheOperation) {
    const std::wstring text = MessageOf(5136, kModifiedObject);
    SCOPED_TRACE(kx::WideToUtf8(text));
    EXPECT_EQ(text.find(L"cannot be found"), std::wstring::npos);
    EXPECT_EQ(text.rfind(L"A directory service object was modified.\r\n", 0), 0u);
    EXPECT_EQ(ValueAfter(text, L"Account Name:"), L"lambda-user");
    EXPECT_EQ(ValueAfter(text, L"DN:"),
              L"CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY,DC=offsec,DC=lan");
    EXPECT_EQ(ValueAfter(text, L"Class:"), L"user");
    EXPECT_EQ(ValueAfter(text, L"LDAP Display Name:"), L"servicePrincipalName");
    EXPECT_EQ(ValueAfter(text, L"Value:"), L"HTTP/HACK-ME-PC.offsec.lan");
    EXPECT_EQ(ValueAfter(text, L"Type:"), L"Active Directory Domain Services");
    const std::wstring operation = text.substr(text.find(L"Operation:"));
    EXPECT_EQ(ValueAfter(operation, L"Type:"), L"Value added");
    EXPECT_EQ(ValueAfter(text, L"Operation ID:"), L"{52BFBF59-4CF4-4D5E-98D1-09D1EBE12FDE}");
}

TEST_F(SecurityMessageFileTest, AnEventTheFileDoesNotKnowStillGetsTheDescriptionText) {
    const std::wstring text = MessageOf(4624, {L"S-1-0-0", L"-"});
    EXPECT_EQ(text.rfind(L"The description for Event ID ( 4624 ) in Source ( "
                         L"Microsoft-Windows-Security-Auditing ) cannot be found.",
                         0),
              0u);
}

}  // namespace
