#include "RegCommand.h"

#include <gtest/gtest.h>

#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "config/Settings.h"

namespace {

class RegCommandTest : public ::testing::Test {
protected:
    // Runs one command; its output, or "exit N: errors" when it failed.
    std::wstring Run(std::vector<std::wstring> args) {
        CRegCommand command;
        int result = command.Run(args);
        if (result != 0) return L"exit " + std::to_wstring(result) + L": " + command.Errors();
        EXPECT_EQ(command.Errors(), L"");
        return command.Output();
    }

    std::wstring Key() const { return L"HKCU\\" + sandbox_.ScratchKey(); }

    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
    const std::wstring done_ = L"The operation completed successfully.\n";
};

TEST_F(RegCommandTest, AddAndQueryValuesOfEveryType) {
    // Added in name order: the order of enumeration is the registry's own
    // (Windows keeps the order of creation, Wine sorts).
    EXPECT_EQ(Run({L"add", Key(), L"/v", L"Big", L"/t", L"REG_QWORD", L"/d", L"4294967296"}),
              done_);
    EXPECT_EQ(Run({L"add", Key(), L"/v", L"Enable", L"/t", L"REG_DWORD", L"/d", L"0x1", L"/f"}),
              done_);
    EXPECT_EQ(Run({L"add", Key(), L"/v", L"Files", L"/t", L"REG_MULTI_SZ", L"/d", L"a.dll;b.dll",
                   L"/s", L";"}),
              done_);
    EXPECT_EQ(Run({L"ADD", Key(), L"/V", L"Path", L"/T", L"reg_expand_sz", L"/d", L"%SystemRoot%"}),
              done_);
    EXPECT_EQ(Run({L"add", Key(), L"/v", L"Server", L"/d", L"kfs.example.com"}), done_);
    EXPECT_EQ(Run({L"add", Key(), L"/v", L"Sid", L"/t", L"REG_BINARY", L"/d", L"0105ff"}), done_);
    EXPECT_EQ(Run({L"add", Key() + L"\\Sub", L"/ve", L"/d", L"default"}), done_);

    std::wstring values =
        L"    Big    REG_QWORD    0x100000000\n"
        L"    Enable    REG_DWORD    0x1\n"
        L"    Files    REG_MULTI_SZ    a.dll\\0b.dll\n"
        L"    Path    REG_EXPAND_SZ    %SystemRoot%\n"
        L"    Server    REG_SZ    kfs.example.com\n"
        L"    Sid    REG_BINARY    0105FF\n";
    std::wstring sub = L"\n" + Key() + L"\\Sub\n    (Default)    REG_SZ    default\n";
    EXPECT_EQ(Run({L"query", Key()}), L"\n" + Key() + L"\n" + values + L"\n" + Key() + L"\\Sub\n");
    EXPECT_EQ(Run({L"query", Key(), L"/s"}), L"\n" + Key() + L"\n" + values + sub);
    EXPECT_EQ(Run({L"query", Key(), L"/v", L"enable"}),
              L"\n" + Key() + L"\n    enable    REG_DWORD    0x1\n\n");
}

TEST_F(RegCommandTest, DeleteValuesAndKeys) {
    Run({L"add", Key() + L"\\Deep\\Er", L"/v", L"A", L"/d", L"1"});
    Run({L"add", Key(), L"/v", L"A", L"/d", L"1"});
    Run({L"add", Key(), L"/v", L"B", L"/d", L"2"});
    Run({L"add", Key(), L"/ve", L"/d", L"3"});
    EXPECT_EQ(Run({L"delete", Key(), L"/v", L"A"}), done_);
    EXPECT_EQ(Run({L"delete", Key(), L"/ve"}), done_);
    EXPECT_EQ(Run({L"query", Key(), L"/v", L"A"}).substr(0, 14), L"exit 1: ERROR:");
    EXPECT_EQ(Run({L"delete", Key(), L"/va", L"/f"}), done_);
    EXPECT_EQ(Run({L"query", Key()}), L"\n" + Key() + L"\n\n" + Key() + L"\\Deep\n");
    EXPECT_EQ(Run({L"delete", Key() + L"\\Deep"}), done_);
    EXPECT_EQ(Run({L"query", Key()}), L"\n" + Key() + L"\n");
    EXPECT_NE(Run({L"delete", L"HKLM"}).find(L"below the root"), std::wstring::npos);
}

TEST_F(RegCommandTest, ExportAndImportCarryAWholeTree) {
    CTempDirectory folder;
    std::wstring file = folder.Join(L"saved.reg");
    Run({L"add", Key() + L"\\Child", L"/v", L"Number", L"/t", L"REG_DWORD", L"/d", L"7"});
    Run({L"add", Key(), L"/v", L"List", L"/t", L"REG_MULTI_SZ", L"/d", L"x\\0y"});
    std::wstring before = Run({L"query", Key(), L"/s"});
    EXPECT_EQ(Run({L"export", Key(), file}), done_);
    EXPECT_NE(Run({L"export", Key(), file}).find(L"/y"), std::wstring::npos);  // no overwrite
    EXPECT_EQ(Run({L"export", Key(), file, L"/y"}), done_);
    std::string text = ReadFileBytes(folder.Path() / "saved.reg");
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\", 0), 0u);

    Run({L"delete", Key()});
    EXPECT_EQ(Run({L"import", file}), done_);
    EXPECT_EQ(Run({L"query", Key(), L"/s"}), before);

    // Deletions in a file are carried out too.
    std::wstring path = L"HKEY_CURRENT_USER\\" + sandbox_.ScratchKey();
    WriteFileBytes(folder.Path() / "change.reg",
                   kx::WideToUtf8(L"Windows Registry Editor Version 5.00\n\n[-" + path +
                                  L"\\Child]\n[" + path + L"]\n\"List\"=-\n\"New\"=\"n\"\n"));
    EXPECT_EQ(Run({L"import", folder.Join(L"change.reg")}), done_);
    EXPECT_EQ(Run({L"query", Key(), L"/s"}), L"\n" + Key() + L"\n    New    REG_SZ    n\n");

    WriteFileBytes(folder.Path() / "bad.reg", "Windows Registry Editor Version 5.00\n\nnonsense\n");
    EXPECT_NE(Run({L"import", folder.Join(L"bad.reg")}).find(L"line 3"), std::wstring::npos);
}

TEST_F(RegCommandTest, PolicySetsWhatTheAgentReads) {
    std::wstring shown =
        Run({L"policy", L"/enable", L"/server", L"kfs.example.com", L"/port", L"8080"});
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 1u);
    EXPECT_EQ(GetKFSServer(), L"kfs.example.com");
    EXPECT_EQ(GetKFSPort(), L"8080");
    EXPECT_EQ(shown,
              L"KFSServer                    kfs.example.com\n"
              L"KFSPort                      8080\n"
              L"KFSUseHttps                  0 (http)\n"
              L"KFSCACertificates            (the system's trusted roots)\n"
              L"EnableWorkstationAuditAgent  1 (reporting on)\n"
              L"LoggingLevel                 3\n"
              L"WSLastEventLogRecordNumber   0\n"
              L"EDVersion                    \n");
    Run({L"policy", L"/disable"});
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 0u);
    EXPECT_EQ(GetKFSServer(), L"kfs.example.com");
    EXPECT_NE(Run({L"policy", L"/enable", L"/disable"}).find(L"not both"), std::wstring::npos);
}

// The file is stored by its absolute path, as Group Policy would store it,
// and only when it holds a certificate.
TEST_F(RegCommandTest, PolicyTurnsOnHttpsWithTheCertificateAuthoritiesOfAFile) {
    CTempDirectory folder;
    WriteFileBytes(folder.Path() / "ca.pem",
                   "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    WriteFileBytes(folder.Path() / "empty.pem", "");
    std::wstring shown = Run({L"policy", L"/https", L"/ca", folder.Join(L"ca.pem")});
    EXPECT_EQ(GetKFSUseHttps(), 1u);
    EXPECT_EQ(GetKFSCACertificates(), folder.Join(L"ca.pem"));
    EXPECT_NE(shown.find(L"KFSUseHttps                  1 (https)\n"), std::wstring::npos);
    EXPECT_NE(shown.find(L"KFSCACertificates            " + folder.Join(L"ca.pem") + L"\n"),
              std::wstring::npos)
        << kx::WideToUtf8(shown);

    std::wstring refused = Run({L"policy", L"/ca", folder.Join(L"empty.pem")});
    EXPECT_NE(refused.find(L"holds no certificate"), std::wstring::npos);
    EXPECT_NE(Run({L"policy", L"/ca", folder.Join(L"missing.pem")}).find(L"(2)"),
              std::wstring::npos);
    EXPECT_EQ(GetKFSCACertificates(), folder.Join(L"ca.pem"));
    EXPECT_NE(Run({L"policy", L"/https", L"/http"}).find(L"not both"), std::wstring::npos);

    Run({L"policy", L"/http", L"/ca", L""});
    EXPECT_EQ(GetKFSUseHttps(), 0u);
    EXPECT_EQ(GetKFSCACertificates(), L"");
}

TEST_F(RegCommandTest, MistakesAreRefusedWithAReason) {
    auto refused = [&](std::vector<std::wstring> args, const std::wstring& reason) {
        std::wstring answer = Run(args);
        EXPECT_EQ(answer.substr(0, 7), L"exit 1:") << kx::WideToUtf8(answer);
        EXPECT_NE(answer.find(reason), std::wstring::npos) << kx::WideToUtf8(answer);
    };
    refused({}, L"Usage");
    refused({L"frobnicate"}, L"Unknown command");
    refused({L"add", L"HKXX\\Software"}, L"(161)");
    refused({L"add", Key(), L"/v", L"n", L"/t", L"REG_DWORD", L"/d", L"4294967296"}, L"in range");
    refused({L"add", Key(), L"/v", L"n", L"/t", L"REG_DWORD", L"/d", L"12abc"}, L"in range");
    refused({L"add", Key(), L"/v", L"n", L"/t", L"REG_BINARY", L"/d", L"abc"}, L"hex digits");
    refused({L"add", Key(), L"/v", L"n", L"/t", L"REG_WHAT"}, L"Unknown type");
    refused({L"add", Key(), L"/v"}, L"needs a value");
    refused({L"query", Key(), L"extra"}, L"Wrong number");
    refused({L"query", Key() + L"\\Missing"}, L"(2)");
}

}  // namespace
