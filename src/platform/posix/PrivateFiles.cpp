#include "platform/posix/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kx::platform {
namespace {

constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kOwnerBits = 0700;

}  // namespace

bool CreatePrivateFolders(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        if (mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return false;
        if (end == std::string::npos) return true;
    }
}

int OpenPrivateFile(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0 || (flags & O_ACCMODE) == O_RDONLY) return fd;
    struct stat info {};
    if (fstat(fd, &info) == 0 && (info.st_mode & 07777 & ~kOwnerBits) != 0) {
        fchmod(fd, info.st_mode & kOwnerBits);
    }
    return fd;
}

}  // namespace kx::platform
