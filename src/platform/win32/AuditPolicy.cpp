#include "platform/AuditPolicy.h"

#include <windows.h>
// After windows.h, which it needs.
#include <ntsecapi.h>

#include <cstddef>

namespace kx::platform {
namespace {

// The port's view of the audit events information is the platform's own, so
// that a queried buffer goes back to the set call as it is.
static_assert(sizeof(AuditEventsInfo) == sizeof(POLICY_AUDIT_EVENTS_INFO));
static_assert(offsetof(AuditEventsInfo, auditingMode) ==
              offsetof(POLICY_AUDIT_EVENTS_INFO, AuditingMode));
static_assert(offsetof(AuditEventsInfo, eventAuditingOptions) ==
              offsetof(POLICY_AUDIT_EVENTS_INFO, EventAuditingOptions));
static_assert(offsetof(AuditEventsInfo, maximumAuditEventCount) ==
              offsetof(POLICY_AUDIT_EVENTS_INFO, MaximumAuditEventCount));
static_assert(sizeof(SECURITY_QUALITY_OF_SERVICE) == 12);
#ifndef _WIN64
static_assert(sizeof(LSA_OBJECT_ATTRIBUTES) == 24);
#endif

class CWindowsAuditPolicy : public IAuditPolicy {
public:
    NtStatus OpenPolicy(uint32_t desiredAccess, PolicyHandle* policy) override {
        SECURITY_QUALITY_OF_SERVICE quality{};
        quality.Length = sizeof quality;
        quality.ImpersonationLevel = SecurityImpersonation;
        quality.ContextTrackingMode = SECURITY_DYNAMIC_TRACKING;
        quality.EffectiveOnly = FALSE;
        LSA_OBJECT_ATTRIBUTES attributes{};
        attributes.Length = sizeof attributes;
        attributes.SecurityQualityOfService = &quality;
        LSA_HANDLE handle = nullptr;
        NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, desiredAccess, &handle);
        *policy = NtSuccess(static_cast<NtStatus>(status)) ? handle : nullptr;
        return static_cast<NtStatus>(status);
    }

    NtStatus QueryAuditEvents(PolicyHandle policy, AuditEventsInfo** info) override {
        PVOID buffer = nullptr;
        NTSTATUS status = LsaQueryInformationPolicy(policy, PolicyAuditEventsInformation, &buffer);
        *info = NtSuccess(static_cast<NtStatus>(status)) ? static_cast<AuditEventsInfo*>(buffer)
                                                         : nullptr;
        return static_cast<NtStatus>(status);
    }

    NtStatus SetAuditEvents(PolicyHandle policy, const AuditEventsInfo& info) override {
        POLICY_AUDIT_EVENTS_INFO copy{};
        copy.AuditingMode = info.auditingMode ? TRUE : FALSE;
        copy.EventAuditingOptions =
            reinterpret_cast<PPOLICY_AUDIT_EVENT_OPTIONS>(info.eventAuditingOptions);
        copy.MaximumAuditEventCount = info.maximumAuditEventCount;
        return static_cast<NtStatus>(
            LsaSetInformationPolicy(policy, PolicyAuditEventsInformation, &copy));
    }

    NtStatus Close(PolicyHandle policy) override { return static_cast<NtStatus>(LsaClose(policy)); }

    NtStatus FreeMemory(void* buffer) override {
        return static_cast<NtStatus>(LsaFreeMemory(buffer));
    }
};

}  // namespace

IAuditPolicy& GetAuditPolicy() {
    static auto* policy = new CWindowsAuditPolicy();
    return *policy;
}

}  // namespace kx::platform
