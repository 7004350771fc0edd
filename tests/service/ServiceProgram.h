#pragma once
// Runs the agent's executable the way a user does, from a command line, with
// the test's machine root on Linux, and reads what it left behind: the
// service's registry entries, its status, the Application log's records.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"

struct ProgramResult {
    int exitCode;  // on Linux the low 8 bits of the code, as the system keeps them
    std::string output;
};

// The executable that the test installs: a copy of the built one in a
// folder of the test process's own, where the agent keeps its files.
std::wstring ServiceExecutablePath();
std::wstring ServiceFolder();
std::wstring ServiceMessageFilePath();

// arguments: already quoted for the shell where needed.
ProgramResult RunServiceProgram(const std::string& arguments);
// The exit code a Win32 error code becomes for the system's shell.
int ExitCodeOf(uint32_t error);

// The service's status through the service control manager; false when it
// cannot be opened (the last error code in error).
bool QueryServiceState(const std::wstring& name, kx::platform::ServiceStatus* status,
                       uint32_t* error);
// The service's failure actions (QueryServiceConfig2W).
bool QueryServiceRecovery(const std::wstring& name, kx::platform::ServiceFailureActions* actions,
                          bool* onNonCrashFailures, uint32_t* error);
// Sends a control to the service; 0 or the error.
uint32_t ControlServiceByName(const std::wstring& name, uint32_t control);

// A value of HKLM\subkey as text (strings, DWORDs in decimal, multi-strings
// joined by "|"); "(missing)" when the key or value is not there.
std::wstring ReadMachineValue(const std::wstring& subkey, const std::wstring& name);
bool MachineKeyExists(const std::wstring& subkey);

// The Application log's event IDs and first strings, oldest first (Linux).
struct LoggedEvent {
    uint32_t eventId;
    std::wstring source;
    std::vector<std::wstring> strings;
};
std::vector<LoggedEvent> ApplicationEvents();
