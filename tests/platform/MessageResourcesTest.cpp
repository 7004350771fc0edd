// The message port against the message files of tests/data/messages. The
// same expectations hold on Linux (the PE reader and formatter) and on
// Windows (LoadLibraryExW and FormatMessageW, run under Wine).

#include "platform/MessageResources.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "TempDirectory.h"
#include "TestData.h"
#include "common/Text.h"
#include "platform/Process.h"

namespace {

using kx::InsertHandling;
using kx::platform::FormatModuleMessage;
using kx::platform::LoadMessageModule;
using kx::platform::MessageModuleHandle;

struct Formatted {
    uint32_t error;
    std::wstring text;
};

class MessageResourcesTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& [name, module] : modules_) kx::platform::FreeMessageModule(module);
    }

    MessageModuleHandle Module(const std::wstring& name) {
        auto found = modules_.find(name);
        if (found != modules_.end()) return found->second;
        MessageModuleHandle module = LoadMessageModule(TestMessageFilePath(name));
        EXPECT_NE(module, nullptr) << "cannot load " << kx::WideToUtf8(name) << ", error "
                                   << kx::platform::GetLastErrorCode();
        modules_[name] = module;
        return module;
    }

    Formatted Format(const std::wstring& file, uint32_t id,
                     const std::vector<std::wstring>& inserts) {
        Formatted result{0, L""};
        result.error =
            FormatModuleMessage(Module(file), id, InsertHandling::Replace, inserts, result.text);
        return result;
    }

    Formatted FormatIgnoringInserts(const std::wstring& file, uint32_t id) {
        Formatted result{0, L""};
        result.error =
            FormatModuleMessage(Module(file), id, InsertHandling::Ignore, {}, result.text);
        return result;
    }

    std::map<std::wstring, MessageModuleHandle> modules_;
};

const std::wstring kEvents = L"kx_event_messages.dll";

TEST_F(MessageResourcesTest, InsertsReplacedInOrder) {
    Formatted result = Format(kEvents, 100, {L"one", L"two", L"three"});
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.text, L"one and two and three\r\n");
}

TEST_F(MessageResourcesTest, LogonMessageWithTwentyInserts) {
    std::vector<std::wstring> inserts;
    for (int i = 1; i <= 20; ++i) inserts.push_back(L"v" + std::to_wstring(i));
    Formatted result = Format(kEvents, 4624, inserts);
    ASSERT_EQ(result.error, 0u);
    EXPECT_EQ(result.text,
              L"An account was successfully logged on.\r\n\r\nSubject:\r\n"
              L"\tSecurity ID:\t\tv1\r\n\tAccount Name:\t\tv2\r\n\tAccount Domain:\t\tv3\r\n"
              L"\tLogon ID:\t\tv4\r\n\r\nLogon Type:\t\t\tv9\r\n\r\nNew Logon:\r\n"
              L"\tSecurity ID:\t\tv5\r\n\tAccount Name:\t\tv6\r\n\tAccount Domain:\t\tv7\r\n"
              L"\tLogon ID:\t\tv8\r\n\tLogon GUID:\t\tv13\r\n\r\nProcess Information:\r\n"
              L"\tProcess ID:\t\tv17\r\n\tProcess Name:\t\tv18\r\n\r\nNetwork Information:\r\n"
              L"\tWorkstation Name:\tv12\r\n\tSource Network Address:\tv19\r\n"
              L"\tSource Port:\t\tv20\r\n\r\nDetailed Authentication Information:\r\n"
              L"\tLogon Process:\t\tv10\r\n\tAuthentication Package:\tv11\r\n"
              L"\tTransited Services:\tv14\r\n\tPackage Name (NTLM only):\tv15\r\n"
              L"\tKey Length:\t\tv16\r\n");
}

TEST_F(MessageResourcesTest, PrintfSpecificationsReadTheInsertTexts) {
    // %1!d! and %1!X! read the number the text spells, not the text's address.
    Formatted result = Format(kEvents, 101, {L"42", L"abc", L"xyz"});
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.text, L"Count 42, hex 2A, right [  abc], left [abc  ], cut [xy]\r\n");
}

TEST_F(MessageResourcesTest, Escapes) {
    EXPECT_EQ(Format(kEvents, 102, {}).text,
              L"Percent %, break\r\nnext, tab\tstop, dot. bang! end\r\n");
    EXPECT_EQ(FormatIgnoringInserts(kEvents, 102).text,
              L"Percent %%, break\r\nnext, tab\tstop, dot%. bang%! end\r\n");
    // %0 ends the text, line end and all.
    EXPECT_EQ(Format(kEvents, 103, {}).text, L"Stops here");
    // A percent sign before a blank stands for the blank.
    EXPECT_EQ(Format(kEvents, 105, {}).text, L"Disk is 100 full\r\n");
}

TEST_F(MessageResourcesTest, InsertsBeyondTheStringsStayAsTheirReference) {
    Formatted result = Format(kEvents, 104, {L"a"});
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.text, L"First a, fifth %5, twelfth   %12.\r\n");
    EXPECT_EQ(Format(kEvents, 100, {}).text, L"%1 and %2 and %3\r\n");
}

TEST_F(MessageResourcesTest, InsertTextsAreNotFormattedAgain) {
    EXPECT_EQ(Format(kEvents, 100, {L"100%", L"%1", L"%%n"}).text, L"100% and %1 and %%n\r\n");
}

TEST_F(MessageResourcesTest, IgnoringInsertsKeepsThemAsWritten) {
    EXPECT_EQ(FormatIgnoringInserts(kEvents, 104).text,
              L"First %1, fifth %5, twelfth %12!5s!.\r\n");
    EXPECT_EQ(FormatIgnoringInserts(kEvents, 105).text, L"Disk is 100% full\r\n");
    EXPECT_EQ(FormatIgnoringInserts(kEvents, 106).text, L"%1\r\n");
    EXPECT_EQ(FormatIgnoringInserts(kEvents, 107).text, L"First line\r\nSecond line %1\r\n");
}

TEST_F(MessageResourcesTest, IdentifierIsTheFull32Bits) {
    EXPECT_EQ(Format(kEvents, 0x40001000, {L"x"}).text,
              L"Informational message with code 4096 from x.\r\n");
    EXPECT_EQ(Format(kEvents, 4096, {L"x"}).error, 317u);
    EXPECT_EQ(Format(kEvents, 99, {}).error, 317u);
}

TEST_F(MessageResourcesTest, SecondTryWithTheHighBits) {
    const std::wstring file = L"kx_retry_messages.dll";
    EXPECT_EQ(Format(file, 0x1200, {L"x"}).error, 317u);
    Formatted result = Format(file, 0x1200 | 0xB0000000, {L"x"});
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.text, L"Found on the second try: x.\r\n");
}

TEST_F(MessageResourcesTest, ParameterTexts) {
    const std::wstring file = L"kx_parameter_messages.dll";
    EXPECT_EQ(FormatIgnoringInserts(file, 1833).text, L"Yes\r\n");
    EXPECT_EQ(FormatIgnoringInserts(file, 18).text, L"Eighteen\r\n");
    // An ANSI table in the Western Windows code page.
    EXPECT_EQ(FormatIgnoringInserts(file, 1900).text, L"Caf\u00e9\r\n");
    EXPECT_EQ(FormatIgnoringInserts(file, 1834).error, 317u);
}

TEST_F(MessageResourcesTest, TwoFilesOfOneSourceHaveTheirOwnTexts) {
    EXPECT_EQ(Format(L"kx_first_messages.dll", 5000, {L"x"}).text, L"From the first file: x.\r\n");
    EXPECT_EQ(Format(L"kx_second_messages.dll", 5000, {L"x"}).text,
              L"From the second file: x.\r\n");
    EXPECT_EQ(Format(L"kx_first_messages.dll", 5001, {L"x"}).error, 317u);
    EXPECT_EQ(Format(L"kx_second_messages.dll", 5001, {L"x"}).text,
              L"Only the second file has this: x.\r\n");
}

TEST_F(MessageResourcesTest, PublisherFile) {
    EXPECT_EQ(Format(L"kx_publisher_messages.dll", 4624, {L"S-1-5-18", L"KX", L"alice"}).text,
              L"Publisher logon of KX\\alice (S-1-5-18).\r\n");
}

TEST_F(MessageResourcesTest, LanguageZeroPrefersEnglishThenTakesAny) {
    EXPECT_EQ(Format(L"kx_language_messages.dll", 1, {L"x"}).text, L"Hello x.\r\n");
    // The English table is chosen; the German-only message is not in it.
    EXPECT_EQ(Format(L"kx_language_messages.dll", 2, {}).error, 317u);
    EXPECT_EQ(Format(L"kx_german_messages.dll", 1, {L"x"}).text, L"Guten Tag, x.\r\n");
}

TEST_F(MessageResourcesTest, Pe32FileReadsAlike) {
    EXPECT_EQ(Format(L"kx_event_messages32.dll", 100, {L"a", L"b", L"c"}).text,
              L"a and b and c\r\n");
    EXPECT_EQ(Format(L"kx_event_messages32.dll", 99, {}).error, 317u);
}

TEST_F(MessageResourcesTest, ModuleWithoutMessageTable) {
    EXPECT_EQ(Format(L"kx_no_messages.dll", 1, {}).error, 1813u);
    EXPECT_EQ(kx::platform::GetLastErrorCode(), 1813u);
}

TEST(MessageModuleLoad, Failures) {
    CTempDirectory dir;
    kx::platform::SetLastErrorCode(0);
    EXPECT_EQ(LoadMessageModule(dir.Join(L"missing.dll")), nullptr);
    EXPECT_EQ(kx::platform::GetLastErrorCode(), 2u);

    WriteFileBytes(dir.Path() / "junk.dll", "MZ but not a PE image at all");
    EXPECT_EQ(LoadMessageModule(dir.Join(L"junk.dll")), nullptr);
    EXPECT_EQ(kx::platform::GetLastErrorCode(), 193u);

    EXPECT_EQ(LoadMessageModule(dir.WidePath()), nullptr);
    EXPECT_EQ(kx::platform::GetLastErrorCode(), 5u);

    EXPECT_EQ(LoadMessageModule(L""), nullptr);
    EXPECT_EQ(kx::platform::GetLastErrorCode(), 87u);
}

TEST(MessageModuleLoad, FreedModuleCanBeLoadedAgain) {
    const std::wstring path = TestMessageFilePath(L"kx_event_messages.dll");
    MessageModuleHandle first = LoadMessageModule(path);
    ASSERT_NE(first, nullptr);
    kx::platform::FreeMessageModule(first);
    MessageModuleHandle second = LoadMessageModule(path);
    ASSERT_NE(second, nullptr);
    std::wstring text;
    EXPECT_EQ(FormatModuleMessage(second, 106, InsertHandling::Replace,
                                  std::vector<std::wstring>{L"again"}, text),
              0u);
    EXPECT_EQ(text, L"again\r\n");
    kx::platform::FreeMessageModule(second);
}

}  // namespace
