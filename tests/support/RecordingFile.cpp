#include "RecordingFile.h"

uint32_t CRecordingFile::Open(const std::wstring& path, kx::platform::ExclusiveAccess access) {
    path_ = path;
    Record(Operation::Open);
    return CExclusiveFile::Open(path, access);
}

uint32_t CRecordingFile::Write(const void* bytes, std::size_t count) {
    Record(Operation::Write);
    return CExclusiveFile::Write(bytes, count);
}

uint32_t CRecordingFile::FlushToDevice() {
    Record(Operation::FlushToDevice);
    return CExclusiveFile::FlushToDevice();
}

// The port's Open closes first, through here: only a close of an open file
// counts.
uint32_t CRecordingFile::Close() {
    if (IsOpen()) Record(Operation::Close);
    return CExclusiveFile::Close();
}

void CRecordingFile::Record(Operation operation) {
    if (journal_.before) journal_.before(operation, path_);
    journal_.operations.push_back(operation);
}

void PrintTo(CRecordingFile::Operation operation, std::ostream* out) {
    static const char* const kNames[] = {"Open", "Write", "FlushToDevice", "Close"};
    *out << kNames[static_cast<int>(operation)];
}
