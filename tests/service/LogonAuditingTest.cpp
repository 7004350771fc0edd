#include "service/LogonAuditing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace kx::platform;

// A policy that answers from a queried state of its own and records every call.
class CAuditPolicyDouble : public IAuditPolicy {
public:
    CAuditPolicyDouble(uint8_t mode, std::vector<uint32_t> options) : options_(std::move(options)) {
        info_.auditingMode = mode;
        info_.eventAuditingOptions = options_.empty() ? nullptr : options_.data();
        info_.maximumAuditEventCount = static_cast<uint32_t>(options_.size());
    }

    NtStatus OpenPolicy(uint32_t desiredAccess, PolicyHandle* policy) override {
        calls.push_back("open");
        access = desiredAccess;
        if (openStatus != kStatusSuccess) return openStatus;
        *policy = &handle_;
        return kStatusSuccess;
    }
    NtStatus QueryAuditEvents(PolicyHandle policy, AuditEventsInfo** info) override {
        calls.push_back("query");
        EXPECT_EQ(policy, &handle_);
        if (queryStatus != kStatusSuccess) return queryStatus;
        *info = &info_;
        return kStatusSuccess;
    }
    NtStatus SetAuditEvents(PolicyHandle policy, const AuditEventsInfo& info) override {
        calls.push_back("set");
        EXPECT_EQ(policy, &handle_);
        setMode = info.auditingMode;
        setOptions.assign(info.eventAuditingOptions,
                          info.eventAuditingOptions + info.maximumAuditEventCount);
        return setStatus;
    }
    NtStatus Close(PolicyHandle policy) override {
        calls.push_back("close");
        EXPECT_EQ(policy, &handle_);
        return kStatusSuccess;
    }
    NtStatus FreeMemory(void* buffer) override {
        calls.push_back("free");
        EXPECT_EQ(buffer, &info_);
        return kStatusSuccess;
    }

    NtStatus openStatus = kStatusSuccess;
    NtStatus queryStatus = kStatusSuccess;
    NtStatus setStatus = kStatusSuccess;
    std::vector<std::string> calls;
    uint32_t access = 0;
    uint8_t setMode = 0xFF;
    std::vector<uint32_t> setOptions;

private:
    int handle_ = 0;
    std::vector<uint32_t> options_;
    AuditEventsInfo info_{};
};

using Calls = std::vector<std::string>;
using Options = std::vector<uint32_t>;

const Calls kWithSet{"open", "query", "set", "close", "free"};
const Calls kWithoutSet{"open", "query", "close", "free"};

}  // namespace

TEST(LogonAuditingTest, SwitchesAuditingAndLogonSuccessOnAndWritesOnlyWhatChanged) {
    struct Case {
        const char* name;
        uint8_t mode;
        Options options;
        Calls calls;
        Options written;  // the options handed to the set call
    };
    // Categories: System, Logon, ObjectAccess, ... (index 1 is logon).
    const Case cases[] = {
        {"everything off", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}, kWithSet, {0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"mode on, logon off",
         1,
         {2, 0, 3, 0, 0, 0, 0, 0, 0},
         kWithSet,
         {2, 1, 3, 0, 0, 0, 0, 0, 0}},
        {"mode off, logon failure only",
         0,
         {0, 2, 0, 0, 0, 0, 0, 0, 0},
         kWithSet,
         {0, 2, 0, 0, 0, 0, 0, 0, 0}},
        {"mode on, logon failure only", 1, {0, 2, 0, 0, 0, 0, 0, 0, 0}, kWithoutSet, {}},
        {"mode on, logon success", 1, {0, 1, 0, 0, 0, 0, 0, 0, 0}, kWithoutSet, {}},
        {"mode on, logon both", 1, {0, 3, 0, 0, 0, 0, 0, 0, 0}, kWithoutSet, {}},
        // Wine answers with no options at all: there is no logon option to set.
        {"no options, mode off", 0, {}, kWithSet, {}},
        {"no options, mode on", 1, {}, kWithoutSet, {}},
        {"only the system category", 1, {0}, kWithoutSet, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CAuditPolicyDouble policy(c.mode, c.options);
        AdjustLogonAuditing(policy);
        EXPECT_EQ(policy.access, 0x000207FEu);
        EXPECT_EQ(policy.calls, c.calls);
        if (c.calls == kWithSet) {
            EXPECT_EQ(policy.setMode, 1);
            EXPECT_EQ(policy.setOptions, c.written);
        }
    }
}

TEST(LogonAuditingTest, FailuresOnTheWayAreSilentAndReleaseWhatWasObtained) {
    {
        SCOPED_TRACE("open fails");
        CAuditPolicyDouble policy(0, Options(9, 0));
        policy.openStatus = kStatusAccessDenied;
        AdjustLogonAuditing(policy);
        EXPECT_EQ(policy.calls, Calls{"open"});
    }
    {
        SCOPED_TRACE("query fails");
        CAuditPolicyDouble policy(0, Options(9, 0));
        policy.queryStatus = kStatusAccessDenied;
        AdjustLogonAuditing(policy);
        EXPECT_EQ(policy.calls, (Calls{"open", "query", "close"}));
    }
    {
        SCOPED_TRACE("set fails, as under Wine");
        CAuditPolicyDouble policy(0, Options(9, 0));
        policy.setStatus = kStatusUnsuccessful;
        AdjustLogonAuditing(policy);
        EXPECT_EQ(policy.calls, kWithSet);
    }
}
