#include "platform/posix/ServiceRecovery.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace kx::platform {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(100);

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CServiceRecovery::CServiceRecovery(const std::wstring& serviceName, const std::string& endedToken)
    : name_(serviceName), endedToken_(endedToken), runtime_(serviceName) {}

void CServiceRecovery::Run() {
    ServiceConfig config;
    uint32_t delay = 0;
    if (!StillEnded(&config) || !WasFailure(config) || !RestartDelay(config, &delay)) return;
    if (!WaitUnlessStarted(delay)) return;
    const int startLock = runtime_.LockStarts();
    if (startLock < 0) return;
    if (StillEnded(&config)) {
        uint32_t error = runtime_.StartAndWait(config, {});
        if (error) std::fprintf(stderr, "The restart of the service failed: %u\n", error);
    }
    close(startLock);
}

bool CServiceRecovery::WasFailure(const ServiceConfig& config) const {
    RuntimeRecord record;
    if (!runtime_.ReadRecord(&record)) return false;
    switch (record.status.currentState) {
        case kServiceStopped:
            return config.failureActionsOnNonCrashFailures && record.status.win32ExitCode != 0;
        case kServiceStopPending:
            return false;
        default:
            return true;
    }
}

bool CServiceRecovery::RestartDelay(const ServiceConfig& config, uint32_t* delay) const {
    const auto& actions = config.failureActions.actions;
    if (actions.empty()) return false;
    const uint32_t failures = CountFailure(config.failureActions.resetPeriod);
    const ServiceAction& action = actions[std::min<std::size_t>(failures, actions.size()) - 1];
    *delay = action.delay;
    return action.type == kActionRestart;
}

// The failures since the last one that came more than the reset period after
// the one before it, this one included.
uint32_t CServiceRecovery::CountFailure(uint32_t resetPeriod) const {
    uint32_t count = 0;
    int64_t last = 0;
    {
        std::ifstream in(runtime_.FailuresPath());
        if (!(in >> count >> last)) count = 0;
    }
    const int64_t now = NowSeconds();
    if (now - last > static_cast<int64_t>(resetPeriod)) count = 0;
    ++count;
    const std::string temporary = runtime_.FailuresPath() + "." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << count << ' ' << now << '\n';
    }
    std::rename(temporary.c_str(), runtime_.FailuresPath().c_str());
    return count;
}

// Nobody started the service since the start that ended; a deletion drops
// the record too.
bool CServiceRecovery::NobodyStartedIt() const {
    RuntimeRecord record;
    return runtime_.ReadRecord(&record) && record.token == endedToken_;
}

// As NobodyStartedIt, and the service still exists and may be started.
bool CServiceRecovery::StillEnded(ServiceConfig* config) const {
    if (!NobodyStartedIt() || !CServiceDatabase::Read(name_, config)) return false;
    return !config->markedForDelete && config->startType != kServiceDisabled &&
           runtime_.LiveStatus().currentState == kServiceStopped;
}

bool CServiceRecovery::WaitUnlessStarted(uint32_t delay) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!NobodyStartedIt()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kWatchInterval, deadline - std::chrono::steady_clock::now()));
    }
    return true;
}

}  // namespace kx::platform
