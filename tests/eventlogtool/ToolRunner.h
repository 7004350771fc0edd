#pragma once
// Runs a program of the build through the shell with the machine root of a
// test, capturing its standard output and error.

#include <filesystem>
#include <string>

struct ToolResult {
    int exitCode;
    std::string out;
    std::string err;
};

// arguments: already quoted for the shell where needed.
ToolResult RunProgram(const std::string& program, const std::string& arguments,
                      const std::filesystem::path& machineRoot);
ToolResult RunTool(const std::string& arguments, const std::filesystem::path& machineRoot);
std::string Quote(const std::string& text);

// The recorded Windows Security logs ($KX_EVTX_DATA_DIR overrides).
std::filesystem::path RecordedLogsDir();
