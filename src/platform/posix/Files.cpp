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

// The open(2) flags of an fopen mode that writes ("w", "a", with or without "+").
int WritingFlags(std::wstring_view mode) {
    const bool update = mode.find(L'+') != std::wstring_view::npos;
    const int access = update ? O_RDWR : O_WRONLY;
    return access | O_CREAT | (mode.front() == L'a' ? O_APPEND : O_TRUNC);
}

std::FILE* OpenPrivateStream(const std::wstring& path, const wchar_t* mode) {
    const int fd = OpenPrivateFile(WideToUtf8(path), WritingFlags(mode));
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
    const bool writes = mode[0] == L'w' || mode[0] == L'a';
    std::FILE* file = access == FileAccess::Private && writes
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
