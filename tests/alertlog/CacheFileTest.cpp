// Cache files and the alert documents made from them, byte for byte against
// golden files written independently (tests/data/alertlog/make_golden.py).
// Runs unchanged on Linux and under Wine, in the Europe/Berlin time zone.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "AlertLogTestSupport.h"
#include "AllocationLimit.h"
#include "TempDirectory.h"
#include "alertlog/CacheFileWriter.h"
#include "common/Text.h"
#include "platform/Process.h"

namespace {

class CacheFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
        log_ = std::make_unique<CTestAlertLog>();
        log_->answer = [](const std::wstring&) { return 0u; };
    }
    void TearDown() override {
        log_.reset();
        kx::platform::SetExecutablePathForTesting(L"");
    }

    std::wstring PutCacheFile(const std::string& bytes, const std::wstring& name = L"KX_1.tmp") {
        WriteFileBytes(folder_.Path() / kx::WideToUtf8(name), bytes);
        return folder_.Join(name);
    }
    std::wstring DocumentOf(const std::string& bytes) {
        std::wstring text;
        uint32_t error = 0;
        EXPECT_TRUE(log_->BuildAlertDocument(PutCacheFile(bytes), &text, &error)) << error;
        return text;
    }
    static std::string ItemBytes(const CXMLAlertLogItem& item) {
        CCacheFileWriter writer;
        item.WriteItem(writer);
        return writer.Bytes();
    }
    static std::string Count(uint32_t count) {
        CCacheFileWriter writer;
        writer.WriteUInt32(count);
        return writer.Bytes();
    }

    CTempDirectory folder_;
    std::unique_ptr<CTestAlertLog> log_;
};

const std::wstring kEmptyDocument =
    L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Korvex>\r\n"
    L"  <WorkstationEvents></WorkstationEvents>\r\n</Korvex>";

TEST_F(CacheFileTest, FlushWritesTheGoldenCacheFile) {
    for (auto& item : GoldenItems()) log_->AddItem(std::move(item));
    log_->FlushToCache();
    const auto files = CacheFilesIn(folder_.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFileBytes(files[0]), ReadFileBytes(GoldenFile("golden.cache")));
    EXPECT_EQ(log_->QueuedItems(), 0u);
}

TEST_F(CacheFileTest, GoldenCacheFileMakesTheGoldenDocument) {
    const std::string golden = ReadFileBytes(GoldenFile("golden.cache"));
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(kx::WideToUtf16LE(DocumentOf(golden)), ReadFileBytes(GoldenFile("golden.xml")));
}

TEST_F(CacheFileTest, SweepPostsTheGoldenDocumentAndDeletesTheFile) {
    PutCacheFile(ReadFileBytes(GoldenFile("golden.cache")));
    log_->SendCacheFiles();
    ASSERT_EQ(log_->posted.size(), 1u);
    EXPECT_EQ(kx::WideToUtf16LE(log_->posted[0]), ReadFileBytes(GoldenFile("golden.xml")));
    EXPECT_TRUE(CacheFilesIn(folder_.Path()).empty());
}

TEST_F(CacheFileTest, EmptyStringIsItsTerminatorAlone) {
    CCacheFileWriter writer;
    writer.WriteString(L"");
    EXPECT_EQ(writer.Bytes(), std::string("\x02\0\0\0\0\0", 6));
}

TEST_F(CacheFileTest, CountZeroShortAndEmptyFilesMakeAnEmptyDocument) {
    EXPECT_EQ(DocumentOf(Count(0)), kEmptyDocument);
    EXPECT_EQ(DocumentOf(std::string("\x01\0", 2)), kEmptyDocument);
    EXPECT_EQ(DocumentOf(""), kEmptyDocument);
}

// Every cut of the golden file leaves exactly the items that lie wholly
// before the cut.
TEST_F(CacheFileTest, CutShortFileSendsTheWholeItemsBeforeTheCut) {
    const std::string golden = ReadFileBytes(GoldenFile("golden.cache"));
    std::vector<std::size_t> itemEnds;
    std::size_t end = 4;
    for (const auto& item : GoldenItems()) itemEnds.push_back(end += ItemBytes(*item).size());
    ASSERT_EQ(end, golden.size());
    for (std::size_t cut = 0; cut < golden.size(); ++cut) {
        std::size_t whole = 0;
        while (whole < itemEnds.size() && itemEnds[whole] <= cut) ++whole;
        const std::wstring document = DocumentOf(golden.substr(0, cut));
        ASSERT_EQ(ActionTextsOf(document).size(), whole) << "cut at " << cut;
    }
}

TEST_F(CacheFileTest, ItemWithAnotherMarkerIsLeftOutAndTheRestSent) {
    const std::string bytes = Count(3) + ItemBytes(*MakeItem(L"first")) +
                              std::string("\xEF\xBE\xAD\xDE", 4) + ItemBytes(*MakeItem(L"third"));
    EXPECT_EQ(ActionTextsOf(DocumentOf(bytes)), (std::vector<std::wstring>{L"first", L"third"}));
}

TEST_F(CacheFileTest, CountBeyondTheItemsPresentSendsThoseThere) {
    const std::string bytes =
        Count(1000) + ItemBytes(*MakeItem(L"one")) + ItemBytes(*MakeItem(L"two"));
    EXPECT_EQ(ActionTextsOf(DocumentOf(bytes)), (std::vector<std::wstring>{L"one", L"two"}));
}

// A length beyond the end of the file ends it without being allocated: with
// allocations failing as in a 32-bit process, the items before it still go.
TEST_F(CacheFileTest, StoredLengthBeyondTheFileEndsIt) {
    const CAllocationLimit limit(256 * 1024 * 1024);
    for (uint32_t length : {0xFFFFFFF0u, 0x7FFFFFFFu, 1000u}) {
        CCacheFileWriter cut;
        cut.WriteUInt32(CXMLAlertLogItem::kMarker);
        cut.WriteUInt32(length);
        const std::string file =
            Count(2) + ItemBytes(*MakeItem(L"kept")) + cut.Bytes() + std::string(100, 'x');
        EXPECT_EQ(ActionTextsOf(DocumentOf(file)), (std::vector<std::wstring>{L"kept"}));
    }
}

TEST_F(CacheFileTest, TimeGeneratedInTheLocalZoneWithItsDaylightRule) {
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(0), L"1970-01-01 01:00:00");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(1425445567), L"2015-03-04 06:06:07");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(1721038830), L"2024-07-15 12:20:30");
    // The spring change of 2024: 01:00 UTC is 03:00 summer time.
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(1711846799), L"2024-03-31 01:59:59");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(1711846800), L"2024-03-31 03:00:00");
}

TEST_F(CacheFileTest, TimeOutsideTheLocalTimeRangeIsRenderedEmpty) {
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(-1), L"");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(INT64_MIN), L"");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(32535244800), L"");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(INT64_MAX), L"");
    EXPECT_EQ(CXMLAlertLogItem::RenderTimeGenerated(32535244799), L"3001-01-01 08:59:59");
}

}  // namespace
