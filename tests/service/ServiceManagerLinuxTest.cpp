// The Linux service manager with the real executable: console mode and its
// signals, a service process that dies, a program that never connects, the
// owner-only control socket, deletion of a running service, access rights
// and the database lock.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RegistrySandbox.h"
#include "ServiceProgram.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/ServiceControl.h"

namespace platform = kx::platform;

namespace {

constexpr const wchar_t* kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\KXWkstnSvc";

std::filesystem::path ServicesFolder() {
    return std::filesystem::path(kx::WideToUtf8(platform::GetMachineRoot())) / "Services";
}

// Polls (briefly, in real time: these run real processes) until done.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

bool Logged(uint32_t eventId) {
    for (const LoggedEvent& event : ApplicationEvents()) {
        if (event.eventId == eventId) return true;
    }
    return false;
}

// The service's process id from its status file.
pid_t ServicePid() {
    std::ifstream in(ServicesFolder() / "KXWkstnSvc.status");
    std::string token;
    pid_t pid = 0;
    in >> token >> pid;
    return pid;
}

// The manager's handles for one test, closed at the end.
class CManager {
public:
    explicit CManager(uint32_t access = 0xF003F)
        : control_(platform::GetServiceControl()),
          manager_(control_.OpenManager(nullptr, L"ServicesActive", access)) {}
    ~CManager() {
        for (void* handle : handles_) control_.CloseServiceHandle(handle);
        if (manager_) control_.CloseServiceHandle(manager_);
    }
    CManager(const CManager&) = delete;
    CManager& operator=(const CManager&) = delete;

    platform::IServiceControl& Control() { return control_; }
    platform::ServiceHandle Get() { return manager_; }
    platform::ServiceHandle Open(const wchar_t* name, uint32_t access) {
        platform::ServiceHandle handle = control_.OpenServiceEntry(manager_, name, access);
        if (handle) handles_.push_back(handle);
        return handle;
    }
    platform::ServiceHandle Create(const wchar_t* name, const std::wstring& image) {
        platform::ServiceCreation creation;
        creation.serviceName = name;
        creation.displayName = name;
        creation.desiredAccess = 0xF01FF;
        creation.binaryPathName = image.c_str();
        platform::ServiceHandle handle = control_.CreateServiceEntry(manager_, creation);
        if (handle) handles_.push_back(handle);
        return handle;
    }

private:
    platform::IServiceControl& control_;
    platform::ServiceHandle manager_;
    std::vector<platform::ServiceHandle> handles_;
};

class ServiceManagerLinuxTest : public ::testing::Test {
protected:
    void TearDown() override { RunServiceProgram("-uninstall -silent"); }

    // Runs "-debug" in the background; its exit code arrives in a file.
    void StartConsoleMode() {
        const std::string root = kx::WideToUtf8(platform::GetMachineRoot());
        const std::string command = "(KX_MACHINE_ROOT='" + root +
                                    "' '" KX_SERVICE_EXECUTABLE
                                    "' -debug >/dev/null 2>&1 & echo $! >'" +
                                    Path("pid") + "'; wait $!; echo $? >'" + Path("rc") +
                                    ".tmp'; mv '" + Path("rc") + ".tmp' '" + Path("rc") + "') &";
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_TRUE(WaitFor([] { return Logged(0x40000001); }));
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(Path("pid")); }));
    }
    int ConsolePid() {
        std::ifstream in(Path("pid"));
        int pid = 0;
        in >> pid;
        return pid;
    }
    int ConsoleExitCode() {
        if (!WaitFor([&] { return std::filesystem::exists(Path("rc")); })) return -1;
        std::ifstream in(Path("rc"));
        int rc = -1;
        in >> rc;
        return rc;
    }
    std::string Path(const std::string& name) const { return (scratch.Path() / name).string(); }

    CRegistrySandbox machine;
    CTempDirectory scratch;
};

}  // namespace

TEST_F(ServiceManagerLinuxTest, ConsoleModeStopsOnInterrupt) {
    StartConsoleMode();
    ASSERT_EQ(kill(ConsolePid(), SIGINT), 0);
    EXPECT_EQ(ConsoleExitCode(), 0);
    EXPECT_TRUE(Logged(0x40000004));
}

TEST_F(ServiceManagerLinuxTest, ConsoleModeStopsOnTerminateAndOnAClosedTerminal) {
    for (int signal : {SIGTERM, SIGHUP}) {
        std::filesystem::remove(Path("rc"));
        std::filesystem::remove(Path("pid"));
        platform::SetMachineRootForTesting((scratch.Path() / std::to_string(signal)).wstring());
        StartConsoleMode();
        ASSERT_EQ(kill(ConsolePid(), signal), 0);
        EXPECT_EQ(ConsoleExitCode(), 0) << signal;
        EXPECT_TRUE(Logged(0x40000004)) << signal;
    }
    platform::SetMachineRootForTesting(machine.MachineRoot());
}

TEST_F(ServiceManagerLinuxTest, AServiceProcessThatDiesIsSeenStoppedWithItsExitCode) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    const pid_t pid = ServicePid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    platform::ServiceStatus status;
    uint32_t error = 0;
    ASSERT_TRUE(WaitFor([&] {
        return QueryServiceState(L"KXWkstnSvc", &status, &error) &&
               status.currentState == platform::kServiceStopped;
    }));
    EXPECT_EQ(status.win32ExitCode, 1067u);
    EXPECT_EQ(status.serviceSpecificExitCode, 128u + SIGKILL);
    EXPECT_EQ(ControlServiceByName(L"KXWkstnSvc", 1), 1062u);
    // It starts again as usual.
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    EXPECT_NE(ServicePid(), pid);
    EXPECT_EQ(RunServiceProgram("-stop").exitCode, 0);
}

TEST_F(ServiceManagerLinuxTest, AProgramThatNeverConnectsFailsTheStartWith1053) {
    CManager manager;
    platform::ServiceHandle never = manager.Create(L"NeverConnects", L"/bin/true");
    ASSERT_NE(never, nullptr);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(manager.Control().StartServiceProcess(never, 0, nullptr));
    EXPECT_EQ(platform::GetLastErrorCode(), 1053u);
    // Seen as soon as the process has ended, not after the start time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));

    platform::ServiceHandle missing = manager.Create(L"MissingImage", L"/nonexistent/agent");
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(manager.Control().StartServiceProcess(missing, 0, nullptr));
    EXPECT_EQ(platform::GetLastErrorCode(), 2u);
}

TEST_F(ServiceManagerLinuxTest, OnlyTheOwnerReachesTheControlSocket) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    struct stat folder {};
    struct stat socket {};
    ASSERT_EQ(stat(ServicesFolder().c_str(), &folder), 0);
    ASSERT_EQ(stat((ServicesFolder() / "KXWkstnSvc.sock").c_str(), &socket), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(socket.st_mode & 0777, 0600u);
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(ControlServiceByName(L"KXWkstnSvc", platform::kControlInterrogate), 0u);
    EXPECT_EQ(RunServiceProgram("-stop").exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(ServicesFolder() / "KXWkstnSvc.sock"));
}

TEST_F(ServiceManagerLinuxTest, ARunningServiceDeletedGoesWhenItStops) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    {
        CManager manager;
        platform::ServiceHandle service = manager.Open(L"kxwkstnsvc", 0x10000);
        ASSERT_NE(service, nullptr);
        EXPECT_TRUE(manager.Control().DeleteServiceEntry(service));
        EXPECT_FALSE(manager.Control().DeleteServiceEntry(service));
        EXPECT_EQ(platform::GetLastErrorCode(), 1072u);
        EXPECT_TRUE(MachineKeyExists(kServiceKey));
        EXPECT_EQ(ReadMachineValue(kServiceKey, L"DeleteFlag"), L"1");
        EXPECT_EQ(manager.Create(L"KXWkstnSvc", L"/bin/true"), nullptr);
        EXPECT_EQ(platform::GetLastErrorCode(), 1072u);
    }
    EXPECT_EQ(RunServiceProgram("-stop").exitCode, 0);
    EXPECT_FALSE(MachineKeyExists(kServiceKey));
}

TEST_F(ServiceManagerLinuxTest, AccessRightsAndTheDatabaseLock) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    CManager manager;
    platform::ServiceHandle query = manager.Open(L"KXWkstnSvc", platform::kServiceQueryStatus);
    ASSERT_NE(query, nullptr);
    EXPECT_FALSE(manager.Control().StartServiceProcess(query, 0, nullptr));
    EXPECT_EQ(platform::GetLastErrorCode(), 5u);
    platform::ServiceStatus status;
    EXPECT_FALSE(manager.Control().SendControl(query, platform::kControlStop, &status));
    EXPECT_EQ(platform::GetLastErrorCode(), 5u);
    EXPECT_FALSE(manager.Control().SendControl(query, 127, &status));
    EXPECT_EQ(platform::GetLastErrorCode(), 87u);
    EXPECT_EQ(manager.Open(L"NoSuchService", platform::kServiceQueryStatus), nullptr);
    EXPECT_EQ(platform::GetLastErrorCode(), 1060u);

    CManager connectOnly(platform::kManagerConnect);
    EXPECT_EQ(connectOnly.Control().LockDatabase(connectOnly.Get()), nullptr);
    EXPECT_EQ(platform::GetLastErrorCode(), 5u);

    // While another holder has the lock, -install fails with message 2.
    platform::ServiceLockHandle lock = manager.Control().LockDatabase(manager.Get());
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(manager.Control().LockDatabase(manager.Get()), nullptr);
    EXPECT_EQ(platform::GetLastErrorCode(), 1055u);
    ProgramResult install = RunServiceProgram("-install");
    EXPECT_EQ(install.exitCode, ExitCodeOf(1055));
    EXPECT_NE(install.output.find("KXWkstnSvc::Install, Failed call to lock SCM, Error:1055, "),
              std::string::npos)
        << install.output;
    EXPECT_TRUE(manager.Control().UnlockDatabase(lock));
}

TEST_F(ServiceManagerLinuxTest, BootStartsTheAutomaticServicesAndShutdownStopsThem) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);  // automatic start
    {
        CManager manager;  // a demand-start program that would fail a start
        ASSERT_NE(manager.Create(L"OnDemand", L"/bin/true"), nullptr);
    }
    const std::string tool = "KX_MACHINE_ROOT='" + kx::WideToUtf8(platform::GetMachineRoot()) +
                             "' '" KX_SERVICES_TOOL "' ";
    const std::string out = Path("tool.out");
    auto run = [&](const std::string& arguments) {
        int status = std::system((tool + arguments + " >'" + out + "' 2>&1").c_str());
        return (status >> 8) & 0xFF;
    };
    EXPECT_EQ(run("boot"), 0) << ReadFileBytes(out);
    EXPECT_EQ(ReadFileBytes(out), "KXWkstnSvc: running\n");
    platform::ServiceStatus status;
    uint32_t error = 0;
    ASSERT_TRUE(QueryServiceState(L"KXWkstnSvc", &status, &error));
    EXPECT_EQ(status.currentState, platform::kServiceRunning);
    EXPECT_EQ(run("boot"), 0);  // already running is fine
    EXPECT_EQ(run("list"), 0);
    std::string list = ReadFileBytes(out);
    EXPECT_NE(list.find("KXWkstnSvc               running          start type 2"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("OnDemand                 stopped          start type 3"),
              std::string::npos)
        << list;
    EXPECT_EQ(run("shutdown"), 0);
    EXPECT_EQ(ReadFileBytes(out), "KXWkstnSvc: stopped\n");
    ASSERT_TRUE(QueryServiceState(L"KXWkstnSvc", &status, &error));
    EXPECT_EQ(status.currentState, platform::kServiceStopped);
    EXPECT_EQ(run("bogus"), 2);
}

TEST_F(ServiceManagerLinuxTest, TheEventLogToolShowsTheMessageFilesTexts) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    ASSERT_EQ(ControlServiceByName(L"KXWkstnSvc", 201), 0u);
    ASSERT_EQ(RunServiceProgram("-stop").exitCode, 0);
    const std::string root = kx::WideToUtf8(platform::GetMachineRoot());
    const std::string tool = "KX_MACHINE_ROOT='" + root + "' '" KX_EVENTLOG_TOOL "' ";
    const std::string out = Path("list.out");
    ASSERT_EQ(std::system((tool + "write --log Application --source 'Korvex Agent' --id "
                                  "0x40000011 --type error -- 'Error opening the log' >/dev/null")
                              .c_str()),
              0);
    ASSERT_EQ(std::system((tool + "list --log Application >'" + out + "'").c_str()), 0);
    const std::string list = ReadFileBytes(out);
    for (const char* text :
         {"Message:        The Korvex Workstation Agent service was installed.\n",
          "Message:        The Korvex Workstation Agent service has started.\n",
          "Message:        A user-defined control was received; the control value is now 500.\n",
          "Message:        The Korvex Workstation Agent service was asked to stop and is "
          "stopping.\n",
          "Message:        Error opening the log\n"}) {
        EXPECT_NE(list.find(text), std::string::npos) << text << "\n" << list;
    }
}
