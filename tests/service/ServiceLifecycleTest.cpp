// The agent's executable through its own command line, as an operator runs
// it: install, start, control, stop and uninstall, and each failure's
// message and exit code. Windows: Wine's service control manager. Linux: the
// project's service manager, with a machine root of the test's own.

#include <gtest/gtest.h>

#include <filesystem>

#include "RegistrySandbox.h"
#include "ServiceProgram.h"
#include "platform/ServiceControl.h"
#include "platform/WineDetection.h"
#include "service/NTService.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\KXWkstnSvc";
constexpr const wchar_t* kApplication =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
const std::wstring kSourceKey = std::wstring(kApplication) + L"\\Korvex Workstation Agent";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool ListHas(const std::wstring& list, const std::wstring& name) {
    return (L"|" + list + L"|").find(L"|" + name + L"|") != std::wstring::npos;
}

uint32_t State() {
    platform::ServiceStatus status;
    uint32_t error = 0;
    return QueryServiceState(L"KXWkstnSvc", &status, &error) ? status.currentState : 0;
}

#ifndef _WIN32
std::vector<uint32_t> EventIds() {
    std::vector<uint32_t> ids;
    for (const LoggedEvent& event : ApplicationEvents()) ids.push_back(event.eventId);
    return ids;
}
#endif

// Restarts after 60 s, 60 s and 5 minutes, the count reset after a day, and
// an exit with an error counted as a failure.
void ExpectRecovery() {
    platform::ServiceFailureActions actions;
    bool onNonCrashFailures = false;
    uint32_t error = 0;
    if (platform::IsRunningUnderWine()) {
        // Wine 8 keeps no failure actions: the query fails with
        // ERROR_INVALID_LEVEL (kx_test_service checks what -install asks for).
        EXPECT_FALSE(QueryServiceRecovery(L"KXWkstnSvc", &actions, &onNonCrashFailures, &error));
        EXPECT_EQ(error, 124u);
        return;
    }
    ASSERT_TRUE(QueryServiceRecovery(L"KXWkstnSvc", &actions, &onNonCrashFailures, &error))
        << error;
    EXPECT_EQ(actions.resetPeriod, 86400u);
    ASSERT_EQ(actions.actions.size(), 3u);
    const uint32_t delays[] = {60000, 60000, 300000};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(actions.actions[i].type, platform::kActionRestart) << i;
        EXPECT_EQ(actions.actions[i].delay, delays[i]) << i;
    }
    EXPECT_TRUE(onNonCrashFailures);
}

class ServiceLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { RunServiceProgram("-uninstall -silent"); }
    void TearDown() override {
        RunServiceProgram("-uninstall -silent");
        CNTService::RemoveEventSource(L"Korvex Lifecycle Other");
    }

    // Linux: a machine of the test's own. Windows: the prefix's registry,
    // with the test's own source key put back afterwards.
    CRegistrySandbox machine{
        {L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
         L"Korvex Lifecycle Other"}};
};

}  // namespace

TEST_F(ServiceLifecycleTest, InstallStartControlStopUninstall) {
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Lifecycle Other", L"other.dll", 7));

    // -install: the service and its event sources.
    ProgramResult install = RunServiceProgram("-install");
    ASSERT_EQ(install.exitCode, 0) << install.output;
    EXPECT_EQ(install.output, "");
    // Quoted: the folder's name has a blank.
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"ImagePath"), L"\"" + ServiceExecutablePath() + L"\"");
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"Start"), L"2");
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"Type"), L"272");  // 0x110
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"DisplayName"), L"Korvex Workstation Agent");
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"Description"), L"Brenwick Korvex Workstation Agent");
    EXPECT_EQ(ReadMachineValue(kServiceKey, L"DependOnService"), L"lanmanworkstation");
    EXPECT_EQ(ReadMachineValue(kSourceKey, L"EventMessageFile"), ServiceMessageFilePath());
    EXPECT_EQ(ReadMachineValue(kSourceKey, L"TypesSupported"), L"7");
    std::wstring sources = ReadMachineValue(kApplication, L"Sources");
    EXPECT_TRUE(ListHas(sources, L"Korvex Workstation Agent")) << sources;
    EXPECT_TRUE(ListHas(sources, L"Korvex Agent")) << sources;
    EXPECT_EQ(State(), platform::kServiceStopped);
    ExpectRecovery();

    // Installing again fails at CreateService.
    ProgramResult again = RunServiceProgram("-install");
    EXPECT_EQ(again.exitCode, ExitCodeOf(1073));
    EXPECT_TRUE(
        Contains(again.output, "KXWkstnSvc::Install, Failed call to CreateService, Error:1073, "))
        << again.output;
    ProgramResult silent = RunServiceProgram("-install -silent");
    EXPECT_EQ(silent.exitCode, ExitCodeOf(1073));
    EXPECT_EQ(silent.output, "");

    // -start: running; a second -start succeeds at once.
    ProgramResult start = RunServiceProgram("-start");
    ASSERT_EQ(start.exitCode, 0) << start.output;
    EXPECT_EQ(State(), platform::kServiceRunning);
    EXPECT_EQ(RunServiceProgram("-start").exitCode, 0);
    EXPECT_EQ(State(), platform::kServiceRunning);

    // Only stop is accepted: pause fails with 1052; a user control gets through.
    ProgramResult pause = RunServiceProgram("-pause");
    EXPECT_EQ(pause.exitCode, ExitCodeOf(1052));
    EXPECT_TRUE(Contains(pause.output, "Failed to pause the service, Error:1052, "))
        << pause.output;
    EXPECT_EQ(ControlServiceByName(L"KXWkstnSvc", 200), 0u);
    EXPECT_EQ(ControlServiceByName(L"KXWkstnSvc", 256), 87u);

    // -stop within the time-out; stopping a stopped service succeeds at once.
    ProgramResult stop = RunServiceProgram("-t:20000 -stop");
    ASSERT_EQ(stop.exitCode, 0) << stop.output;
    EXPECT_EQ(State(), platform::kServiceStopped);
    EXPECT_EQ(RunServiceProgram("/STOP").exitCode, 0);
    EXPECT_EQ(ControlServiceByName(L"KXWkstnSvc", 200), 1062u);

#ifndef _WIN32
    // What was reported, in order (Wine's event log writes nothing): the
    // set-up's uninstall found no service, then installed, started, the
    // refused pause, the user control and the stop.
    std::vector<uint32_t> ids = EventIds();
    std::vector<uint32_t> expected{0xC0000008, 0x40000002, 0x40000001,
                                   0xC000000E, 0x40000012, 0x40000004};
    EXPECT_EQ(ids, expected);
    std::vector<LoggedEvent> events = ApplicationEvents();
    ASSERT_EQ(events.size(), expected.size());
    EXPECT_EQ(events[4].strings, std::vector<std::wstring>{L"2000"});
    EXPECT_EQ(events[1].strings, std::vector<std::wstring>{L"Korvex Workstation Agent"});
#endif

    // -uninstall: the service and its sources go, other sources stay.
    ProgramResult uninstall = RunServiceProgram("-uninstall");
    ASSERT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(MachineKeyExists(kServiceKey));
    EXPECT_FALSE(MachineKeyExists(kSourceKey));
    sources = ReadMachineValue(kApplication, L"Sources");
    EXPECT_FALSE(ListHas(sources, L"Korvex Workstation Agent")) << sources;
    EXPECT_FALSE(ListHas(sources, L"Korvex Agent")) << sources;
    EXPECT_TRUE(ListHas(sources, L"Korvex Lifecycle Other")) << sources;
}

TEST_F(ServiceLifecycleTest, CommandsOnAMissingServiceFailWithTheirMessages) {
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"-uninstall", "KXWkstnSvc::Uninstall, Failed call to OpenService, Error:1060, "},
        {"-start", "Failed to start the service, Error:1060, "},
        {"-stop", "Failed to stop the service, Error:1060, "},
        {"-pause", "Failed to pause the service, Error:1060, "},
        {"-continue", "Failed to continue the service, Error:1060, "},
    };
    for (const Case& c : cases) {
        ProgramResult result = RunServiceProgram(c.arguments);
        EXPECT_EQ(result.exitCode, ExitCodeOf(1060)) << c.arguments;
        EXPECT_TRUE(Contains(result.output, c.message)) << c.arguments << ": " << result.output;
        ProgramResult quiet = RunServiceProgram(std::string(c.arguments) + " -q");
        EXPECT_EQ(quiet.exitCode, ExitCodeOf(1060)) << c.arguments;
        EXPECT_EQ(quiet.output, "") << c.arguments;
    }
}

TEST_F(ServiceLifecycleTest, UninstallStopsARunningService) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    ProgramResult uninstall = RunServiceProgram("-remove -t:20000");
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(MachineKeyExists(kServiceKey));
    platform::ServiceStatus status;
    uint32_t error = 0;
    EXPECT_FALSE(QueryServiceState(L"KXWkstnSvc", &status, &error));
    EXPECT_EQ(error, 1060u);
}

#ifndef _WIN32
// Wine's dispatcher answers a program started by hand only after 10 s; the
// Linux one answers at once.
TEST_F(ServiceLifecycleTest, StartedByHandTheDispatcherFailsWith1063) {
    ProgramResult result = RunServiceProgram("");
    EXPECT_EQ(result.exitCode, ExitCodeOf(1063));
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(RunServiceProgram("stop").exitCode, ExitCodeOf(1063));  // no prefix: no command
}
#endif
