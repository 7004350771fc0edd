#pragma once
// The agent that the service runs: the pipeline, at idle priority, with the
// agent's own event-log source registered and the diagnostic log started.
// Its constructor returns when the agent is fully started, its destructor
// when it is fully stopped.

#include <string>

#include "BaseClasses/EventSourceReporter.h"
#include "service/AuditPipeline.h"

class CWorkstationAuditAgent : public CAuditPipeline {
public:
    static constexpr const wchar_t* kAgentSource = L"Korvex Agent";

    CWorkstationAuditAgent();
    ~CWorkstationAuditAgent();

private:
    void StartAgent();

    std::wstring computerName_;
    CEventSourceReporter agentSource_;
};
