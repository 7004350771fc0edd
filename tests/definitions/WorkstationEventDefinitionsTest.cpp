#include <gtest/gtest.h>

#include <string>

#include "RecordEntry.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/WineDetection.h"

namespace {

// One definition as the server writes it: no white space between elements.
std::wstring Definition(int eventCode, const std::wstring& extra = L"") {
    return L"<EventDefinition><EventCode>" + std::to_wstring(eventCode) + L"</EventCode>" + extra +
           L"</EventDefinition>";
}

std::wstring Document(const std::wstring& body) {
    return L"<Response><Success>true</Success><EventDefinitions>" + body +
           L"</EventDefinitions></Response>";
}

const std::wstring kFullDefinition =
    L"<EventDefinition>"
    L"<EventDefinitionID>1001</EventDefinitionID><DefinitionName>User Account "
    L"Created</DefinitionName>"
    L"<DefinitionType>Workstation</DefinitionType><EventDefinitionCode>WS4720</EventDefinitionCode>"
    L"<ADVersion>All</ADVersion><LogName>Security</LogName>"
    L"<EventCategory>User Account "
    L"Management</EventCategory><EventCategoryID>13824</EventCategoryID>"
    L"<EventSource>Microsoft-Windows-Security-Auditing</EventSource><EventType>Audit "
    L"Success</EventType>"
    L"<EventTypeID>8</EventTypeID><EventCode>4720</EventCode><Priority>2</Priority>"
    L"<IsIncluded>true</IsIncluded><IsEnabled>TRUE</IsEnabled><IsHidden>false</IsHidden>"
    L"<FormatText>%[ACTORACCOUNT] created %[PROP:TARGET] &amp; more</FormatText>"
    L"<Strings><String><StringNumber>1</StringNumber><StringValue>(!contains)$</StringValue></"
    L"String>"
    L"<String><StringNumber>3</StringNumber><StringValue>a|b</StringValue></String></Strings>"
    L"<Properties><Property><PropertyCode>TARGET</PropertyCode><PropertyValue>2\\1</PropertyValue>"
    L"<PropertyType>Account</PropertyType><StoreInDatabase>true</StoreInDatabase></Property>"
    L"<Property><PropertyCode>FCCO</PropertyCode><PropertyValue>11|9</PropertyValue>"
    L"<PropertyType>Special</PropertyType><StoreInDatabase>false</StoreInDatabase></Property>"
    L"</Properties></EventDefinition>";

void ExpectFullDefinition(const CXMLEventDefinition& d) {
    EXPECT_EQ(d.EventDefinitionID, L"1001");
    EXPECT_EQ(d.DefinitionName, L"User Account Created");
    EXPECT_EQ(d.DefinitionType, L"Workstation");
    EXPECT_EQ(d.EventDefinitionCode, L"WS4720");
    EXPECT_EQ(d.ADVersion, L"All");
    EXPECT_EQ(d.LogName, L"Security");
    EXPECT_EQ(d.EventCategory, L"User Account Management");
    EXPECT_EQ(d.EventCategoryID, 13824);
    EXPECT_EQ(d.EventSource, L"Microsoft-Windows-Security-Auditing");
    EXPECT_EQ(d.EventType, L"Audit Success");
    EXPECT_EQ(d.EventTypeID, 8);
    EXPECT_EQ(d.EventCode, 4720);
    EXPECT_EQ(d.Priority, 2);
    EXPECT_EQ(d.IsIncluded, 1);
    EXPECT_EQ(d.IsEnabled, 1);
    EXPECT_EQ(d.IsHidden, 0);
    EXPECT_EQ(d.FormatText, L"%[ACTORACCOUNT] created %[PROP:TARGET] & more");
    ASSERT_EQ(d.StringRules.size(), 2u);
    EXPECT_EQ(d.StringRules[0]->StringNumber, 1);
    EXPECT_EQ(d.StringRules[0]->StringValue, L"(!contains)$");
    EXPECT_EQ(d.StringRules[1]->StringNumber, 3);
    EXPECT_EQ(d.StringRules[1]->StringValue, L"a|b");
    ASSERT_EQ(d.PropertyRules.size(), 2u);
    EXPECT_EQ(d.PropertyRules[0]->PropertyCode, L"TARGET");
    EXPECT_EQ(d.PropertyRules[0]->PropertyValue, L"2\\1");
    EXPECT_EQ(d.PropertyRules[0]->PropertyType, L"Account");
    EXPECT_EQ(d.PropertyRules[0]->StoreInDatabase, 1);
    EXPECT_EQ(d.PropertyRules[1]->PropertyCode, L"FCCO");
    EXPECT_EQ(d.PropertyRules[1]->PropertyValue, L"11|9");
    EXPECT_EQ(d.PropertyRules[1]->PropertyType, L"Special");
    EXPECT_EQ(d.PropertyRules[1]->StoreInDatabase, 0);
    EXPECT_TRUE(d.PropertyRules[1]->Results.empty());
}

TEST(WorkstationEventDefinitionsTest, EveryFieldAndRuleIsFilledFromItsElement) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    EXPECT_EQ(set.LoadFromXml(Document(kFullDefinition).c_str()), 0);
    ASSERT_EQ(set.GetDefinitions().size(), 1u);
    ExpectFullDefinition(*set.GetDefinitions()[0]);
    EXPECT_EQ(set.GetSuccess(), 1);
}

TEST(WorkstationEventDefinitionsTest, NamesAreMatchedInAnyLetterCaseAndWithoutPrefix) {
    // Without the entity reference, which is case-sensitive markup.
    std::wstring plain = kFullDefinition;
    plain.erase(plain.find(L" &amp; more"), 11);
    std::wstring lower = kx::ToLower(plain);
    std::wstring upper = kx::ToUpper(plain);
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(
        (L"<k:r xmlns:k=\"urn:k\">" + lower + upper +
         L"<k:EventDefinition><k:EVENTCODE>4740</k:EVENTCODE></k:EventDefinition></k:r>")
            .c_str());
    ASSERT_EQ(set.GetDefinitions().size(), 3u);
    EXPECT_EQ(set.GetDefinitions()[0]->EventCode, 4720);
    EXPECT_EQ(set.GetDefinitions()[0]->StringRules.size(), 2u);
    EXPECT_EQ(set.GetDefinitions()[0]->PropertyRules.size(), 2u);
    EXPECT_EQ(set.GetDefinitions()[1]->IsIncluded, 1);  // "TRUE" in upper case
    EXPECT_EQ(set.GetDefinitions()[1]->PropertyRules[0]->StoreInDatabase, 1);
    EXPECT_EQ(set.GetDefinitions()[2]->EventCode, 4740);
}

TEST(WorkstationEventDefinitionsTest, OnlyTheTextTrueInAnyCaseSetsAFlag) {
    const wchar_t* texts[] = {L"true", L"True", L"tRUE", L"1", L"yes", L" true", L"truee"};
    const int32_t expected[] = {1, 1, 1, 0, 0, 0, 0};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
        set.LoadFromXml(Document(L"<EventDefinition><IsEnabled>" + std::wstring(texts[i]) +
                                 L"</IsEnabled></EventDefinition>")
                            .c_str());
        ASSERT_EQ(set.GetDefinitions().size(), 1u);
        EXPECT_EQ(set.GetDefinitions()[0]->IsEnabled, expected[i]) << texts[i];
    }
}

TEST(WorkstationEventDefinitionsTest, NumbersTakeTheLeadingDigits) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(Document(L"<EventDefinition><EventCode>4720abc</EventCode>"
                             L"<Priority> -3x</Priority><EventTypeID>+16</EventTypeID>"
                             L"<EventCategoryID>abc</EventCategoryID></EventDefinition>")
                        .c_str());
    ASSERT_EQ(set.GetDefinitions().size(), 1u);
    const auto& d = *set.GetDefinitions()[0];
    EXPECT_EQ(d.EventCode, 4720);
    EXPECT_EQ(d.Priority, -3);
    EXPECT_EQ(d.EventTypeID, 16);
    EXPECT_EQ(d.EventCategoryID, 0);
}

TEST(WorkstationEventDefinitionsTest, DefinitionsKeepDocumentOrderAcrossContainers) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(
        Document(L"<A>" + Definition(4722) + L"</A><B><C>" + Definition(4720) + L"</C></B>")
            .c_str());
    ASSERT_EQ(set.GetDefinitions().size(), 2u);
    EXPECT_EQ(set.GetDefinitions()[0]->EventCode, 4722);
    EXPECT_EQ(set.GetDefinitions()[1]->EventCode, 4720);
}

TEST(WorkstationEventDefinitionsTest, SuccessAndErrorAnywhereDoNotGateTheSet) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(
        (L"<r>" + Definition(4720) + L"<Error>stale</Error><Success>false</Success></r>").c_str());
    EXPECT_EQ(set.GetDefinitions().size(), 1u);
    EXPECT_EQ(set.GetSuccess(), 0);
    EXPECT_EQ(set.GetErrorText(), L"stale");
    set.LoadFromXml((L"<r>" + Definition(4722) + L"<Success>TRUE</Success></r>").c_str());
    EXPECT_EQ(set.GetSuccess(), 1);
    // A load without Success or Error keeps both, and the version.
    set.SetVersion(L"12");
    set.LoadFromXml(L"<r><EventDefinition/></r>");
    EXPECT_EQ(set.GetSuccess(), 1);
    EXPECT_EQ(set.GetErrorText(), L"stale");
    EXPECT_EQ(set.GetVersion(), L"12");
}

TEST(WorkstationEventDefinitionsTest, PreTestComparesOnlyTheLow16Bits) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(Document(Definition(4720) + Definition(70000) + Definition(-1)).c_str());
    EXPECT_EQ(set.IsCandidateEvent(4720), 1);
    EXPECT_EQ(set.IsCandidateEvent(0xABCD0000u | 4720u), 1);
    EXPECT_EQ(set.IsCandidateEvent(4722), 0);
    // 70000 and -1 can never equal a 16-bit code.
    EXPECT_EQ(set.IsCandidateEvent(70000), 0);
    EXPECT_EQ(set.IsCandidateEvent(70000 & 0xFFFF), 0);
    EXPECT_EQ(set.IsCandidateEvent(0xFFFFFFFFu), 0);
}

TEST(WorkstationEventDefinitionsTest, SecondLoadReplacesEveryDefinition) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(Document(Definition(4720) + Definition(4722)).c_str());
    set.LoadFromXml(Document(Definition(4726)).c_str());
    ASSERT_EQ(set.GetDefinitions().size(), 1u);
    EXPECT_EQ(set.GetDefinitions()[0]->EventCode, 4726);
    EXPECT_EQ(set.IsCandidateEvent(4720), 0);
    EXPECT_EQ(set.IsCandidateEvent(4726), 1);
    EXPECT_EQ(set.LoadFromXml(nullptr), 160);
    EXPECT_TRUE(set.GetDefinitions().empty());
    EXPECT_EQ(set.IsCandidateEvent(4726), 0);
}

TEST(WorkstationEventDefinitionsTest, RepeatedFieldOverwritesAndRepeatedRuleAppends) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(
        Document(L"<EventDefinition><EventCode>4720</EventCode><EventCode>4722</EventCode>"
                 L"<StringNumber>1</StringNumber><StringValue>a</StringValue>"
                 L"<StringValue>b</StringValue><StringNumber>2</StringNumber>"
                 L"<PropertyCode>X</PropertyCode><PropertyCode>Y</PropertyCode>"
                 L"<PropertyType>Raw</PropertyType></EventDefinition>")
            .c_str());
    const auto& d = *set.GetDefinitions().at(0);
    EXPECT_EQ(d.EventCode, 4722);
    EXPECT_EQ(set.IsCandidateEvent(4720), 0);  // the overwritten code does not linger
    EXPECT_EQ(set.IsCandidateEvent(4722), 1);
    ASSERT_EQ(d.StringRules.size(), 2u);
    EXPECT_EQ(d.StringRules[0]->StringValue, L"b");
    EXPECT_EQ(d.StringRules[1]->StringValue, L"");
    ASSERT_EQ(d.PropertyRules.size(), 2u);
    EXPECT_EQ(d.PropertyRules[0]->PropertyType, L"");
    EXPECT_EQ(d.PropertyRules[1]->PropertyType, L"Raw");
}

TEST(WorkstationEventDefinitionsTest, FieldBeforeItsRecordEndsTheLoadKeepingWhatCameBefore) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    EXPECT_EQ(set.LoadFromXml(L"<r><EventCode>4720</EventCode>" + Definition(4722) + L"</r>"),
              CWorkstationEventDefinitions::kInvalidArgument);
    EXPECT_TRUE(set.GetDefinitions().empty());

    // A string value with no string rule in its own definition, even though
    // the definition before has one.
    std::wstring text =
        Document(Definition(4720, L"<StringNumber>1</StringNumber>") +
                 Definition(4722, L"<StringValue>x</StringValue>") + Definition(4726));
    EXPECT_EQ(set.LoadFromXml(text.c_str()), CWorkstationEventDefinitions::kInvalidArgument);
    ASSERT_EQ(set.GetDefinitions().size(), 2u);
    EXPECT_EQ(set.GetDefinitions()[0]->StringRules.size(), 1u);
    EXPECT_EQ(set.IsCandidateEvent(4722), 1);
    EXPECT_EQ(set.IsCandidateEvent(4726), 0);

    for (const wchar_t* field : {L"PropertyValue", L"PropertyType", L"StoreInDatabase"}) {
        std::wstring element = std::wstring(L"<") + field + L">1</" + field + L">";
        EXPECT_EQ(set.LoadFromXml(Document(Definition(4720, element)).c_str()),
                  CWorkstationEventDefinitions::kInvalidArgument)
            << field;
        EXPECT_EQ(set.GetDefinitions().size(), 1u);
    }
}

TEST(WorkstationEventDefinitionsTest, MalformedDocumentKeepsTheDefinitionsBeforeTheFault) {
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    std::wstring text = Document(Definition(4720) + L"<EventDefinition><EventCode>4722</Event" +
                                 L"Definition>" + Definition(4726));
    EXPECT_EQ(set.LoadFromXml(text.c_str()), 0);
    ASSERT_EQ(set.GetDefinitions().size(), 2u);
    EXPECT_EQ(set.IsCandidateEvent(4720), 1);
    EXPECT_EQ(set.IsCandidateEvent(4722), 1);  // its text came before the fault
    EXPECT_EQ(set.IsCandidateEvent(4726), 0);
}

// Indentation after a closing tag would otherwise overwrite the field just
// closed and append empty rules.
TEST(WorkstationEventDefinitionsTest, IndentedDocumentLoadsLikeTheCompactOne) {
    std::wstring indented = L"<r>\r\n  <Success>true</Success>\r\n  <EventDefinitions>\r\n";
    indented += L"    <EventDefinition>\r\n      <EventCode>4720</EventCode>\r\n";
    indented += L"      <FormatText>created</FormatText>\r\n      <IsEnabled>true</IsEnabled>\r\n";
    indented += L"      <StringNumber>3</StringNumber>\r\n      <StringValue>a</StringValue>\r\n";
    indented += L"      <PropertyCode>P</PropertyCode>\r\n      <StoreInDatabase/>\r\n";
    indented += L"      <PropertyType>Raw</PropertyType>\r\n    </EventDefinition>\r\n";
    indented += L"  </EventDefinitions>\r\n</r>\r\n";
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    EXPECT_EQ(set.LoadFromXml(indented.c_str()), 0);
    ASSERT_EQ(set.GetDefinitions().size(), 1u);
    const auto& d = *set.GetDefinitions()[0];
    EXPECT_EQ(d.EventCode, 4720);
    EXPECT_EQ(d.FormatText, L"created");
    EXPECT_EQ(d.IsEnabled, 1);
    ASSERT_EQ(d.StringRules.size(), 1u);
    EXPECT_EQ(d.StringRules[0]->StringValue, L"a");
    ASSERT_EQ(d.PropertyRules.size(), 1u);
    EXPECT_EQ(d.PropertyRules[0]->PropertyType, L"Raw");
    // White space inside an element is its text all the same.
    set.LoadFromXml(Document(Definition(4720, L"<FormatText>  </FormatText>")).c_str());
    EXPECT_EQ(set.GetDefinitions().at(0)->FormatText, L"  ");
}

std::wstring ReadRealisticDocument() {
    return kx::Utf8ToWide(ReadFileBytes(KX_DEFINITIONS_DOCUMENT));
}

TEST(WorkstationEventDefinitionsTest, RealisticDocumentLoadsCompletely) {
    if (kx::platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's xmllite misreads UTF-16 documents longer than 8 KB";
    std::wstring text = ReadRealisticDocument();
    ASSERT_FALSE(text.empty());
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    EXPECT_EQ(set.LoadFromXml(text.c_str()), 0);
    EXPECT_EQ(set.GetSuccess(), 1);
    ASSERT_EQ(set.GetDefinitions().size(), 25u);
    for (uint32_t code :
         {4720u, 4722u, 4723u, 4724u, 4725u, 4726u, 4738u, 4740u, 4767u, 4728u, 4729u,
          4732u, 4733u, 4756u, 4757u, 5136u, 5137u, 5139u, 5141u, 4719u, 1102u})
        EXPECT_EQ(set.IsCandidateEvent(code), 1) << code;
    EXPECT_EQ(set.IsCandidateEvent(4624), 0);
    for (const auto& definition : set.GetDefinitions()) {
        EXPECT_EQ(definition->LogName, L"Security");
        EXPECT_EQ(definition->IsEnabled, 1);
        EXPECT_EQ(definition->IsIncluded, 1);
        EXPECT_FALSE(definition->EventDefinitionCode.empty());
        EXPECT_FALSE(definition->FormatText.empty());
        EXPECT_FALSE(definition->PropertyRules.empty());
        for (const auto& rule : definition->StringRules) EXPECT_GE(rule->StringNumber, 1);
    }
    const auto& last = *set.GetDefinitions().back();
    EXPECT_EQ(last.EventCode, 1102);
    EXPECT_EQ(last.EventSource, L"Microsoft-Windows-Eventlog");
    EXPECT_EQ(last.PropertyRules.back()->StoreInDatabase, 1);
}

// The code of the realistic definition that selects a record with these
// strings, or "none".
std::wstring SelectedCode(CWorkstationEventDefinitions& set, uint32_t eventId,
                          std::vector<std::wstring> strings) {
    CRecordEntry entry;
    const CXMLEventDefinition* found = set.FindDefinition(&entry.Make(eventId, std::move(strings)));
    return found ? found->EventDefinitionCode : L"none";
}

// The string rules are written for what the agent sees: Windows expands
// "%%n" through the source's parameter file before a rule tests it, a
// machine without that file leaves the reference as it stands.
TEST(WorkstationEventDefinitionsTest, RealisticStringRulesSeeExpandedAndUnexpandedTexts) {
    if (kx::platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's xmllite misreads UTF-16 documents longer than 8 KB";
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    ASSERT_EQ(set.LoadFromXml(ReadRealisticDocument()), 0);

    std::vector<std::wstring> change(27, L"-");
    change[1] = L"jane";
    change[21] = L"0x10";
    change[22] = L"0x10010";
    for (const wchar_t* preauth :
         {L"\r\n\t\t'Don't Require Preauth' - Enabled", L"\r\n\t\t%%2096"}) {
        change[23] = preauth;
        EXPECT_EQ(SelectedCode(set, 4738, change), L"WS4738P") << preauth;
    }
    change[23] = L"\r\n\t\t'Don't Require Preauth' - Disabled";
    EXPECT_EQ(SelectedCode(set, 4738, change), L"WS4738");
    change[1] = L"WS-0042$";  // computer accounts change all the time
    EXPECT_EQ(SelectedCode(set, 4738, change), L"none");

    std::vector<std::wstring> modified(15, L"-");
    modified[8] = L"CN=Jane,OU=Sales,DC=example,DC=test";
    modified[10] = L"user";
    modified[11] = L"servicePrincipalName";
    for (const wchar_t* operation : {L"Value Added", L"%%14674"}) {
        modified[14] = operation;
        EXPECT_EQ(SelectedCode(set, 5136, modified), L"WS5136SPN") << operation;
    }
    modified[11] = L"description";
    EXPECT_EQ(SelectedCode(set, 5136, modified), L"WS5136B");
    for (const wchar_t* operation : {L"Value Deleted", L"%%14675"}) {
        modified[14] = operation;
        EXPECT_EQ(SelectedCode(set, 5136, modified), L"none") << operation;
    }
}

}  // namespace

// A document is whole when its root element closes; one cut short anywhere
// before that, even inside the closing tag, is not.
TEST(WorkstationEventDefinitionsTest, OnlyADocumentWhoseRootClosesIsComplete) {
    struct Case {
        const wchar_t* text;
        bool complete;
    };
    const Case cases[] = {
        {L"<R><Success>true</Success><EventDefinitions><EventDefinition/></EventDefinitions></R>",
         true},
        {L"<?xml version=\"1.0\"?><R/>", true},
        {L"<R><Success>true</Success><EventDefinitions><EventDefinition>", false},
        {L"<R><Success>true</Success></R", false},
        {L"<R><Success>true</Success><EventSource>Microso", false},
        {L"", false},
        {L"<html><body><p>Sign in</p></body></html>", true},
    };
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    for (const Case& c : cases) {
        set.LoadFromXml(c.text);
        EXPECT_EQ(set.IsComplete(), c.complete) << kx::WideToUtf8(c.text);
    }
    // Wine's XmlLite never returns from a document cut short after an XML
    // declaration that names an encoding.
    if (kx::platform::IsRunningUnderWine()) return;
    set.LoadFromXml(
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?><R><Success>true</Success>"
        L"<E>Microso");
    EXPECT_FALSE(set.IsComplete());
}
