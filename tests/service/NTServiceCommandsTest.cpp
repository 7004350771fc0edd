// The command line: parsing, and the commands against a service control
// manager in memory (time through a manual clock).

#include <gtest/gtest.h>

#include "FakeEventLog.h"
#include "FakeServiceControl.h"
#include "RegistrySandbox.h"
#include "common/ManualClock.h"
#include "platform/Process.h"
#include "service/NTService.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kSourceKey =
    L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Korvex "
    L"Workstation Agent";

class CCommandService : public CNTService {
public:
    CCommandService(CFakeServiceControl& control, CFakeEventLog& log)
        : CNTService(L"KXWkstnSvc", L"Korvex Workstation Agent", 1, L"Description", control, log) {
        dependencies_ = {L"lanmanworkstation"};
        serviceType_ = 0x110;
        startType_ = 2;
        eventMessageFile_ = L"C:\\Agent\\KXWkstnSvc.dll";
    }
    void Run(uint32_t, wchar_t**) override {}
    void SetEventLogging(bool on) { eventLogging_ = on ? 1 : 0; }
    void SetMessageFile(const std::wstring& file) { eventMessageFile_ = file; }
    const std::wstring& MessageFile() const { return eventMessageFile_; }

    std::vector<std::wstring> shown;

protected:
    void DisplayMessage(const std::wstring& message) override { shown.push_back(message); }
};

CNTServiceCommandLineInfo Parse(std::vector<std::wstring> arguments) {
    CFakeServiceControl control;
    CFakeEventLog log;
    CCommandService service(control, log);
    arguments.insert(arguments.begin(), L"KXWkstnSvc.exe");
    service.SetProcessArguments(arguments);
    CNTServiceCommandLineInfo info;
    service.ParseCommandLine(info);
    return info;
}

class CommandTest : public ::testing::Test {
protected:
    CommandTest() {
        // Event-source registration and the executable path stay in a
        // folder of the test's own; on Windows no command here reaches them.
        platform::SetExecutablePathForTesting(L"C:\\Agent\\KXWkstnSvc.exe");
    }
    ~CommandTest() override { platform::SetExecutablePathForTesting(L""); }

    int Command(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"KXWkstnSvc.exe");
        service.SetProcessArguments(arguments);
        CNTServiceCommandLineInfo info;
        service.ParseCommandLine(info);
        return service.ProcessCommand(info);
    }
    std::vector<uint32_t> EventIds() {
        std::vector<uint32_t> ids;
        for (const auto& report : log.Reports()) ids.push_back(report.eventId);
        return ids;
    }
    uint32_t SentControl() {
        for (const auto& call : control.Calls()) {
            if (call.name == "SendControl") return call.access;
        }
        return 0;
    }

    CRegistrySandbox registry{{kSourceKey}};
    CManualClock clock;
    CScopedClock scopedClock{clock};
    CFakeServiceControl control;
    CFakeEventLog log;
    CCommandService service{control, log};
};

}  // namespace

TEST(CommandLineTest, KeywordsIgnoreCaseAndTheLastCommandCounts) {
    struct Case {
        std::vector<std::wstring> arguments;
        uint32_t command;
    };
    const Case cases[] = {
        {{}, 0},
        {{L"-install"}, 5},
        {{L"/INSTALL"}, 5},
        {{L"-start"}, 1},
        {{L"-Pause"}, 2},
        {{L"-continue"}, 3},
        {{L"/STOP"}, 4},
        {{L"-remove"}, 6},
        {{L"-uninstall"}, 6},
        {{L"-debug"}, 7},
        {{L"-help"}, 8},
        {{L"/?"}, 8},
        {{L"stop"}, 0},  // no prefix: ignored, the process runs as a service
        {{L"-bogus"}, 0},
        {{L"-install", L"-start", L"-stop"}, 4},
        {{L"-stop", L"install"}, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.arguments).command, c.command) << testing::PrintToString(c.arguments);
    }
}

TEST(CommandLineTest, SilentAndTimeoutForms) {
    for (const wchar_t* silent : {L"-silent", L"-QUIET", L"/q", L"-Q"}) {
        EXPECT_EQ(Parse({silent}).silent, 1u) << silent;
    }
    EXPECT_EQ(Parse({L"q"}).silent, 0u);
    EXPECT_EQ(Parse({}).timeout, 60000u);
    EXPECT_EQ(Parse({L"-t:5000", L"-stop"}).timeout, 5000u);
    EXPECT_EQ(Parse({L"-stop", L"-T:5000"}).timeout, 5000u);
    EXPECT_EQ(Parse({L"-stop", L"-t:5000"}).command, 4u);
    EXPECT_EQ(Parse({L"-t:"}).timeout, 60000u);  // nothing after the colon
    EXPECT_EQ(Parse({L"-t:abc"}).timeout, 0u);
    EXPECT_EQ(Parse({L"-t:250ms"}).timeout, 250u);
    EXPECT_EQ(Parse({L"-t:-1"}).timeout, 0u);  // digits only
    EXPECT_EQ(Parse({L"-t:99999999999"}).timeout, 0xFFFFFFFFu);
    EXPECT_EQ(Parse({L"t:5000"}).timeout, 60000u);
}

TEST_F(CommandTest, InstallCreatesTheServiceWithItsIdentityAndClosesEverything) {
    EXPECT_EQ(Command({L"-install"}), 0);
    EXPECT_TRUE(service.shown.empty());
    auto calls = control.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "OpenManager");
    EXPECT_EQ(calls[0].access, 0x0000000Au);
    EXPECT_EQ(calls[0].text, L"(local)|ServicesActive");
    EXPECT_EQ(calls[1].name, "LockDatabase");
    EXPECT_EQ(calls[2].name, "CreateServiceEntry");
    EXPECT_EQ(calls[2].access, 0x00000002u);
    const platform::ServiceCreation& c = control.Creation();
    EXPECT_EQ(c.serviceType, 0x110u);
    EXPECT_EQ(c.startType, 2u);
    EXPECT_EQ(c.errorControl, 0u);
    EXPECT_EQ(c.loadOrderGroup, nullptr);
    EXPECT_EQ(c.serviceStartName, nullptr);
    EXPECT_EQ(c.password, nullptr);
    EXPECT_EQ(control.CreationBinaryPath(), L"\"C:\\Agent\\KXWkstnSvc.exe\"");
    std::wstring deps(L"lanmanworkstation\0\0", 19);
    EXPECT_EQ(control.CreationDependencies(), std::vector<wchar_t>(deps.begin(), deps.end()));
    EXPECT_EQ(control.Description(), L"Description");
    EXPECT_EQ(EventIds(), std::vector<uint32_t>{0x40000002});
    EXPECT_EQ(control.OpenHandles(), 0);
    EXPECT_FALSE(control.Locked());
}

TEST_F(CommandTest, InstallTwiceFailsWithMessageThreeAndTheCode) {
    control.FailWith("CreateServiceEntry", 1073);
    EXPECT_EQ(Command({L"-install"}), 1073);
    ASSERT_EQ(service.shown.size(), 1u);
    EXPECT_EQ(service.shown[0].rfind(
                  L"KXWkstnSvc::Install, Failed call to CreateService, Error:1073, ", 0),
              0u)
        << service.shown[0];
    EXPECT_EQ(control.OpenHandles(), 0);
    EXPECT_FALSE(control.Locked());
    EXPECT_TRUE(EventIds().empty());
}

TEST_F(CommandTest, SilentInstallFailureShowsNothing) {
    control.FailWith("OpenManager", 5);
    EXPECT_EQ(Command({L"-install", L"-silent"}), 5);
    EXPECT_TRUE(service.shown.empty());
}

TEST_F(CommandTest, InstallFailuresGiveTheirOwnMessages) {
    control.FailWith("LockDatabase", 1055);
    EXPECT_EQ(Command({L"-install"}), 1055);
    ASSERT_EQ(service.shown.size(), 1u);
    EXPECT_EQ(
        service.shown[0].rfind(L"KXWkstnSvc::Install, Failed call to lock SCM, Error:1055", 0), 0u);
    EXPECT_EQ(control.OpenHandles(), 0);
}

TEST_F(CommandTest, MessageFileDefaultsToTheExecutableWithDllExtension) {
    service.SetEventLogging(false);
    service.SetMessageFile(L"");
    EXPECT_EQ(Command({L"-install"}), 0);
    EXPECT_EQ(service.MessageFile(), L"");  // only with event logging
    EXPECT_TRUE(EventIds().empty());
}

TEST_F(CommandTest, StartOnARunningServiceSendsNothingAndSucceeds) {
    control.SetState(platform::kServiceRunning);
    EXPECT_EQ(Command({L"-start"}), 0);
    for (const std::string& name : control.CallNames()) {
        EXPECT_NE(name, "StartServiceProcess");
        EXPECT_NE(name, "SendControl");
    }
    EXPECT_EQ(control.OpenHandles(), 0);
    EXPECT_EQ(clock.TotalSlept(), 0u);
}

TEST_F(CommandTest, StartWaitsForRunningWithTheOperationsAccess) {
    control.SetStates({platform::kServiceStopped, platform::kServiceStartPending,
                       platform::kServiceStartPending, platform::kServiceRunning});
    EXPECT_EQ(Command({L"-start"}), 0);
    auto calls = control.Calls();
    EXPECT_EQ(calls[0].access, 0x00000009u);
    EXPECT_EQ(calls[1].name, "OpenServiceEntry");
    EXPECT_EQ(calls[1].access, 0x000F0014u);
    EXPECT_EQ(clock.TotalSlept(), 500u);  // two polls of 250 ms
    EXPECT_EQ(control.OpenHandles(), 0);
}

TEST_F(CommandTest, EachStateCommandSendsItsRequest) {
    struct Case {
        const wchar_t* argument;
        uint32_t access;
        uint32_t control;
        uint32_t reached;
    };
    const Case cases[] = {{L"-pause", 0x000F0044, 2, platform::kServicePaused},
                          {L"-continue", 0x000F0044, 3, platform::kServiceRunning},
                          {L"-stop", 0x000F0024, 1, platform::kServiceStopped}};
    for (const Case& c : cases) {
        CFakeServiceControl fresh;
        CFakeEventLog freshLog;
        CCommandService other(fresh, freshLog);
        fresh.SetStates({c.reached == platform::kServicePaused ? platform::kServiceRunning
                                                               : platform::kServicePaused,
                         c.reached});
        if (c.reached == platform::kServiceStopped) {
            fresh.SetStates({platform::kServiceRunning, platform::kServiceStopped});
        }
        other.SetProcessArguments({L"x", c.argument});
        CNTServiceCommandLineInfo info;
        other.ParseCommandLine(info);
        EXPECT_EQ(other.ProcessCommand(info), 0) << c.argument;
        auto calls = fresh.Calls();
        EXPECT_EQ(calls[1].access, c.access) << c.argument;
        bool sent = false;
        for (const auto& call : calls)
            sent |= call.name == "SendControl" && call.access == c.control;
        EXPECT_TRUE(sent) << c.argument;
    }
}

TEST_F(CommandTest, WaitTimeoutsGiveErrorFourteenSixty) {
    control.SetState(platform::kServiceRunning);
    // -t:5000: the wait gives up once more than 5 seconds have passed.
    EXPECT_EQ(Command({L"-t:5000", L"-stop"}), 1460);
    EXPECT_EQ(clock.TotalSlept(), 5250u);
    ASSERT_EQ(service.shown.size(), 1u);
    EXPECT_EQ(service.shown[0].rfind(L"Failed to stop the service, Error:1460, ", 0), 0u);
    EXPECT_EQ(EventIds(), std::vector<uint32_t>{0xC000000F});
    EXPECT_EQ(log.Reports()[0].strings.size(), 2u);
    EXPECT_EQ(log.Reports()[0].strings[1], L"1");  // the awaited state
    EXPECT_EQ(control.OpenHandles(), 0);

    // -t:abc is 0: the wait fails after the first poll.
    const uint64_t before = clock.TotalSlept();
    EXPECT_EQ(Command({L"-stop", L"-t:abc"}), 1460);
    EXPECT_EQ(clock.TotalSlept() - before, 250u);
}

TEST_F(CommandTest, StateCommandFailuresReportTheirEventsEvenWithoutEventLogging) {
    service.SetEventLogging(false);
    control.FailWith("OpenManager", 5);
    EXPECT_EQ(Command({L"-start"}), 5);
    CFakeServiceControl missing;
    CFakeEventLog missingLog;
    CCommandService other(missing, missingLog);
    missing.FailWith("OpenServiceEntry", 1060);
    other.SetProcessArguments({L"x", L"-stop"});
    CNTServiceCommandLineInfo info;
    other.ParseCommandLine(info);
    EXPECT_EQ(other.ProcessCommand(info), 1060);
    ASSERT_EQ(other.shown.size(), 1u);
    EXPECT_EQ(other.shown[0].rfind(L"Failed to stop the service, Error:1060, ", 0), 0u);
    ASSERT_EQ(missingLog.Reports().size(), 1u);
    EXPECT_EQ(missingLog.Reports()[0].eventId, 0xC0000008u);
    EXPECT_EQ(missingLog.Reports()[0].type, 1);
    EXPECT_EQ(missingLog.Reports()[0].strings[0].rfind(L"1060, ", 0), 0u);
    EXPECT_EQ(missing.OpenHandles(), 0);
    ASSERT_EQ(log.Reports().size(), 1u);
    EXPECT_EQ(log.Reports()[0].eventId, 0xC0000007u);
}

TEST_F(CommandTest, RequestFailuresReportTheOperationsEvent) {
    control.SetState(platform::kServiceRunning);
    control.FailWith("SendControl", 1061);
    EXPECT_EQ(Command({L"-stop"}), 1061);
    ASSERT_EQ(EventIds(), std::vector<uint32_t>{0xC000000C});
    EXPECT_EQ(log.Reports()[0].strings, std::vector<std::wstring>{L"1061"});  // the code alone
    EXPECT_EQ(Command({L"-pause"}), 1061);
    EXPECT_EQ(EventIds().back(), 0xC000000Eu);
    control.SetState(platform::kServiceStopped);
    control.FailWith("StartServiceProcess", 1058);
    EXPECT_EQ(Command({L"-start"}), 1058);
    EXPECT_EQ(EventIds().back(), 0xC000000Bu);
    control.FailWith("QueryStatus", 6);
    EXPECT_EQ(Command({L"-continue"}), 6);
    EXPECT_EQ(EventIds().back(), 0xC0000010u);
    EXPECT_EQ(control.OpenHandles(), 0);
}

TEST_F(CommandTest, UninstallStopsWaitsDeletesAndRemovesTheSource) {
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Workstation Agent", L"x.dll", 7));
    control.SetStates(
        {platform::kServiceRunning, platform::kServiceStopPending, platform::kServiceStopped});
    EXPECT_EQ(Command({L"-uninstall"}), 0);
    auto calls = control.Calls();
    EXPECT_EQ(calls[0].access, 0x00000009u);
    EXPECT_EQ(calls[1].access, 0x00010024u);
    EXPECT_EQ(SentControl(), 1u);
    EXPECT_EQ(EventIds(), std::vector<uint32_t>{0x40000003});
    EXPECT_EQ(control.OpenHandles(), 0);
}

TEST_F(CommandTest, UninstallGoesOnWhenTheStopRequestFails) {
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Workstation Agent", L"x.dll", 7));
    control.SetStates({platform::kServiceRunning, platform::kServiceStopped});
    control.FailWith("SendControl", 1061);
    EXPECT_EQ(Command({L"-remove"}), 1061);  // the stored code is the exit code
    EXPECT_TRUE(service.shown.empty());      // the command itself succeeded
    EXPECT_EQ(control.CallNames().back(), "CloseServiceHandle");
    bool deleted = false;
    for (const std::string& name : control.CallNames()) deleted |= name == "DeleteServiceEntry";
    EXPECT_TRUE(deleted);
}

TEST_F(CommandTest, UninstallFailsWithMessageNineWhenTheSourceIsGone) {
    EXPECT_EQ(Command({L"-uninstall"}), 2);
    ASSERT_EQ(service.shown.size(), 1u);
    EXPECT_EQ(service.shown[0].rfind(L"KXWkstnSvc::Uninstall, Failed call to remove service as "
                                     L"an event log source, Error:2, ",
                                     0),
              0u);
}

TEST_F(CommandTest, UninstallFailsWithMessageSevenWhenTheServiceDoesNotStop) {
    control.SetState(platform::kServiceRunning);
    EXPECT_EQ(Command({L"-uninstall", L"-t:1000"}), 1460);
    ASSERT_EQ(service.shown.size(), 1u);
    EXPECT_EQ(service.shown[0].rfind(
                  L"KXWkstnSvc::Uninstall, Failed call to WaitForStop, Error:1460, ", 0),
              0u);
    for (const std::string& name : control.CallNames()) EXPECT_NE(name, "DeleteServiceEntry");
    EXPECT_EQ(control.OpenHandles(), 0);
}

TEST_F(CommandTest, UninstallFailureEventsFollowEventLogging) {
    control.FailWith("DeleteServiceEntry", 1072);
    EXPECT_EQ(Command({L"-uninstall"}), 1072);
    EXPECT_EQ(EventIds(), std::vector<uint32_t>{0xC0000009});
    service.SetEventLogging(false);
    control.FailWith("OpenServiceEntry", 1060);
    EXPECT_EQ(Command({L"-uninstall"}), 1060);
    EXPECT_EQ(EventIds().size(), 1u);
    ASSERT_EQ(service.shown.size(), 2u);
    EXPECT_EQ(service.shown[1].rfind(L"KXWkstnSvc::Uninstall, Failed call to OpenService, "
                                     L"Error:1060, ",
                                     0),
              0u);
}

TEST_F(CommandTest, WaitForStateWithoutTimeoutWaitsUntilTheState) {
    std::vector<uint32_t> states(40, platform::kServiceStopPending);
    states.push_back(platform::kServiceStopped);
    control.SetStates(states);
    void* manager = control.OpenManager(nullptr, nullptr, 0);
    EXPECT_TRUE(
        service.WaitForState(manager, CNTService::kInfinite, platform::kServiceStopped, 250));
    EXPECT_EQ(clock.TotalSlept(), 40u * 250u);
    control.CloseServiceHandle(manager);
    control.FailWith("QueryStatus", 6);
    EXPECT_FALSE(service.WaitForState(manager, 1000, platform::kServiceStopped, 250));
    EXPECT_EQ(platform::GetLastErrorCode(), 6u);
}
