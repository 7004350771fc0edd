// The files port under the cache files: new files, exclusive opens and the
// listing, on the platform's real file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "TempDirectory.h"
#include "common/Text.h"
#include "platform/ExclusiveFile.h"

namespace {

using kx::platform::CExclusiveFile;
using kx::platform::ExclusiveAccess;

class ExclusiveFileTest : public ::testing::Test {
protected:
    std::vector<kx::platform::FoundFile> Find(const std::wstring& pattern) {
        std::vector<kx::platform::FoundFile> found;
        EXPECT_EQ(kx::platform::FindFiles(folder_.WidePath(), pattern, &found), 0u);
        return found;
    }
    CTempDirectory folder_;
};

TEST_F(ExclusiveFileTest, SecondExclusiveOpenFailsWithASharingViolation) {
    const std::wstring path = folder_.Join(L"KX_1.tmp");
    CExclusiveFile first;
    ASSERT_EQ(first.Open(path, ExclusiveAccess::CreateNew), 0u);
    CExclusiveFile second;
    EXPECT_EQ(second.Open(path, ExclusiveAccess::OpenForReadWrite), 32u) << "held while empty";
    ASSERT_EQ(first.Write("abcd", 4), 0u);
    EXPECT_EQ(second.Open(path, ExclusiveAccess::OpenForReadWrite), 32u);
    // A writer that loses the race destroys nothing of the holder's.
    EXPECT_EQ(second.Open(path, ExclusiveAccess::CreateNew), 80u);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(first.FlushToDevice(), 0u);
    EXPECT_EQ(first.Close(), 0u);
    ASSERT_EQ(second.Open(path, ExclusiveAccess::OpenForReadWrite), 0u);
    uint64_t size = 0;
    EXPECT_EQ(second.GetSize(&size), 0u);
    EXPECT_EQ(size, 4u);
    char bytes[8] = {};
    std::size_t read = 0;
    EXPECT_EQ(second.Read(bytes, sizeof bytes, &read), 0u);
    EXPECT_EQ(std::string(bytes, read), "abcd");
    EXPECT_EQ(second.Read(bytes, sizeof bytes, &read), 0u);
    EXPECT_EQ(read, 0u);
}

TEST_F(ExclusiveFileTest, NewFileNeverReplacesOneAndOpenNeedsAnExistingFile) {
    const std::wstring path = folder_.Join(L"KX_2.tmp");
    CExclusiveFile file;
    EXPECT_EQ(file.Open(path, ExclusiveAccess::OpenForReadWrite), 2u);
    WriteFileBytes(folder_.Path() / "KX_2.tmp", "old content");
    EXPECT_EQ(file.Open(path, ExclusiveAccess::CreateNew), 80u);
    EXPECT_EQ(ReadFileBytes(folder_.Path() / "KX_2.tmp"), "old content");
}

TEST_F(ExclusiveFileTest, ListingMatchesThePatternIgnoringCaseWithSizesAndTimes) {
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(5);
    WriteFileBytes(folder_.Path() / "KX_A1.tmp", "12345");
    WriteFileBytes(folder_.Path() / "kx_b2.TMP", "");
    WriteFileBytes(folder_.Path() / "KX_C3.txt", "x");
    WriteFileBytes(folder_.Path() / "XKX_D4.tmp", "x");
    std::filesystem::create_directory(folder_.Path() / "KX_E5.tmp");
    auto found = Find(L"KX_*.tmp");
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return kx::ToUpper(a.name) < kx::ToUpper(b.name);
    });
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, L"KX_A1.tmp");
    EXPECT_EQ(found[0].size, 5u);
    EXPECT_FALSE(found[0].isDirectory);
    EXPECT_EQ(found[1].name, L"kx_b2.TMP");
    EXPECT_TRUE(found[2].isDirectory);
    const int64_t unixSeconds = (found[0].creationTime - 116444736000000000LL) / 10000000;
    const int64_t earliest =
        std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count();
    EXPECT_GE(unixSeconds, earliest);
    EXPECT_LE(unixSeconds, earliest + 65);
}

TEST_F(ExclusiveFileTest, ListingOfAnEmptyOrMissingFolder) {
    EXPECT_TRUE(Find(L"KX_*.tmp").empty());
    std::vector<kx::platform::FoundFile> found;
    EXPECT_NE(kx::platform::FindFiles(folder_.Join(L"missing"), L"KX_*.tmp", &found), 0u);
    EXPECT_TRUE(found.empty());
}

}  // namespace
