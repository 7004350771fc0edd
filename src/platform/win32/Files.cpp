#include "platform/Files.h"

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

}  // namespace kx::platform
