#pragma once
// What the alert log's cache files need of the file system: an exclusive open
// that keeps every other opener out (this process or another) until it is
// closed, of a new file from the moment it exists or of one already there;
// the listing of a directory by a wildcard pattern with each entry's size and
// creation time; and the data pushed through to the device. Errors are Win32
// codes (32: another opener holds the file).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorFileExists = 80;

enum class ExclusiveAccess {
    // A new file, write only, held from the moment it exists (80 when the
    // name is taken), so that no other opener ever finds it empty and free.
    // It is the agent's own: SYSTEM and Administrators only on Windows, 0600
    // on Linux.
    CreateNew,
    OpenForReadWrite,  // must exist
};

// Its operations are virtual so that a test can watch what the alert log does
// with its files, and in what order.
class CExclusiveFile {
public:
    CExclusiveFile() = default;
    virtual ~CExclusiveFile();
    CExclusiveFile(const CExclusiveFile&) = delete;
    CExclusiveFile& operator=(const CExclusiveFile&) = delete;

    // 0, or the error of the open (32 while someone else holds it).
    virtual uint32_t Open(const std::wstring& path, ExclusiveAccess access);
    bool IsOpen() const { return handle_ != kClosed; }
    // Writes every byte; 0 or the error (112 when the disk is full).
    virtual uint32_t Write(const void* bytes, std::size_t count);
    // Reads up to count bytes; *read is 0 at the end of the file.
    virtual uint32_t Read(void* bytes, std::size_t count, std::size_t* read);
    virtual uint32_t GetSize(uint64_t* size);
    // FlushFileBuffers; on Linux fsync of the file and of its directory, so
    // that a new file survives a power loss.
    virtual uint32_t FlushToDevice();
    // 0, or the error that closing reported (a late write error).
    virtual uint32_t Close();

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
    std::wstring path_;
};

struct FoundFile {
    std::wstring name;  // without the directory
    bool isDirectory = false;
    uint64_t size = 0;
    // 100-nanosecond units since 1601-01-01 UTC. Linux: the birth time where
    // the file system keeps one, else the time of the last write.
    int64_t creationTime = 0;
};

// FindFirstFileW/FindNextFileW over directory + separator + pattern ('*' and
// '?' wildcards, letter case ignored), in the order the system lists them.
// 0 also when nothing matches; otherwise the error of the listing.
uint32_t FindFiles(const std::wstring& directory, const std::wstring& pattern,
                   std::vector<FoundFile>* found);

}  // namespace kx::platform
