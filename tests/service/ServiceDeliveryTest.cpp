// The installed, started service on Linux delivers what the Security log
// holds: records written with kxeventlog reach the reference server as
// alerts, and a stop in between loses none and sends none twice (what the
// stop flushed to a cache file goes with the next start). The server serves
// tests/pipeline/PipelineDefinitions.xml: 4720 is selected, 4624 is not.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "ServiceProgram.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "platform/MachineRoot.h"
#include "platform/Registry.h"

namespace platform = kx::platform;

namespace {

// The service's process id from the service manager's status file.
pid_t ServicePid() {
    std::ifstream in(std::filesystem::path(kx::WideToUtf8(kx::platform::GetMachineRoot())) /
                     "Services" / "KXWkstnSvc.status");
    std::string token;
    pid_t pid = 0;
    in >> token >> pid;
    return pid;
}

// "FailureActions" as Windows keeps it: reset period, reboot message and
// command (0), the number of actions, their offset (20), then type and delay
// of each.
void SetRestartDelays(uint32_t delay) {
    std::string bytes;
    auto add = [&](uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
    };
    for (uint32_t value : {86400u, 0u, 0u, 3u, 20u}) add(value);
    for (int i = 0; i < 3; ++i) {
        add(kx::platform::kActionRestart);
        add(delay);
    }
    kx::platform::RegistryKeyHandle key = 0;
    ASSERT_EQ(kx::platform::RegistryOpenKey(kx::platform::kHkeyLocalMachine,
                                            L"SYSTEM\\CurrentControlSet\\Services\\KXWkstnSvc",
                                            kx::platform::kKeyWrite, &key),
              0u);
    EXPECT_EQ(kx::platform::RegistrySetValue(key, L"FailureActions", kx::platform::kRegBinary,
                                             bytes.data(), static_cast<uint32_t>(bytes.size())),
              0u);
    kx::platform::RegistryCloseKey(key);
}

// The agent works on its own schedule (a 5 s poll, a 5 s flush, a 10 s
// send): the test waits for it, in real time, up to a bound.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit = std::chrono::seconds(90)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return condition();
}

bool IsCacheFile(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return name.rfind("KX_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
}

int CacheFiles() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ServiceFolder())) {
        if (IsCacheFile(entry.path())) ++count;
    }
    return count;
}

// What a test before left undelivered (its server made to refuse) is not
// the next test's.
void RemoveCacheFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(ServiceFolder())) {
        if (IsCacheFile(entry.path())) files.push_back(entry.path());
    }
    for (const std::filesystem::path& file : files) std::filesystem::remove(file);
}

bool FileExists(const std::filesystem::path& folder, const char* name) {
    std::error_code error;
    return std::filesystem::file_size(folder / name, error) > 0 && !error;
}

std::string ModeOf(const std::filesystem::path& path, std::error_code& error) {
    const auto mode = static_cast<unsigned>(std::filesystem::status(path, error).permissions());
    std::string octal;
    for (int shift = 6; shift >= 0; shift -= 3)
        octal += static_cast<char>('0' + (mode >> shift & 7));
    return octal;
}

// Every file below the folders (sockets and the like left out), and the
// folders themselves.
void ListTree(const std::filesystem::path& top, std::vector<std::filesystem::path>* files,
              std::vector<std::filesystem::path>* folders) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        if (entry.is_directory()) folders->push_back(entry.path());
        if (entry.is_regular_file()) files->push_back(entry.path());
    }
}

// The files that the user "nobody" could open or lock, one a line, "read
// PATH" or "lock PATH" (flock takes any descriptor, a read-only one too).
std::string OpenableByNobody(const std::vector<std::filesystem::path>& files) {
    const CTempDirectory outputs;
    const std::filesystem::path report = outputs.Path() / "openable.txt";
    std::string command =
        "runuser -u nobody -- sh -c 'for f; do"
        " cat -- \"$f\" >/dev/null 2>&1 && echo \"read $f\";"
        " flock -n -E 99 \"$f\" true 2>/dev/null; case $? in 0|99) echo \"lock $f\";; esac;"
        " done' sh";
    for (const std::filesystem::path& file : files) command += " '" + file.string() + "'";
    command += " >'" + report.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadFileBytes(report);
}

uint32_t KeptRecordNumber() {
    CRegistryKey settings;
    settings.SetRoot(kx::platform::kHkeyLocalMachine);
    if (!settings.Open(kProductSettingsKey, false)) return 0;
    return settings.ReadDword(L"WSLastEventLogRecordNumber", 0);
}

class ServiceDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Available()) << CReferenceServer::kNotAvailable;
        ASSERT_TRUE(server.ClearFault());
        RemoveCacheFiles();
        CRegistryKey policy;
        policy.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(policy.Open(kPolicySettingsKey, true));
        ASSERT_TRUE(policy.WriteString(L"KFSServer", server.Host()));
        ASSERT_TRUE(policy.WriteString(L"KFSPort", server.Port()));
        ASSERT_TRUE(policy.WriteDword(L"EnableWorkstationAuditAgent", 1));
        mark = server.LastAlertId();
    }
    void TearDown() override { RunServiceProgram("-uninstall -silent"); }

    // Writes one Security record as the auditing source does.
    void WriteRecord(uint32_t eventId, const std::string& account) {
        const std::string command =
            "KX_MACHINE_ROOT='" + kx::WideToUtf8(kx::platform::GetMachineRoot()) +
            "' '" KX_EVENTLOG_TOOL
            "' write --log Security --source "
            "Microsoft-Windows-Security-Auditing --type audit-success --id " +
            std::to_string(eventId) + " -- '" + account + "' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        ++written;
    }
    std::vector<CReferenceServer::Row> Alerts() const { return server.Alerts(mark); }

    CRegistrySandbox machine{CRegistrySandbox::SettingsKeys()};
    CReferenceServer server;
    int64_t mark = 0;
    uint32_t written = 0;
};

}  // namespace

TEST_F(ServiceDeliveryTest, RecordsReachTheServerAcrossAStop) {
    WriteRecord(4720, "alice");
    WriteRecord(4624, "not-selected");
    WriteRecord(4720, "bob");
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ProgramResult start = RunServiceProgram("-start");
    ASSERT_EQ(start.exitCode, 0) << start.output;
    ASSERT_TRUE(WaitFor([&] { return Alerts().size() >= 2; })) << Alerts().size();

    // Two more, and a stop as soon as the agent has taken them in: whatever
    // it still held goes into a cache file, which the next start sends.
    WriteRecord(4720, "carol");
    WriteRecord(4720, "dave");
    ASSERT_TRUE(WaitFor([&] { return KeptRecordNumber() >= written; })) << KeptRecordNumber();
    ProgramResult stop = RunServiceProgram("-stop");
    ASSERT_EQ(stop.exitCode, 0) << stop.output;
    const std::size_t sentBeforeStop = Alerts().size();
    const int leftInCache = CacheFiles();
    RecordProperty("alerts_sent_before_stop", static_cast<int>(sentBeforeStop));
    RecordProperty("cache_files_after_stop", leftInCache);
    if (sentBeforeStop < 4) {
        EXPECT_GT(leftInCache, 0) << sentBeforeStop << " sent";
    }

    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    ASSERT_TRUE(WaitFor([&] { return Alerts().size() >= 4 && CacheFiles() == 0; }))
        << Alerts().size() << " alerts, " << CacheFiles() << " cache files";
    ASSERT_EQ(RunServiceProgram("-stop").exitCode, 0);
    EXPECT_EQ(CacheFiles(), 0);

    std::vector<std::string> accounts;
    for (const CReferenceServer::Row& alert : Alerts()) {
        EXPECT_EQ(alert.at("EventDefinitionCode"), "WS4720");
        accounts.push_back(alert.at("ActionText"));
    }
    std::sort(accounts.begin(), accounts.end());
    EXPECT_EQ(accounts, (std::vector<std::string>{"created alice", "created bob", "created carol",
                                                  "created dave"}));
}

// A standard user on the machine can neither read the agent's files (cache
// files, diagnostic log, definitions copy, logs, registry, the service
// manager's files) nor hold a lock on one, which would stall the writers
// that wait for it or make the sweep pass a cache file over for good. The
// folders it makes are its own; the files stay closed even where an
// administrator opens a folder.
TEST_F(ServiceDeliveryTest, AStandardUserCanNeitherReadNorLockTheAgentsFiles) {
    ASSERT_TRUE(server.SetFault(L"503", 0, 0, L"/EventPost"));  // cache files stay
    WriteRecord(4720, "alice");
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    const std::filesystem::path executableFolder = kx::WideToUtf8(ServiceFolder());
    ASSERT_TRUE(WaitFor([&] {
        return CacheFiles() > 0 && FileExists(executableFolder, "KXEventDefinitions.xml") &&
               FileExists(executableFolder, "BWAgentSvc.log");
    }));

    std::vector<std::filesystem::path> files;
    std::vector<std::filesystem::path> folders;
    ListTree(executableFolder, &files, &folders);
    ListTree(kx::WideToUtf8(machine.MachineRoot()), &files, &folders);
    // The executable and its message file are the test's copies: anyone may read them.
    const std::filesystem::path executable = kx::WideToUtf8(ServiceExecutablePath());
    const std::filesystem::path messages = kx::WideToUtf8(ServiceMessageFilePath());
    std::string expected = "read " + executable.string() + "\nlock " + executable.string() + "\n";
    for (const std::filesystem::path& folder : folders) {
        std::error_code ignored;
        EXPECT_EQ(ModeOf(folder, ignored), "700") << folder;
        std::filesystem::permissions(folder, static_cast<std::filesystem::perms>(0755));
    }
    std::vector<std::filesystem::path> agentFiles{executable};
    std::set<std::string> names;
    for (const std::filesystem::path& file : files) {
        std::error_code gone;  // a temporary renamed meanwhile
        const std::string mode = ModeOf(file, gone);
        if (gone || file == executable || file == messages) continue;
        EXPECT_EQ(mode, "600") << file;
        agentFiles.push_back(file);
        names.insert(file.filename().string());
    }
    for (const char* name : {"BWAgentSvc.log", "KXEventDefinitions.xml", "HKEY_LOCAL_MACHINE.reg",
                             "HKEY_LOCAL_MACHINE.reg.lock", "Security.evt", "Application.evt",
                             "KXWkstnSvc.status", "KXWkstnSvc.out"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
    EXPECT_EQ(OpenableByNobody(agentFiles), expected);
}

// Killed, the service comes back by its failure actions alone (shortened to
// 3 s here), and sends the cache file (six alerts) that waited beside it.
TEST_F(ServiceDeliveryTest, AKilledServiceIsStartedAgainAndSendsTheCacheFilesLeft) {
    ASSERT_EQ(RunServiceProgram("-install").exitCode, 0);
    SetRestartDelays(3000);
    ASSERT_EQ(RunServiceProgram("-start").exitCode, 0);
    const pid_t killed = ServicePid();
    ASSERT_GT(killed, 0);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    ASSERT_TRUE(WaitFor([] { return kill(ServicePid(), 0) != 0; }, std::chrono::seconds(10)));
    std::filesystem::copy_file(KX_GOLDEN_CACHE_FILE,
                               std::filesystem::path(ServiceFolder()) / "KX_a001.tmp");

    platform::ServiceStatus status;
    uint32_t error = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            return QueryServiceState(L"KXWkstnSvc", &status, &error) &&
                   status.currentState == platform::kServiceRunning;
        },
        std::chrono::seconds(20)))
        << status.currentState << " " << error;
    EXPECT_NE(ServicePid(), killed);
    ASSERT_TRUE(WaitFor([&] { return Alerts().size() >= 6 && CacheFiles() == 0; }))
        << Alerts().size() << " alerts, " << CacheFiles() << " cache files";
    std::vector<std::string> codes;
    for (const CReferenceServer::Row& alert : Alerts()) {
        codes.push_back(alert.at("EventDefinitionCode"));
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"KX4720", "KX1102", "KX5136", "KX4740", "KX4740",
                                               "KX4740"}));
    ASSERT_EQ(RunServiceProgram("-stop").exitCode, 0);
}
