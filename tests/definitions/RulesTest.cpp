// String rules, property rules without directory lookups, and the choice of
// the definition that selects a record.
#include <gtest/gtest.h>

#include <string>

#include "FakeDirectory.h"
#include "RecordEntry.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "definitions/XMLEventDefinition.h"

namespace {

bool Match(const wchar_t* pattern, const wchar_t* text) {
    return CXMLEventDefinitionString::MatchStringRule(pattern, text);
}

TEST(StringRuleTest, AnyAlternativeAgainstAnyItemIgnoringCase) {
    EXPECT_TRUE(Match(L"(contains)admin|(!contains)svc", L"Administrator"));
    EXPECT_TRUE(Match(L"(!contains)svc", L"Administrator"));
    EXPECT_FALSE(Match(L"(!contains)ADMIN", L"Administrator"));
    EXPECT_TRUE(Match(L"ALICE", L"  alice  "));
    EXPECT_FALSE(Match(L"alic", L"alice"));
}

TEST(StringRuleTest, OnlyBarsTabsAndLineBreaksSeparateItems) {
    EXPECT_FALSE(Match(L"a|b", L"x, b"));
    EXPECT_TRUE(Match(L"a|b", L"x|b"));
    EXPECT_TRUE(Match(L"bob", L"alice\nbob"));
    EXPECT_TRUE(Match(L"bob", L"alice\r\n\tbob"));
    EXPECT_TRUE(Match(L"||bob||", L"alice|||bob"));
    EXPECT_FALSE(Match(L"", L"alice"));
    EXPECT_FALSE(Match(L"|", L""));
}

TEST(StringRuleTest, OtherOperatorsAreComparedWholeParenthesesIncluded) {
    EXPECT_TRUE(Match(L"(startswith)adm", L"(STARTSWITH)ADM"));
    EXPECT_FALSE(Match(L"(startswith)adm", L"admin"));
    EXPECT_TRUE(Match(L"(contains", L"(contains"));  // no closing parenthesis
    EXPECT_FALSE(Match(L"(contains", L"contains"));
}

class RulesTest : public ::testing::Test {
protected:
    CXMLEventDefinition& Definition(int32_t code = 4720) {
        definitions_.push_back(std::make_unique<CXMLEventDefinition>());
        CXMLEventDefinition& definition = *definitions_.back();
        definition.EventCode = code;
        definition.EventTypeID = kx::eventlog::kEventTypeAuditSuccess;
        definition.EventSource = L"microsoft-windows-security-auditing";
        definition.LogName = L"SECURITY";
        definition.IsEnabled = 1;
        definition.IsIncluded = 1;
        return definition;
    }
    static void StringRule(CXMLEventDefinition& definition, int32_t number,
                           const wchar_t* pattern) {
        CXMLEventDefinitionString& rule = definition.AddStringRule();
        rule.StringNumber = number;
        rule.StringValue = pattern;
    }
    std::vector<std::wstring> Evaluate(const wchar_t* type, const wchar_t* value,
                                       std::vector<std::wstring> strings, uint8_t store = 1,
                                       const wchar_t* code = L"TARGET") {
        CXMLEventDefinitionProperty rule;
        rule.PropertyType = type;
        rule.PropertyValue = value;
        rule.PropertyCode = code;
        rule.StoreInDatabase = store;
        rule.Evaluate(records_.Make(4720, std::move(strings)));
        return rule.Results;
    }

    std::wstring Path(const std::wstring& dn) {
        return L"LDAP://" + records_.Computer() + L"/" + dn;
    }

    CFakeDirectory directory_;  // installed before the lookups that use it
    CRecordEntry records_;
    std::vector<std::unique_ptr<CXMLEventDefinition>> definitions_;
};

using Results = std::vector<std::wstring>;

TEST_F(RulesTest, StringRuleBeyondTheRecordsStringsOrBelowOneIsSkipped) {
    CXMLEventDefinition& definition = Definition();
    StringRule(definition, 3, L"never");
    StringRule(definition, 0, L"never");
    StringRule(definition, -2, L"never");
    EXPECT_TRUE(definition.PassesStringRules(records_.Make(4720, {L"a", L"b"})));
    StringRule(definition, 2, L"b");
    EXPECT_TRUE(definition.PassesStringRules(records_.Make(4720, {L"a", L"b"})));
}

TEST_F(RulesTest, FirstFailingStringRuleRejectsTheDefinition) {
    CXMLEventDefinition& definition = Definition();
    StringRule(definition, 1, L"x");
    StringRule(definition, 2, L"b");
    EXPECT_FALSE(definition.PassesStringRules(records_.Make(4720, {L"a", L"b"})));
}

TEST_F(RulesTest, StringRulesTestTheExpandedString) {
    CXMLEventDefinition& definition = Definition();
    StringRule(definition, 1, L"(contains)nt authority\\system");
    EXPECT_TRUE(definition.PassesStringRules(records_.Make(4720, {L"%{S-1-5-18}"})));
}

TEST_F(RulesTest, FirstSelectingDefinitionWinsAndDisabledOrExcludedOnesArePassedOver) {
    CWorkstationEventDefinitions set(CWorkstationEventDefinitions::kWithoutRefresh);
    set.LoadFromXml(
        L"<Korvex><Success>true</Success><EventDefinitions>"
        L"<EventDefinition><EventDefinitionCode>A</EventDefinitionCode><LogName>Security"
        L"</LogName><EventSource>Microsoft-Windows-Security-Auditing</EventSource><EventTypeID>8"
        L"</EventTypeID><EventCode>4720</EventCode><IsIncluded>true</IsIncluded><IsEnabled>false"
        L"</IsEnabled></EventDefinition>"
        L"<EventDefinition><EventDefinitionCode>B</EventDefinitionCode><LogName>Security"
        L"</LogName><EventSource>Microsoft-Windows-Security-Auditing</EventSource><EventTypeID>8"
        L"</EventTypeID><EventCode>4720</EventCode><IsIncluded>false</IsIncluded><IsEnabled>true"
        L"</IsEnabled></EventDefinition>"
        L"<EventDefinition><EventDefinitionCode>C</EventDefinitionCode><LogName>Security"
        L"</LogName><EventSource>Microsoft-Windows-Security-Auditing</EventSource><EventTypeID>8"
        L"</EventTypeID><EventCode>4720</EventCode><IsIncluded>true</IsIncluded><IsEnabled>true"
        L"</IsEnabled></EventDefinition>"
        L"<EventDefinition><EventDefinitionCode>D</EventDefinitionCode><LogName>Security"
        L"</LogName><EventSource>Microsoft-Windows-Security-Auditing</EventSource><EventTypeID>8"
        L"</EventTypeID><EventCode>4720</EventCode><IsIncluded>true</IsIncluded><IsEnabled>true"
        L"</IsEnabled></EventDefinition></EventDefinitions></Korvex>");
    ASSERT_EQ(set.GetDefinitions().size(), 4u);
    const CXMLEventDefinition* found = set.FindDefinition(&records_.Make(4720, {}));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->EventDefinitionCode, L"C");
    EXPECT_EQ(set.FindDefinition(&records_.Make(4721, {})), nullptr);
    EXPECT_EQ(set.FindDefinition(nullptr), nullptr);
}

TEST_F(RulesTest, EachSelectionTestMustPass) {
    CXMLEventDefinition& definition = Definition();
    EXPECT_TRUE(definition.Selects(records_.Make(4720, {})));
    EXPECT_TRUE(definition.Selects(records_.Make(0x12340000 | 4720, {})));  // low 16 bits
    // The definition's own numbers are not cut to 16 bits.
    definition.EventCode = 0x10000 + 4720;
    EXPECT_FALSE(definition.Selects(records_.Make(4720, {})));
    definition.EventCode = 4720;
    definition.EventTypeID = 0x10000 + kx::eventlog::kEventTypeAuditSuccess;
    EXPECT_FALSE(definition.Selects(records_.Make(4720, {})));
    definition.EventTypeID = kx::eventlog::kEventTypeAuditFailure;
    EXPECT_FALSE(definition.Selects(records_.Make(4720, {})));
    definition.EventTypeID = kx::eventlog::kEventTypeAuditSuccess;
    definition.LogName = L"System";
    EXPECT_FALSE(definition.Selects(records_.Make(4720, {})));
    definition.LogName = L"security";
    definition.EventSource = L"Security";
    EXPECT_FALSE(definition.Selects(records_.Make(4720, {})));
}

TEST_F(RulesTest, NormalRawStripAndOtherKinds) {
    const std::vector<std::wstring> strings = {L"  word\r\nmore text", L"%%1833 ", L" a\tb\rc "};
    EXPECT_EQ(Evaluate(L"Normal", L"1", strings), Results{L"1|TARGET|word"});
    EXPECT_EQ(Evaluate(L"normal", L"1", strings, 0), Results{L"0|TARGET|word"});
    EXPECT_EQ(Evaluate(L"Raw", L"2", strings), Results{L"1|TARGET|%1833"});
    EXPECT_EQ(Evaluate(L"Strip", L"3", strings), Results{L"1|TARGET|a b c"});
    EXPECT_EQ(Evaluate(L"Unheard", L"1", strings), Results{L"1|TARGET|word"});
}

TEST_F(RulesTest, AccountJoinsTwoStringsWithABackslash) {
    const std::vector<std::wstring> strings = {L"alice", L"CORP"};
    EXPECT_EQ(Evaluate(L"Account", L"2\\1", strings), Results{L"1|TARGET|CORP\\alice"});
    EXPECT_EQ(Evaluate(L"Account", L"2/1", strings), Results{L"1|TARGET|CORP\\alice"});
    EXPECT_EQ(Evaluate(L"Account", L"21", strings), Results{L"1|TARGET|"});
    EXPECT_EQ(Evaluate(L"Account", L"\\1", strings), Results{L"1|TARGET|"});
}

TEST_F(RulesTest, NumberOutsideTheRecordsStringsNamesAnEmptyString) {
    const std::vector<std::wstring> strings = {L"only"};
    EXPECT_EQ(Evaluate(L"Normal", L"2", strings), Results{L"1|TARGET|"});
    EXPECT_EQ(Evaluate(L"Raw", L"0", strings), Results{L"1|TARGET|"});
    EXPECT_EQ(Evaluate(L"Account", L"1\\9", strings), Results{L"1|TARGET|only\\"});
}

constexpr const wchar_t* kJaneGuid = L"{2a5d8c71-3b1e-4f6a-9d2c-8e7f6a5b4c3d}";
constexpr const wchar_t* kJane = L"CN=Jane,OU=Sales,DC=example,DC=test";
constexpr const wchar_t* kSales = L"OU=Sales,DC=example,DC=test";

TEST_F(RulesTest, SpecialBeforeAndAfterAddNothingOtherCodesListTheTabbedPieces) {
    EXPECT_TRUE(Evaluate(L"Special", L"1", {L"x"}, 1, L"Before").empty());
    EXPECT_TRUE(Evaluate(L"Special", L"1", {L"x"}, 1, L"after").empty());
    EXPECT_EQ(Evaluate(L"Special", L"1", {L"a\tb\t\tb"}, 0, L"PRIV"),
              (Results{L"1|PRIV|a", L"1|PRIV|b", L"1|PRIV|b"}));
}

TEST_F(RulesTest, CreatedObjectGivesItsNameClassAndParent) {
    directory_.AddRow(L"(objectCategory=user)(whencreated=20150304050607.0Z)",
                      {{L"objectGUID", kJaneGuid}, {L"distinguishedName", kJane}});
    EXPECT_EQ(Evaluate(L"Special", L"1|2", {L"user", L"DC=example,DC=test"}, 1, L"FCCO"),
              (Results{std::wstring(L"0|OBJNAME|") + kJane, L"1|OBJTYP|user",
                       std::wstring(L"1|ParentOU|") + kSales}));
    EXPECT_TRUE(
        Evaluate(L"Special", L"1|2", {L"group", L"DC=example,DC=test"}, 1, L"FCCO").empty());
}

// Not the exact upper-case "FC": a search among the deleted objects.
TEST_F(RulesTest, LowerCaseFccoSearchesForADeletedObject) {
    directory_.AddObject(Path(L"RootDSE"), {{L"defaultNamingContext", L"DC=example,DC=test"}});
    directory_.AddRow(L"(objectclass=user)(whenchanged=20150304050607.0Z)",
                      {{L"objectGUID", kJaneGuid},
                       {L"distinguishedName",
                        L"CN=Jane\\0ADEL:2a5d8c71-3b1e-4f6a-9d2c-8e7f6a5b4c3d,CN=Deleted "
                        L"Objects,DC=example,DC=test"}});
    EXPECT_EQ(Evaluate(L"Special", L"1|2", {L"user", L"DC=example,DC=test"}, 1, L"fcco"),
              (Results{L"0|OBJNAME|CN=Jane", L"1|OBJTYP|user"}));
    EXPECT_EQ(directory_.Count(L"search (&(objectCategory=user)(whencreated="), 0);
}

TEST_F(RulesTest, CreatedGroupPolicyObjectGivesItsDisplayName) {
    const std::wstring gpo =
        L"CN={5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10},CN=Policies,CN=System,"
        L"DC=example,DC=test";
    directory_.AddRow(L"(objectCategory=groupPolicyContainer)(whencreated=",
                      {{L"objectGUID", kJaneGuid}, {L"distinguishedName", gpo}});
    directory_.AddObject(Path(gpo), {{L"displayName", L"Audit Workstations"},
                                     {L"name", L"{5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}"}});
    EXPECT_EQ(
        Evaluate(L"Special", L"1|2", {L"groupPolicyContainer", L"DC=example,DC=test"}, 1, L"FCGPO"),
        (Results{L"0|GPONAME|Audit Workstations {5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}",
                 L"1|OBJNAME|" + gpo, L"1|OBJTYP|groupPolicyContainer",
                 L"1|ParentOU|CN=Policies,CN=System,DC=example,DC=test"}));
    EXPECT_EQ(Evaluate(L"Special", L"1", {gpo}, 1, L"GPONAME"),
              (Results{L"1|OBJNAME|" + gpo,
                       L"0|GPONAME|Audit Workstations {5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}"}));
}

TEST_F(RulesTest, ParentOfASidAGuidAndADistinguishedName) {
    directory_.AddCrackedName(L"S-1-5-21-1-2-3-1102", kJane);
    EXPECT_EQ(Evaluate(L"Special", L"1", {L"%{S-1-5-21-1-2-3-1102}"}, 0, L"ParentOU:SID"),
              (Results{std::wstring(L"1|ParentOU|") + kSales}));
    EXPECT_TRUE(Evaluate(L"Special", L"1", {L"%{S-1-5-21-1-2-3-9}"}, 0, L"ParentOU:SID").empty());
    EXPECT_EQ(Evaluate(L"Special", L"1", {kJane}, 0, L"parentou:dn"),
              (Results{std::wstring(L"1|ParentOU|") + kSales}));
    // A GUID the directory does not know comes back as itself: nothing.
    EXPECT_TRUE(Evaluate(L"Special", L"1", {L"%{6c0b3d2e-1f4a-4b5c-8d9e-0a1b2c3d4e5f}"}, 0,
                         L"ParentOU:GUID")
                    .empty());
}

TEST(CleanValueTest, TrimsAndKeepsTheFirstLine) {
    EXPECT_EQ(CXMLEventDefinitionProperty::CleanValue(L"  word \r\n more"), L"word");
    EXPECT_EQ(CXMLEventDefinitionProperty::CleanValue(L"\n\nx"), L"x");  // trimmed first
    EXPECT_EQ(CXMLEventDefinitionProperty::CleanValue(L" a \n b"), L"a");
    EXPECT_EQ(CXMLEventDefinitionProperty::CleanValue(L" a b "), L"a b");
}

}  // namespace
