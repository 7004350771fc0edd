#pragma once
// What the Linux service manager knows of a running service, kept in
// "<machine root>/Services" (a folder only its owner may enter):
//   <name>.status  the last status the service reported, with the token of
//                  its start and its process id (written whole, then renamed)
//   <name>.exit    written by the start's monitor when the process ends: the
//                  token and the exit status
//   <name>.sock    the service's control socket
//   <name>.out     the service's standard output and error
//   <name>.lock    held while a start, a restart or a deletion is decided
//   <name>.failures  the failures counted for the failure actions

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"
#include "platform/posix/ServiceDatabase.h"

namespace kx::platform {

struct RuntimeRecord {
    std::string token;
    pid_t pid = 0;
    ServiceStatus status;
};

class CServiceRuntime {
public:
    explicit CServiceRuntime(const std::wstring& serviceName);

    // The folder, created with owner-only rights when missing.
    static std::string Folder();
    std::string StatusPath() const { return base_ + ".status"; }
    std::string ExitPath() const { return base_ + ".exit"; }
    std::string SocketPath() const { return base_ + ".sock"; }
    std::string OutputPath() const { return base_ + ".out"; }
    std::string FailuresPath() const { return base_ + ".failures"; }

    // The status as a controller sees it: stopped when the service never ran,
    // or when its process ended without reporting stopped (1067, with the
    // exit status as the service-specific code).
    ServiceStatus LiveStatus() const;
    // The status file as written; false when there is none.
    bool ReadRecord(RuntimeRecord* record) const;
    bool WriteRecord(const RuntimeRecord& record) const;
    // The exit file of the start with this token: false while it runs.
    bool ReadExit(const std::string& token, int* exitStatus) const;

    // Sends a control to the service's socket and waits for its answer (at
    // most 30 seconds): 0 with the status after the handler, or an error.
    uint32_t SendControl(uint32_t control, ServiceStatus* status) const;

    // Launches the image in a session of its own, with a monitor that
    // records its end and, when the service has a restart among its failure
    // actions, hands the end over to CServiceRecovery. Returns 0 with the new
    // start's token.
    uint32_t Launch(const ServiceConfig& config, const std::vector<std::wstring>& arguments,
                    std::string* token) const;
    // Launches unless the service runs already (1056) and waits until its
    // dispatcher has connected (1053 when it does not). The caller holds the
    // start lock.
    uint32_t StartAndWait(const ServiceConfig& config,
                          const std::vector<std::wstring>& arguments) const;
    // The start lock, which orders starts, restarts and deletion of the
    // service between processes: a descriptor to close, or -1.
    int LockStarts() const;
    // Drops what is known of past runs, for a service that is removed.
    void Forget() const;

private:
    std::wstring name_;
    std::string base_;
};

// Environment of a launched service: its name, the start's token, the start
// arguments (separated by U+001F) and the machine root.
inline constexpr const char* kServiceNameVariable = "KX_SERVICE_NAME";
inline constexpr const char* kServiceTokenVariable = "KX_SERVICE_START_TOKEN";
inline constexpr const char* kServiceArgumentsVariable = "KX_SERVICE_START_ARGS";
// Set instead of the token when the image runs to recover from the end of
// the start with this token (CServiceRecovery) rather than as the service.
inline constexpr const char* kServiceEndedVariable = "KX_SERVICE_ENDED_START";

// The request and the answer on a control socket.
struct ControlRequest {
    uint32_t control;
    uint32_t eventType;
};
struct ControlAnswer {
    uint32_t error;
    ServiceStatus status;
};

}  // namespace kx::platform
