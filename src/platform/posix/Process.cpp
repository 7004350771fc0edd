#include "platform/Process.h"

#include <limits.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "common/Text.h"

namespace kx::platform {
namespace {

std::mutex g_pathMutex;
std::wstring g_pathOverride;
thread_local uint32_t t_lastError = 0;

}  // namespace

std::wstring GetExecutablePath() {
    {
        std::lock_guard<std::mutex> lock(g_pathMutex);
        if (!g_pathOverride.empty()) return g_pathOverride;
    }
    std::string buffer(PATH_MAX, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) return std::wstring();
    buffer.resize(static_cast<std::size_t>(length));
    return Utf8ToWide(buffer);
}

void SetExecutablePathForTesting(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(g_pathMutex);
    g_pathOverride = path;
}

uint32_t GetCurrentThreadIdentifier() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t GetLastErrorCode() {
    return t_lastError;
}

void SetLastErrorCode(uint32_t code) {
    t_lastError = code;
}

// Linux keeps a nice value per thread: the threads already running are
// lowered one by one, and threads started later inherit it.
void LowerProcessPriority() {
    constexpr int kIdleNice = 19;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const auto tid =
            static_cast<id_t>(std::strtoul(task.path().filename().c_str(), nullptr, 10));
        if (tid != 0) setpriority(PRIO_PROCESS, tid, kIdleNice);
    }
}

void ReleaseFreeMemory() {
    malloc_trim(0);
}

}  // namespace kx::platform
