#include "service/ServiceEventReporter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "FakeEventLog.h"

using Strings = std::vector<std::wstring>;

TEST(ServiceEventReporterTest, TheFourReportForms) {
    CFakeEventLog log;
    CServiceEventReporter reporter(L"", L"Korvex Workstation Agent", log);
    EXPECT_TRUE(reporter.ReportString(4, 0x40000004, L"Korvex Workstation Agent"));
    EXPECT_TRUE(reporter.ReportStrings(1, 0xC0000002, L"first", L"second"));
    EXPECT_TRUE(reporter.ReportNumber(1, 0xC0000003, -5));
    EXPECT_TRUE(reporter.ReportNumber(1, 0xC0000003, 255, true));
    EXPECT_TRUE(reporter.ReportStringAndNumber(1, 0xC0000004, L"code", 1060));
    EXPECT_TRUE(reporter.ReportStringAndNumber(1, 0xC0000004, L"code", -1, true));
    std::vector<CFakeEventLog::ReportCall> reports = log.Reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[0].strings, Strings{L"Korvex Workstation Agent"});
    EXPECT_EQ(reports[1].strings, (Strings{L"first", L"second"}));
    EXPECT_EQ(reports[2].strings, Strings{L"-5"});
    EXPECT_EQ(reports[3].strings, Strings{L"ff"});
    EXPECT_EQ(reports[4].strings, (Strings{L"code", L"1060"}));
    EXPECT_EQ(reports[5].strings, (Strings{L"code", L"ffffffff"}));
    for (const auto& report : reports) {
        EXPECT_EQ(report.source, L"Korvex Workstation Agent");
        EXPECT_EQ(report.server, L"");
        EXPECT_EQ(report.category, 0);
        EXPECT_FALSE(report.hasSid);
        EXPECT_EQ(report.dataSize, 0u);
    }
    EXPECT_EQ(reports[0].type, 4);
    EXPECT_EQ(reports[0].eventId, 0x40000004u);
    EXPECT_EQ(reports[1].type, 1);
}

TEST(ServiceEventReporterTest, EachReportRegistersAndDeregistersTheSource) {
    CFakeEventLog log;
    CServiceEventReporter reporter(L"WS01", L"Agent", log);
    reporter.ReportString(4, 1, L"x");
    EXPECT_EQ(log.RegisteredSourceCount(), 0);
    ASSERT_EQ(log.Reports().size(), 1u);
    EXPECT_EQ(log.Reports()[0].server, L"WS01");
}

TEST(ServiceEventReporterTest, ConcurrentReportsAreSerialised) {
    CFakeEventLog log;
    CServiceEventReporter reporter(L"", L"Agent", log);
    auto report = [&] {
        for (int i = 0; i < 200; ++i) reporter.ReportNumber(4, 1, i);
    };
    std::thread other(report);
    report();
    other.join();
    EXPECT_EQ(log.Reports().size(), 400u);
    EXPECT_EQ(log.RegisteredSourceCount(), 0);
}
