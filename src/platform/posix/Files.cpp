#include "platform/Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/Text.h"
#include "platform/Process.h"
#include "platform/posix/ErrnoMapping.h"

namespace kx::platform {
namespace {}  // namespace

std::filesystem::path ToNativePath(const std::wstring& path) {
    return std::filesystem::path(WideToUtf8(path));
}

std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode) {
    std::FILE* file = std::fopen(WideToUtf8(path).c_str(), WideToUtf8(mode).c_str());
    if (!file) SetLastErrorCode(Win32ErrorFromErrno(errno));
    return file;
}

bool FileExists(const std::wstring& path) {
    struct stat info {};
    return stat(WideToUtf8(path).c_str(), &info) == 0;
}

bool DeleteFileByPath(const std::wstring& path) {
    if (unlink(WideToUtf8(path).c_str()) == 0) return true;
    SetLastErrorCode(Win32ErrorFromErrno(errno));
    return false;
}

bool ReplaceFileByPath(const std::wstring& from, const std::wstring& to) {
    if (std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0) return true;
    SetLastErrorCode(Win32ErrorFromErrno(errno));
    return false;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

}  // namespace kx::platform
