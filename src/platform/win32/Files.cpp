#include "platform/Files.h"

#include <io.h>
#include <share.h>
#include <windows.h>

namespace kx::platform {

std::filesystem::path ToNativePath(const std::wstring& path) {
    return std::filesystem::path(path);
}

std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode) {
    return _wfsopen(path.c_str(), mode, _SH_DENYNO);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DeleteFileByPath(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

bool ReplaceFileByPath(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

}  // namespace kx::platform
