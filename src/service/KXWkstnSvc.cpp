#include "service/KXWkstnSvc.h"

#include "common/Clock.h"
#include "common/Format.h"
#include "platform/Process.h"
#include "service/WorkstationAuditAgent.h"

namespace platform = kx::platform;

namespace {

constexpr uint32_t kStopPollInterval = 500;
constexpr const wchar_t* kUsage =
    L"Korvex Worstation Agent Service\nUsage: KXWkstnSvc.exe [ -install | -uninstall | -remove | "
    L"-start | -stop | -quiet | |-t:(timeout in milliseconds) | -help | -? ]\n";

// The message file: the executable's folder and "KXWkstnSvc.dll".
std::wstring MessageFileNextToExecutable() {
    const std::wstring path = platform::GetExecutablePath();
    const std::size_t separator = path.rfind(platform::kPathSeparator);
    const std::wstring folder =
        separator == std::wstring::npos ? L"" : path.substr(0, separator + 1);
    return folder + CKXWkstnSvc::kMessageFileName;
}

}  // namespace

CKXWkstnSvc::CKXWkstnSvc() : CKXWkstnSvc(platform::GetServiceControl(), platform::GetEventLog()) {}

CKXWkstnSvc::CKXWkstnSvc(platform::IServiceControl& serviceControl, platform::IEventLog& eventLog)
    : CNTService(kServiceName, kDisplayName, platform::kAcceptStop, kDescription, serviceControl,
                 eventLog) {
    const platform::ServiceAction first{platform::kActionRestart, kFirstRestartDelay};
    const platform::ServiceAction later{platform::kActionRestart, kLaterRestartDelay};
    failureActions_ = platform::ServiceFailureActions{kFailureResetPeriod, {first, first, later}};
    failureActionsOnNonCrashFailures_ = true;
    RegisterOwnEventSource();
}

void CKXWkstnSvc::RegisterOwnEventSource() {
    // Install registers the same file, so both registrations agree.
    eventMessageFile_ = MessageFileNextToExecutable();
    RegisterEventSource(displayName_, eventMessageFile_, 7);
}

std::unique_ptr<CKXWkstnSvc::CAgentScope> CKXWkstnSvc::StartAgent() {
    class CAgent : public CAgentScope {
        CWorkstationAuditAgent agent_;
    };
    return std::make_unique<CAgent>();
}

void CKXWkstnSvc::Run(uint32_t, wchar_t**) {
    ReportStatus(platform::kServiceStartPending, 1, 1000);
    ReportStatus(platform::kServiceRunning);
    eventReporter_.ReportString(kEventInformation, 0x40000001, displayName_);
    std::unique_ptr<CAgentScope> agent = StartAgent();
    IClock& clock = GetClock();
    while (stopRequested_.load(std::memory_order_relaxed) == 0) clock.Sleep(kStopPollInterval);
    ReportStatus(platform::kServiceStopPending, 1, 10000);
    eventReporter_.ReportString(kEventInformation, 0x40000004, displayName_);
    agent.reset();
}

void CKXWkstnSvc::OnStop() {
    stopRequested_.exchange(1);
}

void CKXWkstnSvc::OnPause() {
    paused_.exchange(1);
}

void CKXWkstnSvc::OnContinue() {
    paused_.exchange(0);
}

void CKXWkstnSvc::OnUserControl(uint32_t control) {
    userControlValue_ = control > 200 ? userControlValue_ >> 1 : userControlValue_ * 2;
    eventReporter_.ReportString(kEventInformation, 0x40000012,
                                kx::Format(L"%d", static_cast<int32_t>(userControlValue_)));
}

void CKXWkstnSvc::ShowHelp() {
    serviceControl_.ShowMessageBox(kUsage, displayName_);
}

bool CKXWkstnSvc::Install(std::wstring& message, uint32_t& error) {
    if (!CNTService::Install(message, error)) return false;
    if (eventLogging_) RegisterEventSource(kAgentSourceName, eventMessageFile_, 7);
    return true;
}

bool CKXWkstnSvc::Uninstall(std::wstring& message, uint32_t& error, uint32_t timeout) {
    if (!CNTService::Uninstall(message, error, timeout)) return false;
    if (eventLogging_) RemoveEventSource(kAgentSourceName);
    return true;
}
