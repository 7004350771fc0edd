#include "platform/Process.h"

#include <windows.h>

#include <mutex>

namespace kx::platform {
namespace {

std::mutex g_pathMutex;
std::wstring g_pathOverride;

}  // namespace

std::wstring GetExecutablePath() {
    {
        std::lock_guard<std::mutex> lock(g_pathMutex);
        if (!g_pathOverride.empty()) return g_pathOverride;
    }
    // Grow past MAX_PATH so that a long installation path is not cut.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void SetExecutablePathForTesting(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(g_pathMutex);
    g_pathOverride = path;
}

uint32_t GetCurrentThreadIdentifier() {
    return GetCurrentThreadId();
}

uint32_t GetLastErrorCode() {
    return GetLastError();
}

void SetLastErrorCode(uint32_t code) {
    SetLastError(code);
}

void LowerProcessPriority() {
    SetPriorityClass(GetCurrentProcess(), 0x40);  // IDLE_PRIORITY_CLASS
    SetThreadPriority(GetCurrentThread(), -1);    // THREAD_PRIORITY_BELOW_NORMAL
}

void ReleaseFreeMemory() {
    HeapCompact(GetProcessHeap(), 0);
}

}  // namespace kx::platform
