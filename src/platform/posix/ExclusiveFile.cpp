#include "platform/ExclusiveFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/posix/ErrnoMapping.h"
#include "platform/posix/PrivateFiles.h"

namespace kx::platform {
namespace {

uint32_t LastErrno() {
    return Win32ErrorFromErrno(errno);
}

int64_t ToFileTime(const statx_timestamp& stamp) {
    return static_cast<int64_t>(stamp.tv_sec) * 10000000 + stamp.tv_nsec / 100 + kFileTimeUnixEpoch;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Takes the whole-file lock that stands for Windows' share mode 0: flock locks
// belong to the open file, so a second open fails in this process as well as
// in another.
uint32_t LockExclusively(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    return errno == EWOULDBLOCK ? kErrorSharingViolation : LastErrno();
}

}  // namespace

CExclusiveFile::~CExclusiveFile() {
    Close();
}

uint32_t CExclusiveFile::Open(const std::wstring& path, ExclusiveAccess access) {
    Close();
    const bool create = access == ExclusiveAccess::CreateNew;
    // A new file is locked right after it is made: an opener that comes in
    // between finds it empty and holds it, and this open fails with 32 having
    // written nothing.
    const int fd = OpenPrivateFile(WideToUtf8(path), create ? O_WRONLY | O_CREAT | O_EXCL : O_RDWR);
    if (fd < 0) return LastErrno();
    const uint32_t error = LockExclusively(fd);
    if (error != 0) {
        close(fd);
        return error;
    }
    handle_ = fd;
    path_ = path;
    return 0;
}

uint32_t CExclusiveFile::Write(const void* bytes, std::size_t count) {
    const auto* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t written = write(static_cast<int>(handle_), next, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return LastErrno();
        }
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return 0;
}

uint32_t CExclusiveFile::Read(void* bytes, std::size_t count, std::size_t* read) {
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), bytes, count);
        if (got >= 0) {
            *read = static_cast<std::size_t>(got);
            return 0;
        }
        if (errno != EINTR) return LastErrno();
    }
}

uint32_t CExclusiveFile::GetSize(uint64_t* size) {
    struct stat info {};
    if (fstat(static_cast<int>(handle_), &info) != 0) return LastErrno();
    *size = static_cast<uint64_t>(info.st_size);
    return 0;
}

uint32_t CExclusiveFile::FlushToDevice() {
    if (fsync(static_cast<int>(handle_)) != 0) return LastErrno();
    const int directory = open(DirectoryOf(WideToUtf8(path_)).c_str(), O_RDONLY | O_CLOEXEC);
    if (directory < 0) return LastErrno();
    const uint32_t error = fsync(directory) == 0 ? 0 : LastErrno();
    close(directory);
    return error;
}

uint32_t CExclusiveFile::Close() {
    if (handle_ == kClosed) return 0;
    const int fd = static_cast<int>(handle_);
    handle_ = kClosed;
    path_.clear();
    return close(fd) == 0 ? 0 : LastErrno();
}

uint32_t FindFiles(const std::wstring& directory, const std::wstring& pattern,
                   std::vector<FoundFile>* found) {
    const std::string folder = WideToUtf8(directory);
    DIR* listing = opendir(folder.c_str());
    if (!listing) return LastErrno();
    const std::string wildcard = WideToUtf8(pattern);
    while (const dirent* entry = readdir(listing)) {
        if (fnmatch(wildcard.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
        struct statx info {};
        const std::string path = folder + "/" + entry->d_name;
        // Gone between the listing and the look: not there any more.
        if (statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME,
                  &info) != 0)
            continue;
        FoundFile file;
        file.name = Utf8ToWide(entry->d_name);
        file.isDirectory = S_ISDIR(info.stx_mode);
        file.size = info.stx_size;
        // tmpfs and some older file systems keep no birth time. A cache file
        // is written once, right after it is created, so its last write
        // orders it among the others just as well.
        const bool born = (info.stx_mask & STATX_BTIME) != 0 && info.stx_btime.tv_sec != 0;
        file.creationTime = ToFileTime(born ? info.stx_btime : info.stx_mtime);
        found->push_back(std::move(file));
    }
    closedir(listing);
    return 0;
}

}  // namespace kx::platform
