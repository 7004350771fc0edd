#include "ToolRunner.h"

#include <atomic>
#include <cstdlib>

#include "TempDirectory.h"

namespace {

std::atomic<int> g_run{0};

}  // namespace

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ToolResult RunProgram(const std::string& program, const std::string& arguments,
                      const std::filesystem::path& machineRoot) {
    const std::string tag = std::to_string(g_run++);
    const std::filesystem::path out = machineRoot / ("run-" + tag + ".out");
    const std::filesystem::path err = machineRoot / ("run-" + tag + ".err");
    std::filesystem::create_directories(machineRoot);
    const std::string command = "KX_MACHINE_ROOT=" + Quote(machineRoot.string()) + " " +
                                Quote(program) + " " + arguments + " >" + Quote(out.string()) +
                                " 2>" + Quote(err.string());
    const int status = std::system(command.c_str());
    // The shell's wait status: the exit code is in the second byte.
    return ToolResult{(status >> 8) & 0xFF, ReadFileBytes(out), ReadFileBytes(err)};
}

ToolResult RunTool(const std::string& arguments, const std::filesystem::path& machineRoot) {
    return RunProgram(KX_EVENTLOG_TOOL, arguments, machineRoot);
}

std::filesystem::path RecordedLogsDir() {
    if (const char* dir = std::getenv("KX_EVTX_DATA_DIR"); dir && *dir) return dir;
    return KX_EVTX_DATA_DIR;
}
