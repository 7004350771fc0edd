#include "platform/posix/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/Format.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "platform/posix/ErrnoMapping.h"
#include "platform/posix/PrivateFiles.h"

namespace kx::platform {
namespace {

constexpr uint32_t kRegistryIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED

bool ReadAll(int fd, std::string* bytes) {
    bytes->clear();
    char buffer[16384];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes->append(buffer, static_cast<std::size_t>(count));
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

void SyncDirectory(const std::string& filePath) {
    std::string folder = std::filesystem::path(filePath).parent_path().string();
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool CRegistryStore::Identity::operator==(const Identity& other) const {
    if (exists != other.exists) return false;
    if (!exists) return true;
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

// What tells one version of the file from another: the inode (replaced by
// every write) and, for an editor that writes in place, size and times.
CRegistryStore::Identity CRegistryStore::IdentityOf(const struct stat& info) {
    Identity identity;
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modified = info.st_mtim;
    identity.changed = info.st_ctim;
    return identity;
}

CRegistryStore::CRegistryStore(std::string filePath, std::wstring rootName)
    : filePath_(std::move(filePath)), lockPath_(filePath_ + ".lock"), tree_(std::move(rootName)) {}

CRegistryStore::~CRegistryStore() {
    if (heldFd_ >= 0) close(heldFd_);
    if (lockFd_ >= 0) close(lockFd_);
}

uint32_t CRegistryStore::Read(const std::function<uint32_t(const CRegistryTree&)>& reader) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (uint32_t status = Refresh(); status != 0) return status;
    return reader(tree_);
}

uint32_t CRegistryStore::Update(
    const std::function<uint32_t(CRegistryTree&, bool* changed)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (uint32_t status = LockWriters(); status != 0) return status;
    uint32_t status = Refresh();
    if (status == 0) {
        bool changed = false;
        status = change(tree_, &changed);
        if (status == 0 && changed) status = Write();
    }
    UnlockWriters();
    return status;
}

bool CRegistryStore::WriteAllowed() const {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(filePath_).parent_path();
    while (!folder.empty() && !std::filesystem::exists(folder, error)) {
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
    return access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

uint32_t CRegistryStore::Refresh() {
    struct stat info {};
    if (stat(filePath_.c_str(), &info) != 0) {
        if (errno != ENOENT) return Win32ErrorFromErrno(errno, kRegistryIoFailed);
        // No file yet: a root without keys.
        if (!loaded_ || identity_.exists) {
            KeepOpen(-1, Identity{});
            tree_.Clear();
            corrupt_ = false;
            loaded_ = true;
        }
        return 0;
    }
    if (loaded_ && IdentityOf(info) == identity_) return corrupt_ ? kRegistryCorrupt : 0;
    return Reload();
}

uint32_t CRegistryStore::Reload() {
    loaded_ = false;
    int fd = open(filePath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // Replaced or removed since it was looked at: look again.
        if (errno == ENOENT) return Refresh();
        return Win32ErrorFromErrno(errno, kRegistryIoFailed);
    }
    struct stat info {};
    std::string bytes;
    if (fstat(fd, &info) != 0 || !ReadAll(fd, &bytes)) {
        uint32_t status = Win32ErrorFromErrno(errno, kRegistryIoFailed);
        close(fd);
        return status;
    }
    KeepOpen(fd, IdentityOf(info));
    loaded_ = true;
    return Parse(bytes);
}

uint32_t CRegistryStore::Parse(const std::string& bytes) {
    tree_.Clear();
    corrupt_ = false;
    if (bytes.empty()) return 0;  // an empty file holds no keys
    std::vector<RegFileKey> keys;
    RegFileError error;
    std::wstring message;
    if (!ParseRegFile(bytes, &keys, &error)) {
        ReportCorrupt(error.line, error.message);
    } else if (!tree_.Load(keys, &message)) {
        ReportCorrupt(0, message);
    } else {
        return 0;
    }
    tree_.Clear();
    corrupt_ = true;
    return kRegistryCorrupt;
}

void CRegistryStore::ReportCorrupt(int line, const std::wstring& message) {
    if (reportedCorrupt_.exists && reportedCorrupt_ == identity_) return;
    reportedCorrupt_ = identity_;
    std::wstring where = line > 0 ? Format(L"line %d: ", line) : std::wstring();
    std::wstring text = Format(
        L"Registry file %s cannot be read (%s%s). Its keys are unavailable, and it will not be "
        L"written, until it is repaired.",
        filePath_, where, message);
    std::fprintf(stderr, "%s\n", WideToUtf8(text).c_str());
}

uint32_t CRegistryStore::Write() {
    // A new file is the owner's alone; one that exists keeps the permissions
    // an administrator gave it (no one locks it, so reading it is all they allow).
    mode_t mode = 0600;
    struct stat old {};
    if (heldFd_ >= 0 && fstat(heldFd_, &old) == 0) mode = old.st_mode & 07777;
    // Made anew: a temporary left by a crash may be open in another process.
    std::string temporary = filePath_ + ".tmp";
    unlink(temporary.c_str());
    int fd = OpenPrivateFile(temporary, O_WRONLY | O_CREAT | O_EXCL);
    uint32_t status = fd < 0 ? Win32ErrorFromErrno(errno, kRegistryIoFailed) : 0;
    if (status == 0) {
        struct stat info {};
        if (fchmod(fd, mode) != 0 || !WriteAll(fd, FormatRegFile(tree_.Save())) || fsync(fd) != 0 ||
            rename(temporary.c_str(), filePath_.c_str()) != 0 || fstat(fd, &info) != 0) {
            status = Win32ErrorFromErrno(errno, kRegistryIoFailed);
        } else {
            SyncDirectory(filePath_);
            KeepOpen(fd, IdentityOf(info));
            return 0;
        }
        close(fd);
        unlink(temporary.c_str());
    }
    // The copy now holds a change the file does not: read the file again next time.
    loaded_ = false;
    return status;
}

uint32_t CRegistryStore::LockWriters() {
    for (;;) {
        if (lockFd_ < 0) {
            CreatePrivateFolders(std::filesystem::path(filePath_).parent_path().string());
            lockFd_ = OpenPrivateFile(lockPath_, O_RDWR | O_CREAT);
            if (lockFd_ < 0) return Win32ErrorFromErrno(errno, kRegistryIoFailed);
        }
        while (flock(lockFd_, LOCK_EX) != 0) {
            if (errno != EINTR) return Win32ErrorFromErrno(errno, kRegistryIoFailed);
        }
        // A lock file removed meanwhile (its folder cleaned up) would no
        // longer order this process with the others: lock the one there now.
        struct stat held {};
        struct stat current {};
        if (fstat(lockFd_, &held) == 0 && stat(lockPath_.c_str(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino) {
            return 0;
        }
        close(lockFd_);
        lockFd_ = -1;
    }
}

void CRegistryStore::UnlockWriters() {
    flock(lockFd_, LOCK_UN);
}

void CRegistryStore::KeepOpen(int fd, const Identity& identity) {
    if (heldFd_ >= 0 && heldFd_ != fd) close(heldFd_);
    heldFd_ = fd;
    identity_ = identity;
}

}  // namespace kx::platform
