#pragma once
// Thrown by a service's work to end the service with chosen exit codes: the
// framework reports them with the stopped state, and console mode turns the
// Win32 code into the process exit code.

#include <cstdint>

class CNTServiceTerminateException {
public:
    CNTServiceTerminateException(uint32_t win32ExitCode, uint32_t serviceExitCode)
        : win32ExitCode_(win32ExitCode), serviceExitCode_(serviceExitCode) {}

    uint32_t Win32ExitCode() const { return win32ExitCode_; }
    uint32_t ServiceExitCode() const { return serviceExitCode_; }

private:
    uint32_t win32ExitCode_;
    uint32_t serviceExitCode_;
};
