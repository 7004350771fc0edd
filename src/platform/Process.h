#pragma once
// Facts about the running process and thread.

#include <cstdint>
#include <string>

namespace kx::platform {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// Full path of the running executable. Files that live "next to the
// executable" (diagnostic log, cache files, definitions copy) are found from it.
std::wstring GetExecutablePath();
// Lets a test put those files in a folder of its own; empty restores the real path.
void SetExecutablePathForTesting(const std::wstring& path);

// The operating system's identifier of the calling thread
// (GetCurrentThreadId on Windows, gettid on Linux).
uint32_t GetCurrentThreadIdentifier();

// The calling thread's last platform error code (GetLastError). On Linux the
// ports set it when they fail, in the Win32 error language.
uint32_t GetLastErrorCode();
// The agent stays out of the user's way: the process at idle priority
// (SetPriorityClass 0x40) and the calling thread below normal
// (SetThreadPriority -1). Linux: every thread of the process at nice 19.
void LowerProcessPriority();
// Hands the heap's free pages back to the system, so that a burst of work
// (a backlog of alerts drained) does not keep the workstation's memory once
// it is over. Linux: malloc_trim; Windows: HeapCompact of the process heap.
void ReleaseFreeMemory();
void SetLastErrorCode(uint32_t code);

}  // namespace kx::platform
