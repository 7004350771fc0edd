// Who may open the files the agent keeps beside its executable: cache files,
// the diagnostic log and the definitions copy are SYSTEM's and the
// Administrators' alone on Windows (a protected DACL), the owner's alone on
// Linux (0600), also where the file existed before with the folder's access.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BaseClasses/LogData.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/ExclusiveFile.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/WineDetection.h"

namespace {

namespace platform = kx::platform;

void ExpectPrivate(const std::wstring& path) {
    const std::string access = kx::WideToUtf8(platform::GetFileAccessText(path));
    const std::string name = kx::WideToUtf8(path);
#ifdef _WIN32
    if (platform::IsRunningUnderWine()) {
        // Wine 8 keeps no DACL: it turns the one given into the file's Unix
        // mode and reads back SYSTEM, the owner and, when the mode lets
        // others read, Everyone. The folder's access would bring Everyone.
        EXPECT_EQ(access.rfind("D:(A;;FA;;;SY)", 0), 0u) << name << ": " << access;
        EXPECT_EQ(access.find(";WD)"), std::string::npos) << name << ": " << access;
    } else {
        EXPECT_TRUE(access == "D:P(A;;FA;;;SY)(A;;FA;;;BA)" ||
                    access == "D:PAI(A;;FA;;;SY)(A;;FA;;;BA)")
            << name << ": " << access;
    }
#else
    EXPECT_EQ(access, "600") << name;
#endif
}

// A file as anything else makes it, with the folder's access (Linux: 0644).
void MakeOrdinaryFile(const std::wstring& path) {
    std::FILE* file = platform::OpenFileStream(path, L"wb");
    ASSERT_NE(file, nullptr);
    std::fputs("old", file);
    std::fclose(file);
    namespace fs = std::filesystem;
    fs::permissions(platform::ToNativePath(path), fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read |
                                                      fs::perms::others_read);
}

class FileAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
    }
    void TearDown() override {
        CloseDiagnosticLog();
        platform::SetExecutablePathForTesting(L"");
    }
    CTempDirectory folder_;
};

}  // namespace

TEST_F(FileAccessTest, TheAgentsFilesAreOpenToSystemAndAdministratorsOnly) {
    // A cache file as the alert log makes it: created and held by the
    // exclusive open, private from its first moment, then written.
    const std::wstring cache = folder_.Join(L"KX_1.tmp");
    platform::CExclusiveFile file;
    ASSERT_EQ(file.Open(cache, platform::ExclusiveAccess::CreateNew), 0u);
    ExpectPrivate(cache);
    ASSERT_EQ(file.Write("\0\0\0\0", 4), 0u);
    ASSERT_EQ(file.Close(), 0u);
    ExpectPrivate(cache);

    // The diagnostic log, emptied at start, was there before with the
    // folder's access.
    const std::wstring log = folder_.Join(L"BWAgentSvc.log");
    MakeOrdinaryFile(log);
    ASSERT_TRUE(InitDiagnosticLog(4));
    LogMessage(L"FileAccessTest.cpp", __LINE__, kLogError, L"a line");
    CloseDiagnosticLog();
    ExpectPrivate(log);

    // The definitions copy, written beside the old one and renamed over it.
    const std::wstring definitions = CWorkstationEventDefinitions::GetLocalDefinitionsPath();
    MakeOrdinaryFile(definitions);
    MakeOrdinaryFile(definitions + L".new");  // left by a crash
    CWorkstationEventDefinitions::WriteLocalDefinitions(L"<Success>true</Success>");
    EXPECT_EQ(CWorkstationEventDefinitions::ReadLocalDefinitions(), L"<Success>true</Success>");
    ExpectPrivate(definitions);
}
