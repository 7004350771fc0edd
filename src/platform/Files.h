#pragma once
// Opening files by wide path on both platforms.

#include <cstdio>
#include <filesystem>
#include <string>

namespace kx::platform {

// The file system path for a wide path (UTF-8 on Linux).
std::filesystem::path ToNativePath(const std::wstring& path);

// Who may open a file that a "w" stream creates.
enum class FileAccess {
    // Windows: what the folder passes on; Linux: 0666 less the umask.
    Inherited,
    // The agent's own: Windows, a DACL of SYSTEM and Administrators only, not
    // inherited; Linux, 0600. A file that existed is made anew with it.
    Private,
};

// fopen with a wide path and mode, shared for reading and writing with other
// openers (as the C runtime's default share mode on Windows). access applies
// to the "w" modes, which create the file.
std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode,
                          FileAccess access = FileAccess::Inherited);
// Who may open the file, as the system keeps it: Windows, the DACL in the
// security descriptor language ("D:P(A;;FA;;;SY)(A;;FA;;;BA)"); Linux, the
// permission bits in octal ("600"). Empty when it cannot be read.
std::wstring GetFileAccessText(const std::wstring& path);

bool FileExists(const std::wstring& path);
// DeleteFileW; false (and the last error set) when it fails.
bool DeleteFileByPath(const std::wstring& path);
// Moves a file over another in one step (MoveFileExW with replace and write
// through; rename on Linux); false and the last error set when it fails.
bool ReplaceFileByPath(const std::wstring& from, const std::wstring& to);
// Pushes a stream's data through to the disk (fflush, then _commit or fsync).
bool FlushFileToDisk(std::FILE* file);

}  // namespace kx::platform
