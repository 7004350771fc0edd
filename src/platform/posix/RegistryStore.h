#pragma once
// One root key of the file-backed registry: its ".reg" file, a parsed copy
// of it, and the lock that orders writers.
//
// Readers never lock: a writer builds the whole new file beside the old one,
// flushes it and renames it into place, so a reader sees the old file or the
// new one and never a part. Writers take an exclusive lock on a lock file
// beside it (flock), re-read the file when another process has replaced it,
// apply their change and write. The copy is re-read whenever the file on
// disk is no longer the one it was read from; the file read last is kept open
// so that its inode cannot be reused by a later file, which makes that test
// exact.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "platform/posix/RegistryTree.h"

namespace kx::platform {

class CRegistryStore {
public:
    CRegistryStore(std::string filePath, std::wstring rootName);
    ~CRegistryStore();
    CRegistryStore(const CRegistryStore&) = delete;
    CRegistryStore& operator=(const CRegistryStore&) = delete;

    const std::string& FilePath() const { return filePath_; }

    // Runs reader against the current content; its answer, or the error
    // that kept the file from being read.
    uint32_t Read(const std::function<uint32_t(const CRegistryTree&)>& reader);
    // Runs change under the writers' lock against the current content and
    // writes the file when change succeeded and set *changed.
    uint32_t Update(const std::function<uint32_t(CRegistryTree&, bool* changed)>& change);
    // Whether this process may write the file (its folder is writable).
    bool WriteAllowed() const;

private:
    struct Identity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const Identity& other) const;
    };

    static Identity IdentityOf(const struct stat& info);
    uint32_t Refresh();
    uint32_t Reload();
    uint32_t Parse(const std::string& bytes);
    uint32_t Write();
    uint32_t LockWriters();
    void UnlockWriters();
    void KeepOpen(int fd, const Identity& identity);
    void ReportCorrupt(int line, const std::wstring& message);

    std::string filePath_;
    std::string lockPath_;
    std::mutex mutex_;  // orders this process's threads; the flock orders processes
    CRegistryTree tree_;
    bool loaded_ = false;
    bool corrupt_ = false;
    Identity identity_;         // of the file tree_ was read from
    Identity reportedCorrupt_;  // a damaged file is reported once
    int heldFd_ = -1;
    int lockFd_ = -1;
};

}  // namespace kx::platform
