#include "platform/posix/EventLogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>

#include "BaseClasses/EventLogRecord.h"
#include "platform/EventLog.h"
#include "platform/Process.h"
#include "platform/posix/ErrnoMapping.h"
#include "platform/posix/PrivateFiles.h"

namespace kx::platform {
namespace {

using kx::eventlog::ReadUInt32LE;
using kx::eventlog::WriteUInt32LE;

constexpr uint32_t kSignature = 0x654C664C;  // "LfLe"
constexpr uint32_t kDefaultMaxSize = 0x01400000;
constexpr uint32_t kEofMarkers[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
constexpr std::size_t kCopyChunk = 1 << 20;

bool Fail(uint32_t code) {
    SetLastErrorCode(code);
    return false;
}

bool FailFromErrno() {
    return Fail(Win32ErrorFromErrno(errno));
}

// Offsets of the records of one file, shared by every reader in the process
// so that a poll does not scan the whole log again. Keyed by path; an entry
// is for one file (device and inode) and one oldest record.
struct RecordIndex {
    dev_t device = 0;
    ino_t inode = 0;
    uint32_t firstNumber = 0;
    std::vector<uint64_t> offsets;
};

std::mutex g_indexMutex;
std::map<std::string, RecordIndex>& Indexes() {
    static auto* indexes = new std::map<std::string, RecordIndex>();
    return *indexes;
}

uint32_t RoundUpTo64K(uint64_t size) {
    return static_cast<uint32_t>((size + 0xFFFF) & ~uint64_t{0xFFFF});
}

}  // namespace

std::vector<uint8_t> EncodeEvtHeader(const EvtHeader& header) {
    std::vector<uint8_t> out(CEventLogFile::kHeaderSize);
    const uint32_t fields[12] = {CEventLogFile::kHeaderSize,
                                 kSignature,
                                 1,
                                 1,
                                 header.startOffset,
                                 header.endOffset,
                                 header.currentRecordNumber,
                                 header.oldestRecordNumber,
                                 header.maxSize,
                                 header.flags,
                                 header.retention,
                                 CEventLogFile::kHeaderSize};
    for (int i = 0; i < 12; ++i) WriteUInt32LE(out.data() + 4 * i, fields[i]);
    return out;
}

std::vector<uint8_t> EncodeEvtEofRecord(const EvtHeader& header) {
    std::vector<uint8_t> out(CEventLogFile::kEofRecordSize);
    const uint32_t fields[10] = {CEventLogFile::kEofRecordSize,
                                 kEofMarkers[0],
                                 kEofMarkers[1],
                                 kEofMarkers[2],
                                 kEofMarkers[3],
                                 header.startOffset,
                                 header.endOffset,
                                 header.currentRecordNumber,
                                 header.oldestRecordNumber,
                                 CEventLogFile::kEofRecordSize};
    for (int i = 0; i < 10; ++i) WriteUInt32LE(out.data() + 4 * i, fields[i]);
    return out;
}

CEventLogFile::CEventLogFile(std::string path) : path_(std::move(path)) {}

CEventLogFile::~CEventLogFile() {
    if (fd_ >= 0) close(fd_);  // also releases any lock held
}

bool CEventLogFile::OpenForReading() {
    fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return FailFromErrno();
    struct stat info {};
    if (fstat(fd_, &info) != 0) return FailFromErrno();
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return true;
}

bool CEventLogFile::SameFileAsPath() {
    struct stat byPath {};
    struct stat byHandle {};
    if (stat(path_.c_str(), &byPath) != 0 || fstat(fd_, &byHandle) != 0) return false;
    return byPath.st_dev == byHandle.st_dev && byPath.st_ino == byHandle.st_ino;
}

bool CEventLogFile::LockForReading() {
    if (flock(fd_, LOCK_SH) != 0) return FailFromErrno();
    if (SameFileAsPath()) return true;
    Unlock();
    return Fail(kErrorEventLogFileChanged);
}

void CEventLogFile::Unlock() {
    flock(fd_, LOCK_UN);
}

bool CEventLogFile::ReadBytes(uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        ssize_t got = pread(fd_, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FailFromErrno();
        if (got == 0) return Fail(kErrorEventLogFileCorrupt);  // shorter than the header says
        out += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool CEventLogFile::WriteAll(uint64_t offset, const void* bytes, std::size_t size) {
    const auto* in = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        ssize_t put = pwrite(fd_, in, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return FailFromErrno();
        in += put;
        offset += static_cast<uint64_t>(put);
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool CEventLogFile::ReadHeader(EvtHeader* header) {
    uint8_t bytes[kHeaderSize];
    struct stat info {};
    if (fstat(fd_, &info) != 0) return FailFromErrno();
    if (static_cast<uint64_t>(info.st_size) < kHeaderSize + kEofRecordSize)
        return Fail(kErrorEventLogFileCorrupt);
    if (!ReadBytes(0, bytes, sizeof bytes)) return false;
    auto field = [&](int index) { return ReadUInt32LE(bytes + 4 * index); };
    header->startOffset = field(4);
    header->endOffset = field(5);
    header->currentRecordNumber = field(6);
    header->oldestRecordNumber = field(7);
    header->maxSize = field(8);
    header->flags = field(9);
    header->retention = field(10);
    const bool wellFormed =
        field(0) == kHeaderSize && field(1) == kSignature && field(11) == kHeaderSize;
    // Only the unwrapped layout this stand-in writes is understood.
    const bool linear =
        header->startOffset == kHeaderSize && header->endOffset >= header->startOffset &&
        uint64_t{header->endOffset} + kEofRecordSize <= static_cast<uint64_t>(info.st_size);
    const bool numbered = header->oldestRecordNumber == 0
                              ? header->endOffset == header->startOffset
                              : header->oldestRecordNumber < header->currentRecordNumber;
    if (!wellFormed || !linear || !numbered) return Fail(kErrorEventLogFileCorrupt);
    return true;
}

bool CEventLogFile::CheckRecordAt(const EvtHeader& header, uint64_t offset, uint32_t recordNumber,
                                  uint32_t* length) {
    uint8_t start[12];
    if (offset + sizeof start > header.endOffset) return Fail(kErrorEventLogFileCorrupt);
    if (!ReadBytes(offset, start, sizeof start)) return false;
    *length = ReadUInt32LE(start);
    const bool fits = *length >= kx::eventlog::kSmallestRecordSize && *length % 4 == 0 &&
                      offset + *length <= header.endOffset;
    if (!fits || ReadUInt32LE(start + 4) != kSignature || ReadUInt32LE(start + 8) != recordNumber)
        return Fail(kErrorEventLogFileCorrupt);
    return true;
}

bool CEventLogFile::FindRecordOffset(const EvtHeader& header, uint32_t recordNumber,
                                     uint64_t* offset) {
    if (header.Count() == 0 || recordNumber < header.oldestRecordNumber ||
        recordNumber >= header.currentRecordNumber)
        return Fail(kErrorInvalidParameter);
    std::lock_guard<std::mutex> lock(g_indexMutex);
    RecordIndex& index = Indexes()[path_];
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 || index.device != device_ || index.inode != inode_ ||
            index.firstNumber != header.oldestRecordNumber || index.offsets.empty()) {
            index = RecordIndex{device_, inode_, header.oldestRecordNumber, {header.startOffset}};
        }
        const std::size_t wanted = recordNumber - index.firstNumber;
        uint32_t length = 0;
        bool ok = true;
        while (ok && index.offsets.size() <= wanted) {
            const uint32_t last =
                index.firstNumber + static_cast<uint32_t>(index.offsets.size()) - 1;
            ok = CheckRecordAt(header, index.offsets.back(), last, &length);
            if (ok) index.offsets.push_back(index.offsets.back() + length);
        }
        // The entry may describe an older file that had the same inode.
        if (ok && CheckRecordAt(header, index.offsets[wanted], recordNumber, &length)) {
            *offset = index.offsets[wanted];
            return true;
        }
    }
    index = RecordIndex{};
    return Fail(kErrorEventLogFileCorrupt);
}

bool CEventLogFile::OpenForWriting() {
    CreatePrivateFolders(std::filesystem::path(path_).parent_path().string());
    // A clear or trim may rename a new file over the path while this waits
    // for the lock; then the lock is on a file no longer in the log.
    for (int attempt = 0; attempt < 100; ++attempt) {
        fd_ = OpenPrivateFile(path_, O_RDWR | O_CREAT);
        if (fd_ < 0) return FailFromErrno();
        if (flock(fd_, LOCK_EX) != 0) return FailFromErrno();
        if (SameFileAsPath()) {
            struct stat info {};
            fstat(fd_, &info);
            device_ = info.st_dev;
            inode_ = info.st_ino;
            return true;
        }
        close(fd_);
        fd_ = -1;
    }
    return Fail(kErrorEventLogFileChanged);
}

bool CEventLogFile::WriteHeaderAndEof(const EvtHeader& header) {
    std::vector<uint8_t> eof = EncodeEvtEofRecord(header);
    std::vector<uint8_t> head = EncodeEvtHeader(header);
    return WriteAll(header.endOffset, eof.data(), eof.size()) &&
           WriteAll(0, head.data(), head.size());
}

bool CEventLogFile::InitializeEmpty(EvtHeader* header) {
    *header = EvtHeader{kHeaderSize, kHeaderSize, 1, 0, kDefaultMaxSize, 0, 0};
    return WriteHeaderAndEof(*header);
}

bool CEventLogFile::AppendLocked(const std::vector<std::vector<uint8_t>>& records,
                                 uint32_t* firstNumber) {
    struct stat info {};
    if (fstat(fd_, &info) != 0) return FailFromErrno();
    EvtHeader header;
    if (!(info.st_size == 0 ? InitializeEmpty(&header) : ReadHeader(&header))) return false;
    if (firstNumber) *firstNumber = header.currentRecordNumber;
    if (records.empty()) return true;

    std::vector<uint8_t> bytes;
    uint32_t number = header.currentRecordNumber;
    for (const std::vector<uint8_t>& record : records) {
        CEventLogRecord view(record.data(), record.size());
        if (!view.IsValid() || view.Length() != record.size() || record.size() % 4 != 0 ||
            record.size() < kx::eventlog::kSmallestRecordSize ||
            record.size() > kMaximumEventLogReadSize || number == 0)
            return Fail(kErrorInvalidParameter);
        std::size_t at = bytes.size();
        bytes.insert(bytes.end(), record.begin(), record.end());
        WriteUInt32LE(bytes.data() + at + kx::eventlog::kOffsetRecordNumber, number++);
    }
    EvtHeader next = header;
    next.endOffset = static_cast<uint32_t>(uint64_t{header.endOffset} + bytes.size());
    if (uint64_t{header.endOffset} + bytes.size() + kEofRecordSize > 0xFFFFFFFFu)
        return Fail(112);  // the 32-bit offsets of the format are exhausted
    if (next.oldestRecordNumber == 0) next.oldestRecordNumber = header.currentRecordNumber;
    next.currentRecordNumber = number;
    next.maxSize = std::max(header.maxSize, RoundUpTo64K(next.endOffset + kEofRecordSize));
    // Records and the new end-of-file record first; the header, which is what
    // readers go by, last.
    std::vector<uint8_t> eof = EncodeEvtEofRecord(next);
    bytes.insert(bytes.end(), eof.begin(), eof.end());
    std::vector<uint8_t> head = EncodeEvtHeader(next);
    if (!WriteAll(header.endOffset, bytes.data(), bytes.size()) ||
        !WriteAll(0, head.data(), head.size()))
        return false;
    const off_t end = static_cast<off_t>(next.endOffset) + kEofRecordSize;
    if (info.st_size > end && ftruncate(fd_, end) != 0) return FailFromErrno();
    return true;
}

bool CEventLogFile::Append(const std::string& path,
                           const std::vector<std::vector<uint8_t>>& records,
                           uint32_t* firstNumber) {
    CEventLogFile file(path);
    return file.OpenForWriting() && file.AppendLocked(records, firstNumber);
}

bool CEventLogFile::RewriteLocked(uint32_t keepCount, bool restartNumbering) {
    struct stat info {};
    if (fstat(fd_, &info) != 0) return FailFromErrno();
    EvtHeader header;
    if (!(info.st_size == 0 ? InitializeEmpty(&header) : ReadHeader(&header))) return false;
    const uint32_t count = header.Count();
    if (restartNumbering) keepCount = 0;
    if (!restartNumbering && keepCount >= count) return true;

    uint64_t keptFrom = header.endOffset;
    EvtHeader next{kHeaderSize, kHeaderSize,     header.currentRecordNumber, 0, header.maxSize,
                   0,           header.retention};
    if (restartNumbering) next.currentRecordNumber = 1;
    if (keepCount > 0) {
        next.oldestRecordNumber = header.currentRecordNumber - keepCount;
        if (!FindRecordOffset(header, next.oldestRecordNumber, &keptFrom)) return false;
        next.endOffset = static_cast<uint32_t>(kHeaderSize + (header.endOffset - keptFrom));
    }

    const std::string temporary = path_ + ".new." + std::to_string(getpid());
    CEventLogFile out(temporary);
    out.fd_ = OpenPrivateFile(temporary, O_RDWR | O_CREAT | O_TRUNC);
    if (out.fd_ < 0) return FailFromErrno();
    std::vector<uint8_t> chunk;
    bool ok = true;
    for (uint64_t from = keptFrom; ok && from < header.endOffset; from += chunk.size()) {
        chunk.resize(
            static_cast<std::size_t>(std::min<uint64_t>(kCopyChunk, header.endOffset - from)));
        ok = ReadBytes(from, chunk.data(), chunk.size()) &&
             out.WriteAll(kHeaderSize + (from - keptFrom), chunk.data(), chunk.size());
    }
    ok = ok && out.WriteHeaderAndEof(next) && fsync(out.fd_) == 0;
    if (ok && rename(temporary.c_str(), path_.c_str()) != 0) ok = FailFromErrno();
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool CEventLogFile::Rewrite(const std::string& path, uint32_t keepCount, bool restartNumbering) {
    CEventLogFile file(path);
    return file.OpenForWriting() && file.RewriteLocked(keepCount, restartNumbering);
}

}  // namespace kx::platform
