#include "BaseClasses/EventSourceReporter.h"

#include <gtest/gtest.h>

#include "FakeEventLog.h"

TEST(EventSourceReporterTest, KeepsItsSourceRegisteredBetweenReports) {
    CFakeEventLog log;
    {
        CEventSourceReporter reporter(nullptr, L"Korvex Agent", log);
        EXPECT_EQ(log.RegisteredSourceCount(), 1);
        const wchar_t* strings[] = {L"one", L"two"};
        const uint8_t sid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
        EXPECT_TRUE(reporter.Report(2, 7, 0x40000011, sid, 2, strings));
        EXPECT_TRUE(reporter.ReportString(4, 0x40000012, L"text", nullptr));
        EXPECT_EQ(log.RegisteredSourceCount(), 1);
        std::vector<CFakeEventLog::ReportCall> reports = log.Reports();
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].source, L"Korvex Agent");
        EXPECT_EQ(reports[0].category, 7);
        EXPECT_TRUE(reports[0].hasSid);
        EXPECT_EQ(reports[0].strings, (std::vector<std::wstring>{L"one", L"two"}));
        EXPECT_EQ(reports[0].dataSize, 0u);
        EXPECT_EQ(reports[1].type, 4);
        EXPECT_EQ(reports[1].category, 0);
        EXPECT_EQ(reports[1].eventId, 0x40000012u);
        EXPECT_EQ(reports[1].strings, std::vector<std::wstring>{L"text"});
    }
    EXPECT_EQ(log.RegisteredSourceCount(), 0) << "released at destruction";
}

TEST(EventSourceReporterTest, RegistersAgainWithTheStoredNamesAfterAClose) {
    CFakeEventLog log;
    CEventSourceReporter reporter(L"WS01", L"Source A", log);
    reporter.Close();
    EXPECT_EQ(log.RegisteredSourceCount(), 0);
    EXPECT_TRUE(reporter.ReportString(1, 1, L"again", nullptr));
    ASSERT_EQ(log.Reports().size(), 1u);
    EXPECT_EQ(log.Reports()[0].server, L"WS01");
    EXPECT_EQ(log.Reports()[0].source, L"Source A");
}

TEST(EventSourceReporterTest, RegisterReplacesTheHeldSourceWithoutStoringItsNames) {
    CFakeEventLog log;
    CEventSourceReporter reporter(nullptr, L"Stored", log);
    EXPECT_TRUE(reporter.Register(nullptr, L"Other"));
    EXPECT_EQ(log.RegisteredSourceCount(), 1);
    reporter.ReportString(4, 1, L"x", nullptr);
    reporter.Close();
    reporter.ReportString(4, 2, L"y", nullptr);
    std::vector<CFakeEventLog::ReportCall> reports = log.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].source, L"Other");
    EXPECT_EQ(reports[1].source, L"Stored");
}

TEST(EventSourceReporterTest, DefaultReporterHasNoSourceToWriteTo) {
    CFakeEventLog log;
    CEventSourceReporter reporter(log);
    EXPECT_EQ(log.RegisteredSourceCount(), 0);
    EXPECT_FALSE(reporter.ReportString(4, 1, L"x", nullptr));  // an empty name registers nothing
}
