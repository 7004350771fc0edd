// The files port under the cache files: unique names, exclusive opens and the
// listing, on the platform's real file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>

#include "TempDirectory.h"
#include "common/Text.h"
#include "platform/ExclusiveFile.h"

namespace {

using kx::platform::CExclusiveFile;
using kx::platform::ExclusiveAccess;

bool IsCacheFileName(const std::wstring& name) {
    if (name.size() < 8 || name.size() > 11 || name.substr(0, 3) != L"KX_" ||
        kx::ToLower(name.substr(name.size() - 4)) != L".tmp")
        return false;
    for (std::size_t i = 3; i + 4 < name.size(); ++i)
        if (kx::DigitValue(name[i], 16) < 0) return false;
    return true;
}

std::wstring NameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

class ExclusiveFileTest : public ::testing::Test {
protected:
    std::vector<kx::platform::FoundFile> Find(const std::wstring& pattern) {
        std::vector<kx::platform::FoundFile> found;
        EXPECT_EQ(kx::platform::FindFiles(folder_.WidePath(), pattern, &found), 0u);
        return found;
    }
    CTempDirectory folder_;
};

TEST_F(ExclusiveFileTest, UniqueFilesAreNewEmptyAndNamedLikeTempFiles) {
    std::set<std::wstring> names;
    for (int i = 0; i < 20; ++i) {
        const std::wstring path = kx::platform::CreateUniqueFile(folder_.WidePath(), L"KX_");
        ASSERT_FALSE(path.empty());
        EXPECT_TRUE(IsCacheFileName(NameOf(path))) << kx::WideToUtf8(path);
        EXPECT_EQ(std::filesystem::file_size(folder_.Path() / kx::WideToUtf8(NameOf(path))), 0u);
        names.insert(NameOf(path));
    }
    EXPECT_EQ(names.size(), 20u);
}

TEST_F(ExclusiveFileTest, UniqueFileInAMissingFolderFails) {
    EXPECT_TRUE(kx::platform::CreateUniqueFile(folder_.Join(L"missing"), L"KX_").empty());
}

TEST_F(ExclusiveFileTest, SecondExclusiveOpenFailsWithASharingViolation) {
    const std::wstring path = folder_.Join(L"KX_1.tmp");
    CExclusiveFile first;
    ASSERT_EQ(first.Open(path, ExclusiveAccess::CreateForWriting), 0u);
    ASSERT_EQ(first.Write("abcd", 4), 0u);
    CExclusiveFile second;
    EXPECT_EQ(second.Open(path, ExclusiveAccess::OpenForReadWrite), 32u);
    // A writer that loses the race destroys nothing of the holder's.
    EXPECT_EQ(second.Open(path, ExclusiveAccess::CreateForWriting), 32u);
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

TEST_F(ExclusiveFileTest, CreateForWritingTruncatesAndOpenNeedsAnExistingFile) {
    const std::wstring path = folder_.Join(L"KX_2.tmp");
    CExclusiveFile file;
    EXPECT_EQ(file.Open(path, ExclusiveAccess::OpenForReadWrite), 2u);
    WriteFileBytes(folder_.Path() / "KX_2.tmp", "old content");
    ASSERT_EQ(file.Open(path, ExclusiveAccess::CreateForWriting), 0u);
    uint64_t size = 1;
    EXPECT_EQ(file.GetSize(&size), 0u);
    EXPECT_EQ(size, 0u);
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
