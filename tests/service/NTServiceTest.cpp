// The service framework against a service control manager in memory: status
// rules, the control table, dependencies, console mode and the end of Run.

#include "service/NTService.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "FakeEventLog.h"
#include "FakeServiceControl.h"
#include "service/NTServiceTerminateException.h"

namespace platform = kx::platform;

namespace {

// A service whose Run and reactions a test chooses.
class CTestService : public CNTService {
public:
    CTestService(CFakeServiceControl& control, CFakeEventLog& log, uint32_t accepted = 1)
        : CNTService(L"TestSvc", L"Test Service", accepted, L"A test service", control, log) {}

    void Run(uint32_t argc, wchar_t** argv) override {
        arguments.assign(argv, argv + argc);
        if (work) work();
    }
    void OnUserControl(uint32_t control) override { userControls.push_back(control); }
    void OnStop() override {
        ++stops;
        CNTService::OnStop();
    }

    void SetDependencies(std::vector<std::wstring> names) { dependencies_ = std::move(names); }
    void SetEventLogging(bool on) { eventLogging_ = on ? 1 : 0; }
    bool HasStatusHandle() const { return statusHandle_ != nullptr; }

    std::function<void()> work;
    std::vector<std::wstring> arguments;
    std::vector<uint32_t> userControls;
    int stops = 0;
};

class NTServiceTest : public ::testing::Test {
protected:
    // A service with a status handle, as ServiceMain leaves it.
    void Register() { ASSERT_TRUE(service.RegisterControlHandler()); }
    platform::ServiceStatus LastReport() {
        auto reports = control.Reports();
        return reports.empty() ? platform::ServiceStatus{} : reports.back();
    }

    CFakeServiceControl control;
    CFakeEventLog log;
    CTestService service{control, log, 0x5};
};

}  // namespace

TEST_F(NTServiceTest, StatusRulesForRunningPendingAndStopped) {
    Register();
    // Running drops check point, wait hint and exit codes.
    service.SetStatus(platform::kServiceRunning, 5, 3000, CNTService::kUnchanged, 1060, 7);
    platform::ServiceStatus running = LastReport();
    EXPECT_EQ(running.checkPoint, 0u);
    EXPECT_EQ(running.waitHint, 0u);
    EXPECT_EQ(running.win32ExitCode, 0u);
    EXPECT_EQ(running.serviceSpecificExitCode, 0u);
    EXPECT_EQ(running.controlsAccepted, 0x5u);
    EXPECT_EQ(running.serviceType, 0x10u);

    // A pending state accepts no controls and keeps its check point.
    service.ReportStatus(platform::kServiceStartPending, 3, 2000);
    platform::ServiceStatus pending = LastReport();
    EXPECT_EQ(pending.controlsAccepted, 0u);
    EXPECT_EQ(pending.checkPoint, 3u);
    EXPECT_EQ(pending.waitHint, 2000u);
    service.ReportStatus(platform::kServiceStartPending);  // -1 keeps both
    EXPECT_EQ(LastReport().checkPoint, 3u);
    EXPECT_EQ(LastReport().waitHint, 2000u);

    // The next running report sends the configured controls again.
    service.ReportStatus(platform::kServiceRunning);
    EXPECT_EQ(LastReport().controlsAccepted, 0x5u);

    // Stopped keeps the exit codes; other states drop them.
    service.SetStatus(platform::kServiceStopped, 9, 9, CNTService::kUnchanged, 1066, 42);
    platform::ServiceStatus stopped = LastReport();
    EXPECT_EQ(stopped.win32ExitCode, 1066u);
    EXPECT_EQ(stopped.serviceSpecificExitCode, 42u);
    EXPECT_EQ(stopped.checkPoint, 0u);
    EXPECT_EQ(stopped.waitHint, 0u);
    service.SetStatus(platform::kServiceStopPending, 1, 100, CNTService::kUnchanged, 1066, 42);
    EXPECT_EQ(LastReport().win32ExitCode, 0u);
    EXPECT_EQ(LastReport().serviceSpecificExitCode, 0u);
    EXPECT_EQ(service.CurrentState(), platform::kServiceStopPending);
}

TEST_F(NTServiceTest, WithoutStatusHandleNothingIsReported) {
    EXPECT_FALSE(service.ReportStatus(platform::kServiceRunning));
    EXPECT_TRUE(control.Reports().empty());
    EXPECT_EQ(service.CurrentState(), platform::kServiceRunning);
}

TEST_F(NTServiceTest, ControlTableReachesEachOperationAndReportsAgain) {
    Register();
    service.ReportStatus(platform::kServiceRunning);
    const std::size_t before = control.Reports().size();
    for (uint32_t code : {128u, 14u, 255u, 0u, 200u}) {
        EXPECT_EQ(service.HandleControl(code, 0, nullptr), 0u);
    }
    EXPECT_EQ(service.userControls, (std::vector<uint32_t>{128, 14, 255, 0, 200}));
    service.HandleControl(platform::kControlStop, 0, nullptr);
    EXPECT_EQ(service.stops, 1);
    for (uint32_t code = 2; code <= 13; ++code) service.HandleControl(code, 7, nullptr);
    EXPECT_EQ(service.userControls.size(), 5u);  // none of 1..13 is a user control
    // Every control is followed by a report of the current status, and an
    // interrogation reports once more by itself.
    EXPECT_EQ(control.Reports().size(), before + 5 + 1 + 12 + 1);
    EXPECT_EQ(LastReport().currentState, platform::kServiceRunning);
}

TEST_F(NTServiceTest, BaseReactionsReportTheirEvents) {
    service.OnPause();
    service.OnContinue();
    service.OnShutdown();
    service.CNTService::OnStop();
    auto reports = log.Reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].eventId, 0x40000005u);
    EXPECT_EQ(reports[1].eventId, 0x40000006u);
    EXPECT_EQ(reports[2].eventId, 0x4000000Au);
    EXPECT_EQ(reports[3].eventId, 0x40000004u);
    for (const auto& report : reports) {
        EXPECT_EQ(report.source, L"Test Service");
        EXPECT_EQ(report.type, 4);
        EXPECT_EQ(report.strings, std::vector<std::wstring>{L"Test Service"});
    }
    service.SetEventLogging(false);
    service.OnPause();
    EXPECT_EQ(log.Reports().size(), 4u);
}

TEST_F(NTServiceTest, HandlerRegistrationPrefersTheExtendedHandler) {
    Register();
    EXPECT_NE(control.HandlerEx(), nullptr);
    EXPECT_EQ(control.Handler(), nullptr);
    // The extended handler forwards to HandleControl with the event type.
    EXPECT_EQ(control.HandlerEx()(150, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(service.userControls, std::vector<uint32_t>{150});

    CFakeServiceControl plain;
    plain.SetHasHandlerEx(false);
    CTestService old(plain, log);
    ASSERT_TRUE(old.RegisterControlHandler());
    EXPECT_EQ(plain.HandlerEx(), nullptr);
    ASSERT_NE(plain.Handler(), nullptr);
    plain.Handler()(129);
    EXPECT_EQ(old.userControls, std::vector<uint32_t>{129});
}

TEST_F(NTServiceTest, DependencyListEndsWithTwoNuls) {
    EXPECT_EQ(service.BuildDependencies(), (std::vector<wchar_t>{L'\0', L'\0'}));
    service.SetDependencies({L"lanmanworkstation"});
    std::wstring expected(L"lanmanworkstation\0\0", 19);
    EXPECT_EQ(service.BuildDependencies(), std::vector<wchar_t>(expected.begin(), expected.end()));
    service.SetDependencies({L"a", L"bc"});
    std::wstring two(L"a\0bc\0\0", 6);
    EXPECT_EQ(service.BuildDependencies(), std::vector<wchar_t>(two.begin(), two.end()));
}

TEST_F(NTServiceTest, ConsoleModeFiltersDebugArgumentsAndStopsOnConsoleEvents) {
    service.SetProcessArguments({L"C:\\svc.exe", L"-debug", L"-x", L"-DEBUG", L"/debug", L"debug"});
    service.work = [&] {
        ASSERT_NE(control.ConsoleHandler(), nullptr);
        EXPECT_TRUE(control.ConsoleHandler()(platform::kConsoleCtrlC));
        EXPECT_TRUE(control.ConsoleHandler()(platform::kConsoleCtrlBreak));
        EXPECT_TRUE(control.ConsoleHandler()(platform::kConsoleClose));
        EXPECT_FALSE(control.ConsoleHandler()(5));  // logoff is not ours
    };
    service.DebugRun();
    EXPECT_EQ(service.arguments,
              (std::vector<std::wstring>{L"C:\\svc.exe", L"-x", L"/debug", L"debug"}));
    EXPECT_EQ(service.stops, 3);
    EXPECT_EQ(control.ConsoleHandler(), nullptr);  // removed once Run returned
    EXPECT_TRUE(control.Reports().empty());        // no status handle in this mode
}

TEST_F(NTServiceTest, ServiceMainReportsStoppedWithTheTerminateCodes) {
    service.work = [] { throw CNTServiceTerminateException(1066, 77); };
    service.ServiceMain(0, nullptr);
    platform::ServiceStatus last = LastReport();
    EXPECT_EQ(last.currentState, platform::kServiceStopped);
    EXPECT_EQ(last.win32ExitCode, 1066u);
    EXPECT_EQ(last.serviceSpecificExitCode, 77u);
    EXPECT_EQ(last.controlsAccepted, 0u);
}

// The service must not end up running with no one behind it: an exception
// that is not the framework's own still stops it, with an error exit code.
TEST_F(NTServiceTest, OutOfMemoryInRunEndsTheServiceAsStoppedWithAnErrorCode) {
    service.work = [&] {
        service.ReportStatus(platform::kServiceRunning);
        throw std::bad_alloc();
    };
    service.ServiceMain(0, nullptr);
    platform::ServiceStatus last = LastReport();
    EXPECT_EQ(last.currentState, platform::kServiceStopped);
    EXPECT_EQ(last.win32ExitCode, 8u);  // ERROR_NOT_ENOUGH_MEMORY

    service.work = [] { throw std::runtime_error("anything else"); };
    service.ServiceMain(0, nullptr);
    EXPECT_EQ(LastReport().currentState, platform::kServiceStopped);
    EXPECT_EQ(LastReport().win32ExitCode, 1066u);
    EXPECT_EQ(LastReport().serviceSpecificExitCode, 0x80004005u);
}

TEST_F(NTServiceTest, OutOfMemoryInConsoleModeBecomesTheExitCode) {
    service.SetProcessArguments({L"svc", L"-debug"});
    service.work = [] { throw std::bad_alloc(); };
    CNTServiceCommandLineInfo info;
    service.ParseCommandLine(info);
    EXPECT_EQ(info.command, CNTServiceCommandLineInfo::kDebugService);
    EXPECT_EQ(service.ProcessCommand(info), 8);
    service.work = [] { throw CNTServiceTerminateException(1234, 0); };
    EXPECT_EQ(service.ProcessCommand(info), 1234);
}

TEST_F(NTServiceTest, RunAsServiceGoesThroughTheDispatcher) {
    CNTServiceCommandLineInfo info;
    service.work = [&] { service.ReportStatus(platform::kServiceRunning); };
    EXPECT_EQ(service.ProcessCommand(info), 0);
    EXPECT_EQ(service.arguments, std::vector<std::wstring>{L"TestSvc"});
    EXPECT_EQ(LastReport().currentState, platform::kServiceStopped);

    control.FailWith("RunDispatcher", 1063);
    EXPECT_EQ(service.ProcessCommand(info), 1063);
}

TEST_F(NTServiceTest, ErrorMessagesCarryTheCodeAndTheSystemText) {
    std::wstring message;
    service.FormatErrorMessage(message, 3, 1073, false);
    EXPECT_EQ(message.rfind(L"KXWkstnSvc::Install, Failed call to CreateService, Error:1073, ", 0),
              0u)
        << message;
    EXPECT_GT(message.size(), 64u);  // the system's text follows
    std::wstring detail;
    service.FormatErrorMessage(detail, 3, 1073, true);
    EXPECT_EQ(detail.rfind(L"1073, ", 0), 0u) << detail;
    EXPECT_EQ(message.substr(message.size() - detail.size()), detail);
    // Codes are printed as signed decimals.
    service.FormatErrorMessage(detail, 0, 0x8007000E, true);
    EXPECT_EQ(detail.rfind(L"-2147024882, ", 0), 0u) << detail;
}
