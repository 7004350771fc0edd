// The agent's service: identity, Run's status and events around the agent's
// lifetime, the stop flag, the user control value, the usage text, and the
// event-log source registration in the registry.

#include "service/KXWkstnSvc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <thread>

#include "DefinitionsProbe.h"
#include "FakeEventLog.h"
#include "FakeServiceControl.h"
#include "RegistrySandbox.h"
#include "common/ManualClock.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kApplication =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
const std::wstring kSandboxKeys[] = {
    std::wstring(L"HKEY_LOCAL_MACHINE\\") + kApplication + L"\\Korvex Workstation Agent",
    std::wstring(L"HKEY_LOCAL_MACHINE\\") + kApplication + L"\\Korvex Test Source",
    std::wstring(L"HKEY_LOCAL_MACHINE\\") + kApplication + L"\\Korvex Other Source",
    std::wstring(L"HKEY_LOCAL_MACHINE\\") + kApplication + L"\\Korvex Agent"};

// Records the agent's life instead of running it.
class CObservedService : public CKXWkstnSvc {
public:
    CObservedService(CFakeServiceControl& control, CFakeEventLog& log)
        : CKXWkstnSvc(control, log), control_(control), log_(log) {}

    int agentsStarted = 0;
    int agentsStopped = 0;
    bool failStart = false;
    std::function<void()> onStart;  // runs on the thread that starts the agent
    // What had been reported when the agent was built.
    std::size_t reportsAtStart = 0;
    std::size_t eventsAtStart = 0;

protected:
    std::unique_ptr<CAgentScope> StartAgent() override {
        reportsAtStart = control_.Reports().size();
        eventsAtStart = log_.Reports().size();
        if (failStart) throw std::bad_alloc();
        if (onStart) onStart();
        ++agentsStarted;
        class CCounted : public CAgentScope {
        public:
            explicit CCounted(int& stopped) : stopped_(stopped) {}
            ~CCounted() override { ++stopped_; }

        private:
            int& stopped_;
        };
        return std::make_unique<CCounted>(agentsStopped);
    }

private:
    CFakeServiceControl& control_;
    CFakeEventLog& log_;
};

std::vector<std::wstring> ReadSources() {
    platform::RegistryKeyHandle key = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, kApplication, platform::kKeyRead,
                                  &key) != 0) {
        return {};
    }
    uint32_t size = 0;
    std::string bytes;
    if (platform::RegistryQueryValue(key, L"Sources", nullptr, nullptr, &size) == 0) {
        bytes.resize(size);
        platform::RegistryQueryValue(key, L"Sources", nullptr, bytes.data(), &size);
    }
    platform::RegistryCloseKey(key);
    std::vector<std::wstring> sources;
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    for (std::size_t start = 0; start < text.size() && text[start];) {
        std::size_t end = text.find(L'\0', start);
        sources.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return sources;
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

std::wstring ReadString(const std::wstring& subkey, const std::wstring& name) {
    platform::RegistryKeyHandle key = 0;
    if (platform::RegistryOpenKey(platform::kHkeyLocalMachine, subkey, platform::kKeyRead, &key)) {
        return L"(no key)";
    }
    uint32_t size = 0;
    std::string bytes;
    if (platform::RegistryQueryValue(key, name, nullptr, nullptr, &size) == 0) {
        bytes.resize(size);
        platform::RegistryQueryValue(key, name, nullptr, bytes.data(), &size);
    }
    platform::RegistryCloseKey(key);
    std::wstring text = kx::Utf16LEToWide(bytes.data(), bytes.size());
    return text.substr(0, text.find(L'\0'));
}

class KXWkstnSvcTest : public ::testing::Test {
protected:
    KXWkstnSvcTest() { platform::SetExecutablePathForTesting(kExecutable); }
    ~KXWkstnSvcTest() override { platform::SetExecutablePathForTesting(L""); }

#ifdef _WIN32
    static constexpr const wchar_t* kExecutable = L"C:\\Program Files\\Korvex\\KXWkstnSvc.exe";
    static constexpr const wchar_t* kMessageFile = L"C:\\Program Files\\Korvex\\KXWkstnSvc.dll";
#else
    static constexpr const wchar_t* kExecutable = L"/opt/korvex/KXWkstnSvc";
    static constexpr const wchar_t* kMessageFile = L"/opt/korvex/KXWkstnSvc.dll";
#endif

    CRegistrySandbox registry{{std::begin(kSandboxKeys), std::end(kSandboxKeys)}};
    CManualClock clock;
    CScopedClock scopedClock{clock};
    CFakeServiceControl control;
    CFakeEventLog log;
};

}  // namespace

TEST_F(KXWkstnSvcTest, ConstructionRegistersTheSourceWithTheMessageFileBesideTheExecutable) {
    CKXWkstnSvc service(control, log);
    EXPECT_EQ(service.ServiceName(), L"KXWkstnSvc");
    EXPECT_EQ(service.DisplayName(), L"Korvex Workstation Agent");
    EXPECT_EQ(service.MessageFilePath(), kMessageFile);
    const std::wstring sourceKey = std::wstring(kApplication) + L"\\Korvex Workstation Agent";
    EXPECT_EQ(ReadString(sourceKey, L"EventMessageFile"), kMessageFile);
    EXPECT_TRUE(Contains(ReadSources(), L"Korvex Workstation Agent"));
}

// Wine keeps no failure actions (ChangeServiceConfig2W stores nothing, the
// query fails with 124): what -install asks for is checked here.
TEST_F(KXWkstnSvcTest, InstallSetsTheRecoveryWithTheStartRightARestartNeeds) {
    CKXWkstnSvc service(control, log);
    std::wstring message;
    uint32_t error = 0;
    ASSERT_TRUE(service.Install(message, error)) << kx::WideToUtf8(message);
    std::vector<std::string> names;
    for (const CFakeServiceControl::Call& call : control.Calls()) {
        if (call.name == "CreateServiceEntry") {
            EXPECT_EQ(call.access, 0x12u);
        } else if (call.name == "ChangeFailureActionsFlag") {
            EXPECT_EQ(call.access, 1u);
        }
        names.push_back(call.name);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "ChangeFailureActionsFlag"), names.end());
    platform::ServiceFailureActions actions;
    bool onNonCrashFailures = false;
    ASSERT_TRUE(control.QueryFailureActions(nullptr, &actions, &onNonCrashFailures));
    EXPECT_EQ(actions.resetPeriod, 86400u);
    ASSERT_EQ(actions.actions.size(), 3u);
    const uint32_t delays[] = {60000, 60000, 300000};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(actions.actions[i].type, platform::kActionRestart);
        EXPECT_EQ(actions.actions[i].delay, delays[i]);
    }
    EXPECT_TRUE(onNonCrashFailures);
}

TEST_F(KXWkstnSvcTest, RunReportsRunningBeforeTheAgentStartsAndStopPendingAfterTheStop) {
    CObservedService service(control, log);
    int polls = 0;
    clock.SetSleepHook([&](uint32_t milliseconds) {
        EXPECT_EQ(milliseconds, 500u);
        if (++polls == 3) control.HandlerEx()(platform::kControlStop, 0, nullptr, nullptr);
    });
    service.ServiceMain(0, nullptr);
    EXPECT_EQ(polls, 3);  // the stop is seen at the next poll
    EXPECT_EQ(service.agentsStarted, 1);
    EXPECT_EQ(service.agentsStopped, 1);

    auto reports = control.Reports();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0].currentState, platform::kServiceStartPending);
    EXPECT_EQ(reports[0].checkPoint, 1u);
    EXPECT_EQ(reports[0].waitHint, 1000u);
    EXPECT_EQ(reports[0].controlsAccepted, 0u);
    EXPECT_EQ(reports[1].currentState, platform::kServiceRunning);
    EXPECT_EQ(reports[1].controlsAccepted, 1u);
    EXPECT_EQ(reports[1].waitHint, 0u);
    EXPECT_EQ(service.reportsAtStart, 2u);  // the agent is built after running was reported
    EXPECT_EQ(service.eventsAtStart, 1u);   // and after the started event
    const auto& stopPending = reports[reports.size() - 2];
    EXPECT_EQ(stopPending.currentState, platform::kServiceStopPending);
    EXPECT_EQ(stopPending.checkPoint, 1u);
    EXPECT_EQ(stopPending.waitHint, 10000u);
    EXPECT_EQ(reports.back().currentState, platform::kServiceStopped);
    EXPECT_EQ(reports.back().win32ExitCode, 0u);

    auto events = log.Reports();
    ASSERT_EQ(events.size(), 2u);  // OnStop itself reports nothing
    EXPECT_EQ(events[0].eventId, 0x40000001u);
    EXPECT_EQ(events[1].eventId, 0x40000004u);
    for (const auto& event : events) {
        EXPECT_EQ(event.type, 4);
        EXPECT_EQ(event.strings, std::vector<std::wstring>{L"Korvex Workstation Agent"});
    }
}

// The agent loads its definitions on the thread that starts it, and their
// property rules make directory path objects (COM objects on Windows): that
// thread has COM, whether the dispatcher started it or the console mode
// runs it.
TEST_F(KXWkstnSvcTest, TheServiceAndConsoleThreadsCanMakeTheDefinitionsPathObjects) {
    for (bool console : {false, true}) {
        CObservedService service(control, log);
        uint32_t result = 0xFFFFFFFF;
        service.onStart = [&] {
            result = LoadDefinitionsWithAPathObject();
            service.OnStop();
        };
        // A thread of its own, as the dispatcher's is: nothing set COM up on it.
        std::thread([&] { console ? service.DebugRun() : service.ServiceMain(0, nullptr); }).join();
        EXPECT_EQ(result, 0u) << (console ? "console mode" : "service") << std::hex << ": 0x"
                              << result;
    }
}

TEST_F(KXWkstnSvcTest, AnAgentThatCannotStartEndsTheServiceStoppedWithAnError) {
    CObservedService service(control, log);
    service.failStart = true;
    service.ServiceMain(0, nullptr);
    EXPECT_EQ(service.agentsStarted, 0);
    auto reports = control.Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().currentState, platform::kServiceStopped);
    EXPECT_EQ(reports.back().win32ExitCode, 8u);
    EXPECT_EQ(clock.TotalSlept(), 0u);  // no wait loop without an agent
}

TEST_F(KXWkstnSvcTest, PauseAndContinueOnlyChangeTheFlag) {
    CKXWkstnSvc service(control, log);
    service.OnPause();
    EXPECT_TRUE(service.Paused());
    service.OnContinue();
    EXPECT_FALSE(service.Paused());
    EXPECT_TRUE(log.Reports().empty());
}

TEST_F(KXWkstnSvcTest, UserControlValueDoublesHalvesAndWraps) {
    CKXWkstnSvc service(control, log);
    service.OnUserControl(200);
    EXPECT_EQ(service.UserControlValue(), 2000u);
    service.OnUserControl(201);
    service.OnUserControl(255);
    EXPECT_EQ(service.UserControlValue(), 500u);
    EXPECT_EQ(log.Reports()[0].eventId, 0x40000012u);
    EXPECT_EQ(log.Reports()[0].strings, std::vector<std::wstring>{L"2000"});
    EXPECT_EQ(log.Reports()[2].strings, std::vector<std::wstring>{L"500"});

    CFakeEventLog wrapLog;
    CKXWkstnSvc wrap(control, wrapLog);
    for (int i = 0; i < 22; ++i) wrap.OnUserControl(128);
    auto reports = wrapLog.Reports();
    ASSERT_EQ(reports.size(), 22u);
    EXPECT_EQ(reports[20].strings[0], L"2097152000");  // 21 doublings
    EXPECT_EQ(reports[21].strings[0], L"-100663296");  // the 22nd passes 2^31
    for (int i = 22; i < 29; ++i) wrap.OnUserControl(150);
    EXPECT_EQ(wrap.UserControlValue(), 0u);
    wrap.OnUserControl(128);
    EXPECT_EQ(wrap.UserControlValue(), 0u);

    CKXWkstnSvc low(control, wrapLog);
    for (int i = 0; i < 11; ++i) low.OnUserControl(201);  // 1000 >> 10 = 0
    EXPECT_EQ(low.UserControlValue(), 0u);
}

TEST_F(KXWkstnSvcTest, HelpShowsTheUsageInAMessageBoxEvenWhenSilent) {
    CKXWkstnSvc service(control, log);
    service.SetProcessArguments({kExecutable, L"-help", L"-silent"});
    CNTServiceCommandLineInfo info;
    service.ParseCommandLine(info);
    EXPECT_EQ(service.ProcessCommand(info), 0);
    ASSERT_EQ(control.MessageBoxes().size(), 1u);
    EXPECT_EQ(
        control.MessageBoxes()[0],
        L"Korvex Worstation Agent Service\nUsage: KXWkstnSvc.exe [ -install | -uninstall | "
        L"-remove | -start | -stop | -quiet | |-t:(timeout in milliseconds) | -help | -? ]\n");
}

TEST_F(KXWkstnSvcTest, EventSourceRegistrationKeepsTheSourcesList) {
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Other Source", L"other.dll", 7));
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Test Source", kMessageFile, 7));
    ASSERT_TRUE(CNTService::RegisterEventSource(L"Korvex Test Source", kMessageFile, 7));
    std::vector<std::wstring> sources = ReadSources();
    EXPECT_EQ(std::count(sources.begin(), sources.end(), L"Korvex Test Source"), 1);
    const std::wstring key = std::wstring(kApplication) + L"\\Korvex Test Source";
    EXPECT_EQ(ReadString(key, L"EventMessageFile"), kMessageFile);

    EXPECT_TRUE(CNTService::RemoveEventSource(L"Korvex Test Source"));
    sources = ReadSources();
    EXPECT_FALSE(Contains(sources, L"Korvex Test Source"));
    EXPECT_TRUE(Contains(sources, L"Korvex Other Source"));
    EXPECT_EQ(ReadString(key, L"EventMessageFile"), L"(no key)");
    EXPECT_FALSE(CNTService::RemoveEventSource(L"Korvex Test Source"));
    EXPECT_TRUE(CNTService::RemoveEventSource(L"Korvex Other Source"));
}
