// The audit policy port: the LSA under Wine, the machine registry on Linux.

#include "platform/AuditPolicy.h"

#include <gtest/gtest.h>

#include <vector>

#include "RegistrySandbox.h"
#include "platform/WineDetection.h"
#include "service/LogonAuditing.h"

namespace {

using namespace kx::platform;

struct Snapshot {
    uint8_t mode = 0xFF;
    std::vector<uint32_t> options;
};

// Opens, queries, closes and frees through the platform's port.
Snapshot Query() {
    IAuditPolicy& port = GetAuditPolicy();
    PolicyHandle policy = nullptr;
    EXPECT_EQ(port.OpenPolicy(kPolicyAuditAccess, &policy), kStatusSuccess);
    AuditEventsInfo* info = nullptr;
    EXPECT_EQ(port.QueryAuditEvents(policy, &info), kStatusSuccess);
    Snapshot snapshot;
    if (info) {
        snapshot.mode = info->auditingMode;
        if (info->eventAuditingOptions)
            snapshot.options.assign(info->eventAuditingOptions,
                                    info->eventAuditingOptions + info->maximumAuditEventCount);
        EXPECT_EQ(port.FreeMemory(info), kStatusSuccess);
    }
    EXPECT_EQ(port.Close(policy), kStatusSuccess);
    return snapshot;
}

}  // namespace

#ifdef _WIN32

// Wine opens and queries the policy (auditing off) and refuses to change it.
TEST(AuditPolicyTest, OpenAndQueryThroughTheLsa) {
    if (!IsRunningUnderWine()) GTEST_SKIP() << "needs an administrator on Windows";
    Snapshot before = Query();
    EXPECT_EQ(before.mode, 0);
    for (uint32_t option : before.options) EXPECT_EQ(option, 0u);

    IAuditPolicy& port = GetAuditPolicy();
    PolicyHandle policy = nullptr;
    ASSERT_EQ(port.OpenPolicy(kPolicyAuditAccess, &policy), kStatusSuccess);
    AuditEventsInfo on{1, nullptr, 0};
    EXPECT_EQ(port.SetAuditEvents(policy, on), kStatusUnsuccessful);
    EXPECT_EQ(port.Close(policy), kStatusSuccess);

    AdjustLogonAuditing(port);  // its set fails silently
    EXPECT_EQ(Query().mode, 0);
}

#else

class AuditPolicyRegistryTest : public ::testing::Test {
protected:
    NtStatus Set(uint8_t mode, std::vector<uint32_t> options) {
        IAuditPolicy& port = GetAuditPolicy();
        PolicyHandle policy = nullptr;
        EXPECT_EQ(port.OpenPolicy(kPolicyAuditAccess, &policy), kStatusSuccess);
        AuditEventsInfo info{mode, options.data(), static_cast<uint32_t>(options.size())};
        NtStatus status = port.SetAuditEvents(policy, info);
        EXPECT_EQ(port.Close(policy), kStatusSuccess);
        return status;
    }

    CRegistrySandbox sandbox_;
};

TEST_F(AuditPolicyRegistryTest, AFreshMachineAuditsNothingAndTheAgentSwitchesLogonsOn) {
    Snapshot fresh = Query();
    EXPECT_EQ(fresh.mode, 0);
    EXPECT_EQ(fresh.options, std::vector<uint32_t>(9, 0));

    AdjustLogonAuditing(GetAuditPolicy());
    Snapshot after = Query();
    EXPECT_EQ(after.mode, 1);
    EXPECT_EQ(after.options, (std::vector<uint32_t>{0, 1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(AuditPolicyRegistryTest, SetKeepsUnchangedCategoriesAddsBitsAndReplacesWithNone) {
    ASSERT_EQ(Set(1, {3, 2, 1, 0, 0, 0, 0, 0, 2}), kStatusSuccess);
    ASSERT_EQ(Set(1, {0, 1, 4 | 2, 4, 0, 0, 0, 0, 0}), kStatusSuccess);
    Snapshot snapshot = Query();
    EXPECT_EQ(snapshot.mode, 1);
    EXPECT_EQ(snapshot.options, (std::vector<uint32_t>{3, 3, 2, 0, 0, 0, 0, 0, 2}));
    ASSERT_EQ(Set(0, {}), kStatusSuccess);
    EXPECT_EQ(Query().mode, 0);
    EXPECT_EQ(Query().options[0], 3u) << "a set without options leaves them";
    EXPECT_EQ(Set(1, std::vector<uint32_t>(10, 0)), kStatusInvalidParameter);
}

TEST_F(AuditPolicyRegistryTest, ClosedOrUnknownHandlesAreRefused) {
    IAuditPolicy& port = GetAuditPolicy();
    PolicyHandle policy = nullptr;
    ASSERT_EQ(port.OpenPolicy(kPolicyAuditAccess, &policy), kStatusSuccess);
    ASSERT_EQ(port.Close(policy), kStatusSuccess);
    AuditEventsInfo* info = nullptr;
    EXPECT_EQ(port.QueryAuditEvents(policy, &info), kStatusInvalidHandle);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(port.Close(policy), kStatusInvalidHandle);
}

#endif
