#include "service/WorkstationAuditAgent.h"

#include "BaseClasses/LogData.h"
#include "config/Settings.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"

CWorkstationAuditAgent::CWorkstationAuditAgent() {
    StartAgent();
}

void CWorkstationAuditAgent::StartAgent() {
    kx::platform::LowerProcessPriority();
    computerName_ = kx::platform::GetLocalComputerName();
    agentSource_.Register(computerName_.c_str(), kAgentSource);
    InitDiagnosticLog(static_cast<int32_t>(GetLoggingLevel()));
}

// The diagnostic log stops first, so that what the collector and the alert
// log say while they stop is not written to it.
CWorkstationAuditAgent::~CWorkstationAuditAgent() {
    CloseDiagnosticLog();
    agentSource_.Close();
    computerName_.clear();
}
