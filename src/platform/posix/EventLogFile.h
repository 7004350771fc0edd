#pragma once
// One log's classic ".evt" file: a 48-byte header, the records one after the
// other from offset 48 (oldest first, never wrapped), and the 40-byte
// end-of-file record after the newest. The header is kept current on every
// change, so it is never marked dirty.
//
// Locking: writers hold an exclusive flock on the file while they append;
// readers hold a shared one for each read. A reader therefore sees the
// header and every record it points to whole. Clearing and trimming write
// a new file and rename it over the old one; a handle still open on the old
// file then fails with 1503 (the log changed), as on Windows.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

struct EvtHeader {
    uint32_t startOffset = 0;          // first (oldest) record
    uint32_t endOffset = 0;            // the end-of-file record
    uint32_t currentRecordNumber = 1;  // number of the next record written
    uint32_t oldestRecordNumber = 0;   // 0 while the log is empty
    uint32_t maxSize = 0;
    uint32_t flags = 0;
    uint32_t retention = 0;

    uint32_t Count() const {
        return oldestRecordNumber == 0 ? 0 : currentRecordNumber - oldestRecordNumber;
    }
};

class CEventLogFile {
public:
    static constexpr uint32_t kHeaderSize = 0x30;
    static constexpr uint32_t kEofRecordSize = 0x28;

    explicit CEventLogFile(std::string path);
    ~CEventLogFile();
    CEventLogFile(const CEventLogFile&) = delete;
    CEventLogFile& operator=(const CEventLogFile&) = delete;

    // Opens the file for reading; false with 2 when there is none.
    bool OpenForReading();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // A shared lock for the length of one read; false with 1503 when the
    // path names another file by now (the log was cleared or trimmed).
    bool LockForReading();
    void Unlock();
    // With the lock held: the header, checked (1500 when it is not a log
    // this stand-in wrote).
    bool ReadHeader(EvtHeader* header);
    bool ReadBytes(uint64_t offset, void* buffer, std::size_t size);
    // With the lock held: the offset of a record in [oldest, current), from
    // an index shared by the process's readers (1500 when the file lies).
    bool FindRecordOffset(const EvtHeader& header, uint32_t recordNumber, uint64_t* offset);
    // With the lock held: the length of the record at offset after checking
    // its signature, number and bounds (1500 when they are wrong).
    bool CheckRecordAt(const EvtHeader& header, uint64_t offset, uint32_t recordNumber,
                       uint32_t* length);

    // Appends whole records under the exclusive lock, setting their numbers.
    static bool Append(const std::string& path, const std::vector<std::vector<uint8_t>>& records,
                       uint32_t* firstNumber);
    // Keeps the newest keepCount records. A clear (restartNumbering) keeps
    // none and numbers the next record 1.
    static bool Rewrite(const std::string& path, uint32_t keepCount, bool restartNumbering);

private:
    bool OpenForWriting();
    bool LockExclusiveCurrent();
    bool SameFileAsPath();
    bool InitializeEmpty(EvtHeader* header);
    bool WriteHeaderAndEof(const EvtHeader& header);
    bool WriteAll(uint64_t offset, const void* bytes, std::size_t size);
    bool AppendLocked(const std::vector<std::vector<uint8_t>>& records, uint32_t* firstNumber);
    bool RewriteLocked(uint32_t keepCount, bool restartNumbering);

    std::string path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

// The header and end-of-file record bytes for a header.
std::vector<uint8_t> EncodeEvtHeader(const EvtHeader& header);
std::vector<uint8_t> EncodeEvtEofRecord(const EvtHeader& header);

}  // namespace kx::platform
