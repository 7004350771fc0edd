// Alert items built from a record and the definition that selected it: the
// fields, the placeholders of the action text, the actor overrides and the
// properties. Runs in Europe/Berlin, so local and UTC times differ.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "AlertLogTestSupport.h"
#include "FakeDirectory.h"
#include "RecordEntry.h"
#include "TempDirectory.h"
#include "definitions/XMLEventDefinition.h"
#include "platform/Process.h"

namespace {

// 2015-03-04 05:06:07 UTC, 06:06:07 in Berlin.
constexpr uint32_t kTime = 1425445567;

class AlertItemBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        definition_.EventDefinitionCode = L"WS4720";
        definition_.FormatText = L"%[PROP:TARGET] created by %[ACTORACCOUNT] on %[COMPUTERNAME]";
    }
    CXMLEventDefinitionProperty& Rule(const wchar_t* code, const wchar_t* type,
                                      const wchar_t* value, uint8_t store = 1) {
        CXMLEventDefinitionProperty& rule = definition_.AddPropertyRule();
        rule.PropertyCode = code;
        rule.PropertyType = type;
        rule.PropertyValue = value;
        rule.StoreInDatabase = store;
        return rule;
    }
    std::unique_ptr<CXMLAlertLogItem> Build(std::vector<std::wstring> strings,
                                            const std::wstring& sid = L"S-1-5-18") {
        return CXMLAlertLog::MakeAlertItem(records_.Make(4720, std::move(strings), sid, kTime),
                                           definition_);
    }
    static std::vector<std::pair<std::wstring, std::wstring>> Properties(
        const CXMLAlertLogItem& item) {
        std::vector<std::pair<std::wstring, std::wstring>> properties;
        for (const auto& property : item.Properties)
            properties.emplace_back(property->PropertyCode, property->PropertyValue);
        return properties;
    }

    CRecordEntry records_;
    CXMLEventDefinition definition_;
};

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

TEST_F(AlertItemBuildTest, FieldsComeFromTheRecordAndTheDefinition) {
    Rule(L"Target", L"Normal", L"1");
    const auto item = Build({L"alice"});
    EXPECT_EQ(item->ComputerName, records_.Computer());
    EXPECT_EQ(item->ComputerDomain, L"corp.example.test");
    EXPECT_EQ(item->AccountSID, L"S-1-5-18");
    EXPECT_EQ(item->AccountName, L"NT AUTHORITY\\SYSTEM");
    EXPECT_EQ(item->EventDefinitionCode, L"WS4720");
    EXPECT_EQ(item->ActionText, L"alice created by NT AUTHORITY\\SYSTEM on " + records_.Computer());
    EXPECT_NE(item->EventDump.find(L"alice"), std::wstring::npos);
    EXPECT_EQ(Properties(*item), (Pairs{{L"Target", L"alice"}}));
    // The UTC clock reading, shown as such by the document's local rendering.
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(item->TimeGenerated), L"2015-03-04 05:06:07");
}

TEST_F(AlertItemBuildTest, TimeGeneratedPlaceholderIsTheLocalTimeInTheCRuntimesForm) {
    definition_.FormatText = L"at %[TIMEGENERATED].";
    EXPECT_EQ(Build({})->ActionText, L"at 03/04/15 06:06:07.");
    EXPECT_EQ(CXMLAlertLog::FormatLocalTime(1721038830), L"07/15/24 12:20:30");
}

TEST_F(AlertItemBuildTest, PlaceholderNamesAreMatchedInUpperCaseOnly) {
    definition_.FormatText = L"%[PROP:Target] / %[PROP:TARGET]";
    Rule(L"tArGeT", L"Normal", L"1");
    EXPECT_EQ(Build({L"alice"})->ActionText, L"%[PROP:Target] / alice");
}

TEST_F(AlertItemBuildTest, ResultsFlaggedZeroServeThePlaceholderButAreNotProperties) {
    Rule(L"TARGET", L"Normal", L"1", 0);
    Rule(L"KEPT", L"Normal", L"2", 1);
    const auto item = Build({L"alice", L"bob"});
    EXPECT_EQ(item->ActionText.substr(0, 5), L"alice");
    EXPECT_EQ(Properties(*item), (Pairs{{L"KEPT", L"bob"}}));
}

TEST_F(AlertItemBuildTest, NewActorSidReplacesTheAccountFields) {
    Rule(L"NEWACTORSID", L"Normal", L"1", 0);
    definition_.FormatText = L"by %[ACTORACCOUNT]";
    const auto item = Build({L"S-1-5-32-544"});
    EXPECT_EQ(item->AccountSID, L"S-1-5-32-544");
    EXPECT_EQ(item->AccountName, L"BUILTIN\\Administrators");
    EXPECT_EQ(item->ActionText, L"by BUILTIN\\Administrators");
}

TEST_F(AlertItemBuildTest, NewActorAccountLooksUpItsSid) {
    Rule(L"newactoraccount", L"Normal", L"1", 0);
    const auto known = Build({L"NT AUTHORITY\\SYSTEM"}, L"S-1-5-32-544");
    EXPECT_EQ(known->AccountName, L"NT AUTHORITY\\SYSTEM");
    EXPECT_EQ(known->AccountSID, L"S-1-5-18");
    const auto unknown = Build({L"NOWHERE\\nobody"}, L"S-1-5-32-544");
    EXPECT_EQ(unknown->AccountName, L"NOWHERE\\nobody");
    EXPECT_EQ(unknown->AccountSID, L"");
}

TEST_F(AlertItemBuildTest, BarsInsideTheValueStayInTheValue) {
    Rule(L"LIST", L"Normal", L"1");
    EXPECT_EQ(Properties(*Build({L"a|b|c"})), (Pairs{{L"LIST", L"a|b|c"}}));
}

TEST_F(AlertItemBuildTest, PlaceholdersAreReplacedInOnePassSoValuesStayAsWritten) {
    Rule(L"TARGET", L"Normal", L"1");
    Rule(L"OTHER", L"Normal", L"2");
    Rule(L"NEWACTORACCOUNT", L"Normal", L"3", 0);
    definition_.FormatText =
        L"%[PROP:TARGET] | %[PROP:OTHER] | %[ACTORACCOUNT] | %[COMPUTERNAME] | %%[PROP:X]";
    const std::wstring hostile = L"%[COMPUTERNAME] %[TIMEGENERATED] %[PROP:OTHER]";
    EXPECT_EQ(Build({hostile, L"%[ACTORACCOUNT]", L"EVIL\\%[COMPUTERNAME]"})->ActionText,
              hostile + L" | %[ACTORACCOUNT] | EVIL\\%[COMPUTERNAME] | " + records_.Computer() +
                  L" | %%[PROP:X]");
}

TEST_F(AlertItemBuildTest, PlaceholderOfARuleWithoutResultStays) {
    definition_.FormatText = L"%[PROP:MISSING] left";
    EXPECT_EQ(Build({})->ActionText, L"%[PROP:MISSING] left");
}

// Names that the directory cannot give for want of memory, and a directory
// that answers with them.
class CNamesWithoutMemory : public kx::platform::IDirectoryNames {
public:
    uint32_t CrackName(kx::platform::NameFormat, kx::platform::NameFormat, const std::wstring&,
                       uint32_t&, std::wstring&) override {
        throw std::bad_alloc();
    }
    uint32_t MapSchemaGuid(const kx::platform::GuidBytes&, kx::platform::SchemaGuidType&,
                           std::wstring&) override {
        throw std::bad_alloc();
    }
};

class CDirectoryWithoutMemoryForNames : public CFakeDirectory {
public:
    uint32_t Bind(const std::wstring&,
                  std::shared_ptr<kx::platform::IDirectoryNames>& names) override {
        names = std::make_shared<CNamesWithoutMemory>();
        return 0;
    }
};

TEST_F(AlertItemBuildTest, TextsThatNoLookupCanTakeStillGiveTheAlert) {
    CDirectoryWithoutMemoryForNames directory;
    const std::wstring server = records_.Computer();
    directory.AddObject(L"LDAP://" + server + L"/RootDSE",
                        {{L"defaultNamingContext", L"DC=example,DC=test"}});
    // A former parent whose name ends inside the deletion marker.
    directory.AddRow(L"(objectGUID=",
                     {{L"distinguishedName", L"CN=Leaver\\0ADEL:06ff356c,CN=Deleted Objects,DC=x"},
                      {L"lastKnownParent", L"OU=Inner\\0AD"}});
    const std::wstring longSid = L"%{S-1-5-21-" + std::wstring(290, L'7') + L"}";
    const std::wstring guid = L"%{72EA3BB6-7116-49EA-A363-C630522C8357}";
    CXMLEventDefinitionString& rule = definition_.AddStringRule();
    rule.StringNumber = 1;
    rule.StringValue = L"(contains)s-1-5-21";
    Rule(L"SID", L"Normal", L"1");
    Rule(L"GUID", L"Normal", L"2");
    Rule(L"FDO", L"Special", L"3");
    definition_.FormatText = L"%[PROP:SID] %[PROP:GUID] %[PROP:OBJNAME]";

    CEventLogEntry& record = records_.Make(
        4662, {longSid, guid, L"%{06FF356C-8E52-4D12-A459-6D587CDCED4D}"}, L"S-1-5-18", kTime);
    EXPECT_TRUE(definition_.PassesStringRules(record));
    const auto item = CXMLAlertLog::MakeAlertItem(record, definition_);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(Properties(*item), (Pairs{{L"SID", longSid}, {L"GUID", guid}}));
    EXPECT_EQ(item->ActionText, longSid + L" " + guid + L" CN=Leaver,OU=Inner\\0AD");
    EXPECT_NE(item->EventDump.find(longSid), std::wstring::npos);
    EXPECT_EQ(item->AccountName, L"NT AUTHORITY\\SYSTEM");
}

TEST_F(AlertItemBuildTest, BuildAlertItemQueuesTheItem) {
    CTempDirectory folder;
    kx::platform::SetExecutablePathForTesting(folder.Join(L"KXWkstnSvc.exe"));
    {
        CTestAlertLog log;
        log.BuildAlertItem(records_.Make(4720, {L"alice"}, L"S-1-5-18", kTime), definition_);
        EXPECT_EQ(log.QueuedItems(), 1u);
    }
    kx::platform::SetExecutablePathForTesting(L"");
    EXPECT_EQ(CacheFilesIn(folder.Path()).size(), 1u);
}

}  // namespace
