// What only the Linux stand-ins do: Windows paths of message files under the
// machine root, SID spellings Windows refuses, the seam where the local
// accounts table plugs in, and the directory's password file.

#ifndef _WIN32

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "TestData.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "platform/Accounts.h"
#include "platform/ComputerName.h"
#include "platform/MachineRoot.h"
#include "platform/MessageResources.h"
#include "platform/Process.h"
#include "platform/posix/LdapSettings.h"
#include "platform/posix/LocalAccounts.h"

namespace {

using namespace kx::platform;

class MachineRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMachineRootForTesting(root_.WidePath());
        std::filesystem::path system32 = root_.Path() / "drive_c" / "Windows" / "System32";
        std::filesystem::create_directories(system32);
        std::filesystem::copy_file(kx::WideToUtf8(TestMessageFilePath(L"kx_event_messages.dll")),
                                   system32 / "KxEvents.dll");
    }
    void TearDown() override { SetMachineRootForTesting(L""); }

    static uint32_t LoadError(const std::wstring& path) {
        MessageModuleHandle module = LoadMessageModule(path);
        uint32_t error = module ? 0 : GetLastErrorCode();
        FreeMessageModule(module);
        return error;
    }

    CTempDirectory root_;
};

TEST_F(MachineRootTest, DrivePathsAreFoundIgnoringCase) {
    EXPECT_EQ(LoadError(L"C:\\Windows\\System32\\KxEvents.dll"), 0u);
    EXPECT_EQ(LoadError(L"c:\\WINDOWS\\system32\\kxevents.DLL"), 0u);
    EXPECT_EQ(LoadError(L"C:/Windows/./Temp/../System32/KxEvents.dll"), 0u);
    EXPECT_EQ(LoadError(L"C:\\Windows\\System32\\missing.dll"), 2u);
    EXPECT_EQ(LoadError(L"C:\\NoFolder\\KxEvents.dll"), 2u);
    EXPECT_EQ(LoadError(L"D:\\Windows\\System32\\KxEvents.dll"), 2u);
    // A variable that nobody expanded is a folder that does not exist.
    EXPECT_EQ(LoadError(L"%windir%\\System32\\KxEvents.dll"), 2u);
    EXPECT_EQ(LoadError(L"\\\\PC01\\C$\\Windows\\System32\\KxEvents.dll"), 53u);
}

TEST(LinuxSidConversion, SpellingsWindowsRefuses) {
    SidBytes sid;
    for (const wchar_t* text :
         {L"S-1-5-18-", L"S-1-5--18", L" S-1-5-18", L"S-1-5-4294967296",
          L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", L"S-1-281474976710656-1", L"S-1-0x-1"}) {
        EXPECT_EQ(ConvertStringToSid(text, sid), 1337u) << kx::WideToUtf8(text);
    }
}

TEST(LinuxSidConversion, AuthorityBeyond32BitsInHexadecimal) {
    SidBytes sid;
    ASSERT_EQ(ConvertStringToSid(L"S-1-0x1234567890AB-1", sid), 0u);
    std::wstring text;
    ASSERT_EQ(ConvertSidToString(sid.data(), sid.size(), text), 0u);
    EXPECT_EQ(text, L"S-1-0x1234567890AB-1");
    ASSERT_EQ(ConvertStringToSid(L"S-1-281474976710655-7", sid), 0u);
    ASSERT_EQ(ConvertSidToString(sid.data(), sid.size(), text), 0u);
    EXPECT_EQ(text, L"S-1-0xFFFFFFFFFFFF-7");
}

class FakeAccountTable : public ILocalAccountTable {
public:
    FakeAccountTable() {
        ConvertStringToSid(L"S-1-5-21-11-22-33-1001", alice_.sid);
        alice_.account = {L"KXPC", L"alice", SidUse::User};
        // A local entry that a well-known SID shadows.
        ConvertStringToSid(L"S-1-5-18", impostor_.sid);
        impostor_.account = {L"KXPC", L"SYSTEM", SidUse::User};
    }
    bool FindBySid(const SidBytes& sid, LocalAccount& found) const override {
        for (const LocalAccount* account : {&alice_, &impostor_}) {
            if (account->sid == sid) {
                found = *account;
                return true;
            }
        }
        return false;
    }
    bool FindByName(std::wstring_view domain, std::wstring_view name,
                    LocalAccount& found) const override {
        if (!kx::EqualsNoCase(name, alice_.account.name)) return false;
        if (!domain.empty() && !kx::EqualsNoCase(domain, alice_.account.domain)) return false;
        found = alice_;
        return true;
    }

private:
    LocalAccount alice_;
    LocalAccount impostor_;
};

TEST(LocalAccountSeam, TableAnswersAfterTheWellKnownSids) {
    SidBytes sid;
    AccountName account;
    ConvertStringToSid(L"S-1-5-21-11-22-33-1001", sid);
    EXPECT_EQ(LookupAccountBySid(L"", sid, account), 1332u);

    auto previous = SetLocalAccountTable(std::make_shared<FakeAccountTable>());
    EXPECT_EQ(LookupAccountBySid(L"", sid, account), 0u);
    EXPECT_EQ(account.domain, L"KXPC");
    EXPECT_EQ(account.name, L"alice");

    SidBytes found;
    EXPECT_EQ(LookupAccountByName(L"", L"kxpc\\ALICE", found, account), 0u);
    EXPECT_EQ(found, sid);
    EXPECT_EQ(account.use, SidUse::User);
    EXPECT_EQ(LookupAccountByName(L"", L"OTHER\\alice", found, account), 1332u);

    ConvertStringToSid(L"S-1-5-18", sid);
    EXPECT_EQ(LookupAccountBySid(L"", sid, account), 0u);
    EXPECT_EQ(account.domain, L"NT AUTHORITY");

    // Another computer's accounts are out of reach, whatever the table holds.
    EXPECT_EQ(LookupAccountByName(L"OTHERPC", L"alice", found, account), 1722u);

    SetLocalAccountTable(previous);
    EXPECT_EQ(LookupAccountByName(L"", L"alice", found, account), 1332u);
}

// The operator's table: one key per account below HKLM\SAM\Accounts.
TEST(RegistryAccountTable, AccountsKeptInTheMachineRegistryResolve) {
    CRegistrySandbox sandbox;
    auto write = [](const std::wstring& sid, const std::wstring& name, const std::wstring& value) {
        CRegistryKey key;
        key.SetRoot(kHkeyLocalMachine);
        ASSERT_TRUE(key.Open(L"SAM\\Accounts\\" + sid, true));
        ASSERT_TRUE(key.WriteString(name, value));
    };
    write(L"S-1-5-21-7-8-9-1001", L"Name", L"alice");
    write(L"S-1-5-21-7-8-9-1002", L"Name", L"Helpdesk");
    write(L"S-1-5-21-7-8-9-1002", L"Domain", L"CORP");
    {
        CRegistryKey key;
        key.SetRoot(kHkeyLocalMachine);
        key.Open(L"SAM\\Accounts\\S-1-5-21-7-8-9-1002", true);
        key.WriteDword(L"Use", static_cast<uint32_t>(SidUse::Group));
    }
    write(L"S-1-5-21-7-8-9-1003", L"Domain", L"CORP");  // no name: not an account
    write(L"not-a-sid", L"Name", L"bob");

    SidBytes sid;
    AccountName account;
    ConvertStringToSid(L"S-1-5-21-7-8-9-1001", sid);
    ASSERT_EQ(LookupAccountBySid(L"", sid, account), 0u);
    EXPECT_EQ(account.domain, GetLocalComputerName());
    EXPECT_EQ(account.name, L"alice");
    EXPECT_EQ(account.use, SidUse::User);

    SidBytes found;
    ASSERT_EQ(LookupAccountByName(L"", L"corp\\HELPDESK", found, account), 0u);
    std::wstring text;
    ConvertSidToString(found.data(), found.size(), text);
    EXPECT_EQ(text, L"S-1-5-21-7-8-9-1002");
    EXPECT_EQ(account.use, SidUse::Group);

    ConvertStringToSid(L"S-1-5-21-7-8-9-1003", sid);
    EXPECT_EQ(LookupAccountBySid(L"", sid, account), 1332u);
    EXPECT_EQ(LookupAccountByName(L"", L"bob", found, account), 1332u);
    EXPECT_EQ(LookupAccountByName(L"", L"OTHER\\alice", found, account), 1332u);
    // The well-known SIDs come first, whatever the table says.
    write(L"S-1-5-18", L"Name", L"impostor");
    ConvertStringToSid(L"S-1-5-18", sid);
    ASSERT_EQ(LookupAccountBySid(L"", sid, account), 0u);
    EXPECT_EQ(account.name, L"SYSTEM");
}

// The file read is the file checked: a link to a good file is refused as a
// link, and a FIFO fails the check instead of blocking the reader.
TEST(LdapPasswordFile, OnlyARegularFileOfTheAgentsOwnIsRead) {
    CTempDirectory folder;
    const std::filesystem::path good = folder.Path() / "password";
    std::ofstream(good) << "secret\r\nsecond line\n";
    std::filesystem::permissions(good, std::filesystem::perms::owner_read);
    std::string password;
    std::string why;
    EXPECT_EQ(ReadPasswordFile(good.string(), password, why), 0u) << why;
    EXPECT_EQ(password, "secret");

    const std::filesystem::path link = folder.Path() / "link";
    std::filesystem::create_symlink(good, link);
    EXPECT_EQ(ReadPasswordFile(link.string(), password, why), 5u);
    EXPECT_EQ(password, "");
    EXPECT_NE(why.find("is a symbolic link"), std::string::npos) << why;

    const std::filesystem::path fifo = folder.Path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadPasswordFile(fifo.string(), password, why), 5u);
    EXPECT_NE(why.find("is not a regular file"), std::string::npos) << why;

    std::filesystem::permissions(good, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(ReadPasswordFile(good.string(), password, why), 5u);
    EXPECT_NE(why.find("is open to others than its owner"), std::string::npos) << why;
}

}  // namespace

#endif  // _WIN32
