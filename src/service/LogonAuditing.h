#pragma once
// Makes sure that the workstation audits at all and audits successful logons:
// the records the agent reports exist only while the audit policy says so.

#include "platform/AuditPolicy.h"

// Opens the local policy and queries its audit events information. Auditing
// that is off is switched on; a logon category that audits nothing is set to
// audit success. The policy is written only when one of the two changed;
// options that already audit anything (failure only, too) stay as they are.
// Every failure is silent: the agent runs on with the policy it finds.
void AdjustLogonAuditing(kx::platform::IAuditPolicy& policy);
