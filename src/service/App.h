#pragma once
// The process's application object: builds the agent's service and the
// command-line parser, lets the service carry the command out, and keeps
// its result as the process exit code.

#include <cstdint>
#include <string>
#include <vector>

class CApp {
public:
    // arguments: the process's, the program path first. Returns false: the
    // process runs no message loop and ends at once.
    bool InitInstance(const std::vector<std::wstring>& arguments);
    int ExitInstance() const { return exitCode_; }

private:
    int32_t exitCode_ = 0;
};
