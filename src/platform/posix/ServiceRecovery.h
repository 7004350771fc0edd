#pragma once
// What the Linux service manager does when a service's process has ended:
// the stand-in for the failure actions of the Windows service control
// manager. The start's monitor runs the service's image once more with the
// start's token in KX_SERVICE_ENDED_START, and the dispatcher hands it here.
//
// An end is a failure when the process ended without reporting stopped (a
// crash or a kill), or reported stopped with an error and the service has
// "FailureActionsOnNonCrashFailures"; a process that ended while it reported
// stop pending was being stopped. The n-th failure within the reset period
// takes the n-th of the service's "FailureActions" (the last one for every
// later failure). A restart waits its delay and starts the service as a
// start would, unless meanwhile anyone started it, or deleted or disabled
// it: each of these ends the wait at once, and the start lock orders the
// last look against starts and deletions in other processes.

#include <cstdint>
#include <string>

#include "platform/posix/ServiceDatabase.h"
#include "platform/posix/ServiceRuntime.h"

namespace kx::platform {

class CServiceRecovery {
public:
    CServiceRecovery(const std::wstring& serviceName, const std::string& endedToken);

    // Returns once the service has been started again or nothing is to be done.
    void Run();

private:
    bool WasFailure(const ServiceConfig& config) const;
    // The delay of the action this failure takes; false for no restart.
    bool RestartDelay(const ServiceConfig& config, uint32_t* delay) const;
    uint32_t CountFailure(uint32_t resetPeriod) const;
    bool NobodyStartedIt() const;
    bool StillEnded(ServiceConfig* config) const;
    bool WaitUnlessStarted(uint32_t delay) const;

    std::wstring name_;
    std::string endedToken_;
    CServiceRuntime runtime_;
};

}  // namespace kx::platform
