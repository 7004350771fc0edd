#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "common/Format.h"
#include "common/Text.h"
#include "platform/Process.h"
#include "platform/posix/ErrnoMapping.h"
#include "platform/posix/PrivateFiles.h"

namespace kx::platform {
namespace {

// A file to be emptied is made anew rather than truncated, so that it is born
// 0600 and a descriptor opened on the old one reads nothing of what is
// written now. One that cannot be removed is emptied in place and narrowed.
int CreateEmptyPrivateFile(const std::string& path, int flags) {
    int fd = OpenPrivateFile(path, flags | O_EXCL);
    if (fd >= 0 || errno != EEXIST) return fd;
    if (unlink(path.c_str()) == 0) {
        fd = OpenPrivateFile(path, flags | O_EXCL);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return OpenPrivateFile(path, flags);
}

std::FILE* OpenPrivateStream(const std::wstring& path, const wchar_t* mode) {
    const bool update = std::wstring_view(mode).find(L'+') != std::wstring_view::npos;
    const int fd =
        CreateEmptyPrivateFile(WideToUtf8(path), (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, WideToUtf8(mode).c_str());
    if (!file) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

}  // namespace

std::filesystem::path ToNativePath(const std::wstring& path) {
    return std::filesystem::path(WideToUtf8(path));
}

std::FILE* OpenFileStream(const std::wstring& path, const wchar_t* mode, FileAccess access) {
    std::FILE* file = access == FileAccess::Private && mode[0] == L'w'
                          ? OpenPrivateStream(path, mode)
                          : std::fopen(WideToUtf8(path).c_str(), WideToUtf8(mode).c_str());
    if (!file) SetLastErrorCode(Win32ErrorFromErrno(errno));
    return file;
}

std::wstring GetFileAccessText(const std::wstring& path) {
    struct stat info {};
    if (stat(WideToUtf8(path).c_str(), &info) != 0) return L"";
    return Format(L"%o", static_cast<unsigned>(info.st_mode & 07777));
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
