#pragma once
// The local audit policy: the audit events information of the local security
// policy (LsaOpenPolicy, LsaQueryInformationPolicy and LsaSetInformationPolicy
// with class 2, LsaClose, LsaFreeMemory).
//
//   Windows: the LSA calls.
//   Linux:   the auditing mode and one option per audit category kept in the
//            machine registry, HKLM\SECURITY\Policy\Audit: "AuditingMode"
//            (REG_DWORD, 1 on) and one REG_DWORD per category named as in
//            kAuditCategoryNames (0 none, 1 success, 2 failure, 3 both);
//            absent values read as 0.
//
// Results are NTSTATUS codes, as the LSA gives them: 0 on success, negative
// (as a signed number) on failure.

#include <cstdint>

namespace kx::platform {

using NtStatus = uint32_t;
using PolicyHandle = void*;

inline constexpr NtStatus kStatusSuccess = 0;
inline constexpr NtStatus kStatusUnsuccessful = 0xC0000001;
inline constexpr NtStatus kStatusInvalidParameter = 0xC000000D;
inline constexpr NtStatus kStatusNoMemory = 0xC0000017;
inline constexpr NtStatus kStatusAccessDenied = 0xC0000022;
inline constexpr NtStatus kStatusInvalidHandle = 0xC0000008;

inline bool NtSuccess(NtStatus status) {
    return static_cast<int32_t>(status) >= 0;
}

// The access the agent asks for when it opens the policy.
inline constexpr uint32_t kPolicyAuditAccess = 0x000207FE;

// POLICY_AUDIT_EVENT_OPTIONS.
inline constexpr uint32_t kAuditEventUnchanged = 0;
inline constexpr uint32_t kAuditEventSuccess = 1;
inline constexpr uint32_t kAuditEventFailure = 2;
inline constexpr uint32_t kAuditEventNone = 4;

// POLICY_AUDIT_EVENT_TYPE: the index of a category in the options.
inline constexpr uint32_t kAuditCategoryLogon = 1;
inline constexpr uint32_t kAuditCategoryCount = 9;
inline constexpr const wchar_t* kAuditCategoryNames[kAuditCategoryCount] = {
    L"System",           L"Logon",        L"ObjectAccess",      L"PrivilegeUse",
    L"DetailedTracking", L"PolicyChange", L"AccountManagement", L"DirectoryServiceAccess",
    L"AccountLogon",
};

// POLICY_AUDIT_EVENTS_INFO, laid out as the platform's: what a query returns
// and what a set takes.
struct AuditEventsInfo {
    uint8_t auditingMode;            // BOOLEAN: non-zero while auditing is on
    uint32_t* eventAuditingOptions;  // one per category, maximumAuditEventCount of them
    uint32_t maximumAuditEventCount;
};

// The policy as the core uses it. GetAuditPolicy() is the platform's; tests
// hand a double of their own to the code that takes one.
class IAuditPolicy {
public:
    virtual ~IAuditPolicy() = default;

    // LsaOpenPolicy on the local system (no system name), object attributes
    // zero but for their length, a security quality of service of
    // impersonation with dynamic tracking, not effective-only.
    virtual NtStatus OpenPolicy(uint32_t desiredAccess, PolicyHandle* policy) = 0;
    // LsaQueryInformationPolicy, class 2. *info is the platform's buffer:
    // released with FreeMemory.
    virtual NtStatus QueryAuditEvents(PolicyHandle policy, AuditEventsInfo** info) = 0;
    // LsaSetInformationPolicy, class 2. An option of 0 leaves its category as
    // it is; one with kAuditEventNone makes it exactly its success and failure
    // bits; others add their bits.
    virtual NtStatus SetAuditEvents(PolicyHandle policy, const AuditEventsInfo& info) = 0;
    virtual NtStatus Close(PolicyHandle policy) = 0;
    virtual NtStatus FreeMemory(void* buffer) = 0;
};

IAuditPolicy& GetAuditPolicy();

}  // namespace kx::platform
