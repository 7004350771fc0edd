// The sweep over the cache files: their order, the size limit, files held by
// a writer, and failed posts. Posts go to a recording double here; the
// delivery tests post to the reference server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "AlertLogTestSupport.h"
#include "AllocationLimit.h"
#include "BaseClasses/LogData.h"
#include "TempDirectory.h"
#include "TestData.h"
#include "alertlog/CacheFileWriter.h"
#include "common/Text.h"
#include "platform/ExclusiveFile.h"
#include "platform/Files.h"
#include "platform/Process.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
const std::string kConnectionMessage = "Unable to connect to the Korvex Foundation service.";

// File times of 10:00:00, 10:00:05 and 10:00:10 on one day.
constexpr int64_t kTen = 133000000000000000LL;
constexpr int64_t kSecond = 10000000;

kx::platform::FoundFile Found(const wchar_t* name, int64_t created, uint64_t size = 10) {
    kx::platform::FoundFile file;
    file.name = name;
    file.size = size;
    file.creationTime = created;
    return file;
}

std::vector<std::wstring> Paths(const std::vector<CXMLAlertLog::CCacheFile>& files) {
    std::vector<std::wstring> paths;
    for (const auto& file : files) paths.push_back(file.path);
    return paths;
}

class CacheSweepTest : public ::testing::Test {
protected:
    void SetUp() override {
        holder_ = TestExecutableFolder() + kx::platform::kPathSeparator +
                  kx::Utf8ToWide(KX_CACHE_FILE_HOLDER_NAME);
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
        InitDiagnosticLog(kLogInformation);
        log_ = std::make_unique<CTestAlertLog>();
        log_->answer = [this](const std::wstring&) { return answer_; };
    }
    void TearDown() override {
        log_.reset();
        CloseDiagnosticLog();
        kx::platform::SetExecutablePathForTesting(L"");
    }

    std::wstring CacheFile(const std::wstring& name, const std::wstring& action) {
        CCacheFileWriter writer;
        writer.WriteUInt32(1);
        MakeItem(action)->WriteItem(writer);
        WriteFileBytes(folder_.Path() / kx::WideToUtf8(name), writer.Bytes());
        return folder_.Join(name);
    }
    // A sparse file: its size counts, its bytes (zeros: no items) cost nothing.
    CXMLAlertLog::CCacheFile SparseFile(const std::wstring& name, uint64_t size) {
        const std::filesystem::path path = folder_.Path() / kx::WideToUtf8(name);
        WriteFileBytes(path, "");
        std::filesystem::resize_file(path, size);
        return CXMLAlertLog::CCacheFile{folder_.Join(name), size, 0};
    }
    bool Exists(const std::wstring& name) {
        return std::filesystem::exists(folder_.Path() / kx::WideToUtf8(name));
    }
    std::vector<bool> ExistAfterDeletingOverLimit(std::vector<CXMLAlertLog::CCacheFile> files) {
        uint64_t total = 0;
        for (const auto& file : files) total += file.size;
        std::vector<std::wstring> names;
        for (const auto& file : files)
            names.push_back(file.path.substr(file.path.find_last_of(L"\\/") + 1));
        log_->DeleteOverLimit(files, total);
        std::vector<bool> exist;
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].path.empty(), !Exists(names[i]));
            exist.push_back(Exists(names[i]));
        }
        return exist;
    }

    CTempDirectory folder_;
    std::unique_ptr<CTestAlertLog> log_;
    uint32_t answer_ = 0;
    std::wstring holder_;
};

TEST_F(CacheSweepTest, FilesGoInCreationOrderWhateverTheListingOrder) {
    const std::vector<kx::platform::FoundFile> listing = {Found(L"KX_C.tmp", kTen + 10 * kSecond),
                                                          Found(L"KX_A.tmp", kTen),
                                                          Found(L"KX_B.tmp", kTen + 5 * kSecond)};
    uint64_t total = 0;
    const auto files = CXMLAlertLog::OrderCacheFiles(L"D", listing, &total);
    const std::wstring s(1, kx::platform::kPathSeparator);
    EXPECT_EQ(Paths(files),
              (std::vector<std::wstring>{L"D" + s + L"KX_A.tmp", L"D" + s + L"KX_B.tmp",
                                         L"D" + s + L"KX_C.tmp"}));
    EXPECT_EQ(total, 30u);
}

// One flush writes several files within the file system's clock tick; their
// names count up.
TEST_F(CacheSweepTest, FilesOfEqualCreationTimeGoInTheOrderOfTheirNumbers) {
    const std::vector<kx::platform::FoundFile> listing = {
        Found(L"KX_1A0.tmp", kTen), Found(L"KX_19F.tmp", kTen), Found(L"other.tmp", kTen),
        Found(L"KX_FF.tmp", kTen), Found(L"KX_0.tmp", kTen - 1)};
    uint64_t total = 0;
    const auto files = CXMLAlertLog::OrderCacheFiles(L"D", listing, &total);
    std::vector<std::wstring> names;
    for (const auto& path : Paths(files)) names.push_back(path.substr(2));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"KX_0.tmp", L"other.tmp", L"KX_FF.tmp",
                                                L"KX_19F.tmp", L"KX_1A0.tmp"}));
}

TEST_F(CacheSweepTest, DirectoriesAreNotCacheFiles) {
    std::filesystem::create_directory(folder_.Path() / "KX_D1.tmp");
    CacheFile(L"KX_1.tmp", L"one");
    log_->SendCacheFiles();
    EXPECT_EQ(log_->posted.size(), 1u);
    EXPECT_TRUE(Exists(L"KX_D1.tmp"));
}

TEST_F(CacheSweepTest, SizeLimitDeletesTheOldestUntilTheTotalIsBelowIt) {
    EXPECT_EQ(ExistAfterDeletingOverLimit(
                  {SparseFile(L"KX_1.tmp", 60 * kMiB), SparseFile(L"KX_2.tmp", 50 * kMiB)}),
              (std::vector<bool>{false, true}));
    EXPECT_EQ(ExistAfterDeletingOverLimit({SparseFile(L"KX_3.tmp", 40 * kMiB),
                                           SparseFile(L"KX_4.tmp", 40 * kMiB),
                                           SparseFile(L"KX_5.tmp", 30 * kMiB)}),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), "bytes: deleted the oldest"), 2);
}

TEST_F(CacheSweepTest, TotalOfExactlyTheLimitDeletesNothing) {
    SparseFile(L"KX_1.tmp", 60 * kMiB);
    SparseFile(L"KX_2.tmp", CXMLAlertLog::kCacheSizeLimit - 60 * kMiB);
    uint64_t total = 0;
    EXPECT_EQ(log_->ListCacheFiles(&total).size(), 2u);
    EXPECT_EQ(total, CXMLAlertLog::kCacheSizeLimit);
    log_->SendCacheFiles();
    EXPECT_EQ(log_->posted.size(), 2u);  // both posted (no items), none deleted unsent
}

TEST_F(CacheSweepTest, SweepOverTheLimitPostsWhatIsLeft) {
    SparseFile(L"KX_1.tmp", 60 * kMiB);
    SparseFile(L"KX_2.tmp", 50 * kMiB);
    log_->SendCacheFiles();
    // Whichever is older is deleted unsent; the other one is posted.
    EXPECT_EQ(log_->posted.size(), 1u);
    EXPECT_TRUE(CacheFilesIn(folder_.Path()).empty());
}

TEST_F(CacheSweepTest, FailedPostKeepsEachFileAndLogsOncePerFile) {
    for (int i = 1; i <= 5; ++i) CacheFile(L"KX_" + std::to_wstring(i) + L".tmp", L"a");
    answer_ = 12029;
    log_->SendCacheFiles();
    EXPECT_EQ(log_->posted.size(), 5u);
    EXPECT_EQ(CacheFilesIn(folder_.Path()).size(), 5u);
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), kConnectionMessage), 5);
    answer_ = 0;
    log_->SendCacheFiles();
    EXPECT_TRUE(CacheFilesIn(folder_.Path()).empty());
}

// A file that cannot be made into a document (here memory runs out for one of
// its texts) is passed over and kept: the files behind it still go, and it
// goes with a later sweep that can build it.
TEST_F(CacheSweepTest, FileThatCannotBeMadeIntoADocumentIsPassedOverAndKept) {
    CCacheFileWriter writer;
    writer.WriteUInt32(1);
    MakeItem(L"large", 600 * 1024)->WriteItem(writer);
    WriteFileBytes(folder_.Path() / "KX_1.tmp", writer.Bytes());
    CacheFile(L"KX_2.tmp", L"behind");
    {
        const CAllocationLimit limit(1024 * 1024);
        log_->SendCacheFiles();
    }
    ASSERT_EQ(log_->posted.size(), 1u);
    EXPECT_EQ(ActionTextsOf(log_->posted[0]), (std::vector<std::wstring>{L"behind"}));
    EXPECT_TRUE(Exists(L"KX_1.tmp"));
    EXPECT_FALSE(Exists(L"KX_2.tmp"));
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), "could not be made into an alert document"), 1);
    log_->SendCacheFiles();
    ASSERT_EQ(log_->posted.size(), 2u);
    EXPECT_EQ(ActionTextsOf(log_->posted[1]), (std::vector<std::wstring>{L"large"}));
    EXPECT_TRUE(CacheFilesIn(folder_.Path()).empty());
}

TEST_F(CacheSweepTest, FileHeldByAWriterIsPassedOverSilently) {
    const std::wstring held = CacheFile(L"KX_1.tmp", L"held");
    CacheFile(L"KX_2.tmp", L"free");
    kx::platform::CExclusiveFile writer;
    ASSERT_EQ(writer.Open(held, kx::platform::ExclusiveAccess::OpenForReadWrite), 0u);
    log_->SendCacheFiles();
    ASSERT_EQ(log_->posted.size(), 1u);
    EXPECT_EQ(ActionTextsOf(log_->posted[0]), (std::vector<std::wstring>{L"free"}));
    EXPECT_TRUE(Exists(L"KX_1.tmp"));
    writer.Close();
    log_->SendCacheFiles();
    EXPECT_EQ(log_->posted.size(), 2u);
    EXPECT_TRUE(CacheFilesIn(folder_.Path()).empty());
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), "Error opening cache file"), 0);
}

// The holder process opens the file exclusively, says so with a "ready" file
// and lets go when a "release" file appears.
TEST_F(CacheSweepTest, FileHeldByAnotherProcessIsPassedOver) {
    const std::wstring held = CacheFile(L"KX_1.tmp", L"held");
    const std::filesystem::path ready = folder_.Path() / "ready";
    const std::filesystem::path release = folder_.Path() / "release";
    // No quotes: the Windows command processor would strip them unevenly.
    const std::string command = kx::WideToUtf8(holder_) + " " + kx::WideToUtf8(held) + " " +
                                ready.string() + " " + release.string();
    std::thread holder([&] { std::system(command.c_str()); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool holding = std::filesystem::exists(ready);
    log_->SendCacheFiles();
    const std::size_t postedWhileHeld = log_->posted.size();
    WriteFileBytes(release, "");
    holder.join();
    ASSERT_TRUE(holding) << command;
    EXPECT_EQ(postedWhileHeld, 0u);
    log_->SendCacheFiles();
    EXPECT_EQ(log_->posted.size(), 1u);
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), "Error opening cache file"), 0);
}

}  // namespace
