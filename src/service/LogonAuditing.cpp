#include "service/LogonAuditing.h"

namespace {

using kx::platform::AuditEventsInfo;

// Switches auditing on and the logon category to success where they are
// off; true when the information changed.
bool EnableLogonAuditing(AuditEventsInfo& info) {
    bool changed = false;
    if (!info.auditingMode) {
        info.auditingMode = 1;
        changed = true;
    }
    // A policy that lists fewer categories has no logon option to set.
    bool hasLogon = info.eventAuditingOptions &&
                    info.maximumAuditEventCount > kx::platform::kAuditCategoryLogon;
    uint32_t* logon =
        hasLogon ? &info.eventAuditingOptions[kx::platform::kAuditCategoryLogon] : nullptr;
    if (logon && *logon == 0) {
        *logon = kx::platform::kAuditEventSuccess;
        changed = true;
    }
    return changed;
}

}  // namespace

void AdjustLogonAuditing(kx::platform::IAuditPolicy& policy) {
    kx::platform::PolicyHandle handle = nullptr;
    if (!kx::platform::NtSuccess(policy.OpenPolicy(kx::platform::kPolicyAuditAccess, &handle)))
        return;
    AuditEventsInfo* info = nullptr;
    bool queried = kx::platform::NtSuccess(policy.QueryAuditEvents(handle, &info)) && info;
    if (queried && EnableLogonAuditing(*info)) policy.SetAuditEvents(handle, *info);
    policy.Close(handle);
    if (queried) policy.FreeMemory(info);
}
