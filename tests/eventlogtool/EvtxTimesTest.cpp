// The times the importer gives a record: TimeCreated as the time
// generated, the written FILETIME as the time written unless 32-bit seconds
// since 1970 cannot hold it.

#include <gtest/gtest.h>

#include "EvtxImporter.h"
#include "common/SystemTime.h"

namespace {

constexpr const char* kCreatedXml =
    "<Event><System><TimeCreated SystemTime=\"2021-12-04T22:09:13.666427500Z\"/></System></Event>";
constexpr int64_t kCreated = 1638655753;  // 2021-12-04 22:09:13 UTC
constexpr int64_t kFileTimeOf1970 = 116444736000000000;
constexpr int64_t kTicksPerSecond = 10000000;

EventLogRecordFields TimesOf(uint64_t writtenFileTime, const std::string& xml) {
    EventLogRecordFields fields;
    CEvtxImporter::SetTimes(writtenFileTime, xml, &fields);
    return fields;
}

uint64_t FileTimeOf(int64_t unixSeconds) {
    return static_cast<uint64_t>(kFileTimeOf1970 + unixSeconds * kTicksPerSecond);
}

TEST(EvtxTimes, AWrittenTimeARecordCanHoldIsKept) {
    EventLogRecordFields fields = TimesOf(FileTimeOf(kCreated + 7), kCreatedXml);
    EXPECT_EQ(fields.timeGenerated, kCreated);
    EXPECT_EQ(fields.timeWritten, kCreated + 7);
}

TEST(EvtxTimes, AWrittenTimeBefore1970OrAfter2106IsTheTimeGenerated) {
    // 0 is the year 1601; truncated to 32 bits it read as 2009-04-22.
    EXPECT_EQ(TimesOf(0, kCreatedXml).timeWritten, kCreated);
    EXPECT_EQ(TimesOf(FileTimeOf(-1), kCreatedXml).timeWritten, kCreated);
    EXPECT_EQ(TimesOf(FileTimeOf(int64_t{UINT32_MAX} + 1), kCreatedXml).timeWritten, kCreated);
    EXPECT_EQ(TimesOf(FileTimeOf(0), kCreatedXml).timeWritten, 0u);
    EXPECT_EQ(TimesOf(FileTimeOf(UINT32_MAX), kCreatedXml).timeWritten, UINT32_MAX);
}

TEST(EvtxTimes, WithoutTimeCreatedBothTimesComeFromTheWrittenTime) {
    EventLogRecordFields fields = TimesOf(FileTimeOf(kCreated), "<Event><System/></Event>");
    EXPECT_EQ(fields.timeGenerated, kCreated);
    EXPECT_EQ(fields.timeWritten, kCreated);
    // Neither time fits: the nearest time a record holds, never a wrapped one.
    EXPECT_EQ(TimesOf(0, "<Event><System/></Event>").timeGenerated, 0u);
    EXPECT_EQ(TimesOf(0, "<Event><System/></Event>").timeWritten, 0u);
}

}  // namespace
