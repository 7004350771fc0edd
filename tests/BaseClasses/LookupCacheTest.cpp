// The lookups behind message texts: message files found through the event
// log's source keys and the publisher keys, parameter texts, accounts, and
// the caching of every answer, failures included. The same message files on
// Linux and under Wine.

#include "BaseClasses/LookupCache.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "FailingAllocator.h"
#include "FakeDirectory.h"
#include "MessageSources.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/RegistryKey.h"

namespace {

class LookupCacheTest : public ::testing::Test {
protected:
    std::wstring Local() const { return cache_.LocalComputerName(); }

    const MessageModuleList* Modules(const std::wstring& source, const std::wstring& value) {
        return cache_.GetMessageModules(Local(), CMessageSources::kLog, source, value);
    }

    static std::wstring Format(kx::platform::MessageModuleHandle module, uint32_t id) {
        std::wstring text;
        const std::wstring inserts[] = {L"x"};
        uint32_t error = kx::platform::FormatModuleMessage(module, id, kx::InsertHandling::Replace,
                                                           inserts, text);
        return error == 0 ? text : kx::Format(L"error %u", error);
    }

    std::wstring ReadMachineValue(const std::wstring& subkey, const std::wstring& name) {
        CRegistryKey key;
        key.UseWow64View();
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        key.Open(subkey, false);
        return key.ReadString(name, L"");
    }

    CMessageSources sources_;
    CLookupCache cache_;
};

TEST_F(LookupCacheTest, ASourceListingTwoFilesGetsBothInOrder) {
    const std::wstring first = sources_.Install(L"kx_first_messages.dll");
    std::wstring second = sources_.Install(L"kx_second_messages.dll");
    second.replace(0, 12, L"%systemroot%");  // the variable in any letter case
    sources_.RegisterSource(L"TwoFiles", L"EventMessageFile", first + L";;" + second + L";");

    const MessageModuleList* modules = Modules(L"TwoFiles", L"EventMessageFile");
    ASSERT_NE(modules, nullptr);
    ASSERT_EQ(modules->size(), 2u);
    EXPECT_EQ(Format((*modules)[0], 5000), L"From the first file: x.\r\n");
    EXPECT_EQ(Format((*modules)[1], 5000), L"From the second file: x.\r\n");
    // The same question is answered from the cache with the same modules.
    EXPECT_EQ(Modules(L"TwoFiles", L"EventMessageFile"), modules);
}

TEST_F(LookupCacheTest, MissingSourcesValuesAndFilesGiveNoModules) {
    EXPECT_EQ(Modules(L"NotRegistered", L"EventMessageFile"), nullptr);
    sources_.RegisterSource(L"NoValue", L"CategoryMessageFile",
                            sources_.Install(L"kx_first_messages.dll"));
    EXPECT_EQ(Modules(L"NoValue", L"EventMessageFile"), nullptr);
    EXPECT_NE(Modules(L"NoValue", L"CategoryMessageFile"), nullptr);

    // Only the three known variables expand: %windir% stays and the file
    // does not load, which leaves a list without modules.
    sources_.RegisterSource(L"Windir", L"EventMessageFile",
                            L"%windir%\\KxLookupTests\\kx_first_messages.dll");
    const MessageModuleList* modules = Modules(L"Windir", L"EventMessageFile");
    ASSERT_NE(modules, nullptr);
    EXPECT_TRUE(modules->empty());
}

TEST_F(LookupCacheTest, FailuresAreCachedToo) {
    EXPECT_EQ(Modules(L"LateSource", L"EventMessageFile"), nullptr);
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"LateSource", 1833),
              L"%%1833");
    // Registered afterwards: this run keeps its first answer.
    sources_.RegisterSource(L"LateSource", L"EventMessageFile",
                            sources_.Install(L"kx_first_messages.dll"));
    sources_.RegisterSource(L"LateSource", L"ParameterMessageFile",
                            sources_.Install(L"kx_parameter_messages.dll"));
    EXPECT_EQ(Modules(L"LateSource", L"EventMessageFile"), nullptr);
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"LateSource", 1833),
              L"%%1833");
    // A fresh cache finds them.
    CLookupCache fresh;
    EXPECT_EQ(fresh.GetParameterText(Local(), CMessageSources::kLog, L"LateSource", 1833), L"Yes");
}

TEST_F(LookupCacheTest, ParameterTextsAreTrimmedAndUnknownOnesKeepTheirReference) {
    sources_.RegisterSource(L"Params", L"ParameterMessageFile",
                            sources_.Install(L"kx_parameter_messages.dll"));
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"Params", 1833), L"Yes");
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"Params", 1843), L"No");
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"Params", 4242), L"%%4242");
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog, L"NoParams", 1833),
              L"%%1833");
}

TEST_F(LookupCacheTest, PublishersAreFoundByTheDefaultValueOfTheirKey) {
    sources_.RegisterPublisher(L"Microsoft-Windows-KxTest-Publisher", L"MessageFileName",
                               sources_.Install(L"kx_publisher_messages.dll"));
    sources_.RegisterPublisher(L"Microsoft-Windows-KxTest-Other", L"ParameterFileName",
                               sources_.Install(L"kx_parameter_messages.dll"));

    const MessageModuleList* modules =
        Modules(L"Microsoft-Windows-KxTest-Publisher", L"EventMessageFile");
    ASSERT_NE(modules, nullptr);
    ASSERT_EQ(modules->size(), 1u);
    EXPECT_EQ(Format((*modules)[0], 8000), L"Publisher event from x on %2.\r\n");
    EXPECT_EQ(cache_.GetParameterText(Local(), CMessageSources::kLog,
                                      L"Microsoft-Windows-KxTest-Other", 1833),
              L"Yes");
    // Unregistered publishers, and the prefix in another letter case (a
    // classic source then, which is not registered either), find nothing.
    EXPECT_EQ(Modules(L"Microsoft-Windows-KxTest-Missing", L"EventMessageFile"), nullptr);
    EXPECT_EQ(Modules(L"microsoft-windows-KxTest-Publisher", L"EventMessageFile"), nullptr);
}

TEST_F(LookupCacheTest, TheLocalComputerIsRecognisedInAnyLetterCase) {
    sources_.RegisterSource(L"Cased", L"EventMessageFile",
                            sources_.Install(L"kx_first_messages.dll"));
    std::wstring lower = kx::ToLower(Local());
    const MessageModuleList* modules =
        cache_.GetMessageModules(lower, CMessageSources::kLog, L"Cased", L"EventMessageFile");
    ASSERT_NE(modules, nullptr);
    EXPECT_EQ(modules->size(), 1u);
}

TEST_F(LookupCacheTest, ARemoteComputerIsReachedThroughItsAdministrativeShares) {
    EXPECT_EQ(CLookupCache::ToAdministrativeSharePath(L"PC01", L"C:\\Windows\\System32\\a.dll"),
              L"\\\\PC01\\C$\\Windows\\System32\\a.dll");
    EXPECT_EQ(CLookupCache::ToAdministrativeSharePath(L"PC01", L"D:"), L"\\\\PC01\\D$");
    EXPECT_THROW(CLookupCache::ToAdministrativeSharePath(L"PC01", L"C"), std::invalid_argument);
    // A computer whose registry cannot be reached has no message files.
    sources_.RegisterSource(L"Remote", L"EventMessageFile",
                            sources_.Install(L"kx_first_messages.dll"));
    EXPECT_EQ(cache_.GetMessageModules(L"KXNOSUCHPC", CMessageSources::kLog, L"Remote",
                                       L"EventMessageFile"),
              nullptr);
}

TEST_F(LookupCacheTest, ExpandPathVariableReplacesTheFirstKnownVariable) {
    const std::wstring systemRoot = sources_.SystemRoot();
    const std::wstring programFiles =
        ReadMachineValue(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir");
    const std::wstring commonFiles =
        ReadMachineValue(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir");
    ASSERT_FALSE(systemRoot.empty());
    ASSERT_FALSE(programFiles.empty());
    ASSERT_FALSE(commonFiles.empty());

    CRegistryKey key;
    key.UseWow64View();
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    auto expand = [&key](const std::wstring& path) {
        return CLookupCache::ExpandPathVariable(key, path);
    };
    EXPECT_EQ(expand(L"%SystemRoot%\\a.dll"), systemRoot + L"\\a.dll");
    EXPECT_EQ(expand(L"%PROGRAMFILES%\\a.dll"), programFiles + L"\\a.dll");
    EXPECT_EQ(expand(L"%commonfiles%\\a.dll"), commonFiles + L"\\a.dll");
    // Every occurrence of the variable as written, but only the first variable.
    EXPECT_EQ(expand(L"%SystemRoot%\\%SystemRoot%"), systemRoot + L"\\" + systemRoot);
    EXPECT_EQ(expand(L"%SystemRoot%\\%ProgramFiles%"), systemRoot + L"\\%ProgramFiles%");
    EXPECT_EQ(expand(L"%windir%\\%SystemRoot%"), L"%windir%\\%SystemRoot%");
    EXPECT_EQ(expand(L"C:\\100%\\a.dll"), L"C:\\100%\\a.dll");
    EXPECT_EQ(expand(L"C:\\a.dll"), L"C:\\a.dll");
}

TEST_F(LookupCacheTest, AccountsAndSidsResolveOrFallBack) {
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), L"S-1-5-18"), L"NT AUTHORITY\\SYSTEM");
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), L"S-1-5-32-544"), L"BUILTIN\\Administrators");
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), L"S-1-5-21-1-2-3-987654"),
              L"S-1-5-21-1-2-3-987654");
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), L"not a SID"), L"not a SID");
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), L""), L"");

    EXPECT_EQ(cache_.GetSidFromAccount(Local(), L"NT AUTHORITY\\SYSTEM"), L"S-1-5-18");
    EXPECT_EQ(cache_.GetSidFromAccount(Local(), L"KxNoSuchAccount"), L"");

    // Texts longer than the platform's buffers.
    const std::wstring longSid = L"S-1-5-21-" + std::wstring(300, L'1');
    EXPECT_EQ(cache_.GetAccountFromSid(Local(), longSid), longSid);
    EXPECT_EQ(cache_.GetSidFromAccount(Local(), L"CORP\\" + std::wstring(300, L'a')), L"");
    EXPECT_EQ(cache_.GetSidFromAccount(Local(), std::wstring(300, L'a') + L"\\SYSTEM"), L"");
}

TEST_F(LookupCacheTest, AnAccountLookupWithoutMemoryFallsBackAndKeepsNothing) {
    const std::wstring computer = Local();
    const std::wstring sid = L"S-1-5-32-544";
    const std::wstring account = L"NT AUTHORITY\\SYSTEM";
    std::wstring answer;
    FailNextAllocations(1);
    answer = cache_.GetAccountFromSid(computer, sid);
    EXPECT_EQ(answer, sid);
    FailNextAllocations(1);
    answer = cache_.GetSidFromAccount(computer, account);
    EXPECT_EQ(answer, L"");
    EXPECT_EQ(PendingAllocationFailures(), 0);
    EXPECT_EQ(cache_.GetAccountFromSid(computer, sid), L"BUILTIN\\Administrators");
    EXPECT_EQ(cache_.GetSidFromAccount(computer, account), L"S-1-5-18");
}

TEST_F(LookupCacheTest, TheNamesKeptForTokensAreBoundedAndTheNewestStay) {
    CFakeDirectory directory;
    const std::wstring server = L"dc1";
    auto guid = [](std::size_t n) {
        return kx::Format(L"{%08X-0000-0000-0000-000000000000}", static_cast<uint32_t>(n));
    };
    const std::wstring oldest = guid(0);
    const std::wstring used = guid(1);
    cache_.GuidToName(server, oldest);
    for (std::size_t n = 1; n <= CLookupCache::kMaxKeptAnswers; ++n) {
        cache_.GuidToName(server, guid(n));
        if (n % 1000 == 0) cache_.GuidToName(server, used);
    }
    directory.ClearRequests();
    EXPECT_EQ(cache_.GuidToName(server, used), used);
    EXPECT_EQ(directory.Count(L"map"), 0) << "an answer in use stays";
    EXPECT_EQ(cache_.GuidToName(server, oldest), oldest);
    EXPECT_EQ(directory.Count(L"map"), 1) << "the oldest made room";
}

}  // namespace
