// The installed, started service on Linux delivers what the Security log
// holds: records written with kxeventlog reach the reference server as
// alerts, and a stop in between loses none and sends none twice (what the
// stop flushed to a cache file goes with the next start). The server serves
// tests/pipeline/PipelineDefinitions.xml: 4720 is selected, 4624 is not.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "ServiceProgram.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "platform/MachineRoot.h"
#include "platform/Registry.h"

namespace {

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

int CacheFiles() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ServiceFolder())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KX_", 0) == 0 && name.size() > 4 &&
            name.substr(name.size() - 4) == ".tmp") {
            ++count;
        }
    }
    return count;
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
