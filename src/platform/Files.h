#pragma once
// Opening files by wide path on both platforms.

#include <cstdio>
#include <filesystem>
#include <string>

namespace kx::platform {

// The file system path for a wide path (UTF-8 on Linux).
std::filesystem::path ToNativePath(const std::wstring& path);

// fopen with a wide path and mode, shared for reading and writing with other
// openers (as the C runtime's default share mode on Windows).
std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode);

bool FileExists(const std::wstring& path);
// DeleteFileW; false (and the last error set) when it fails.
bool DeleteFileByPath(const std::wstring& path);
// Moves a file over another in one step (MoveFileExW with replace and write
// through; rename on Linux); false and the last error set when it fails.
bool ReplaceFileByPath(const std::wstring& from, const std::wstring& to);
// Pushes a stream's data through to the disk (fflush, then _commit or fsync).
bool FlushFileToDisk(std::FILE* file);

}  // namespace kx::platform
