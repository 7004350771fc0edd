#pragma once
// A cache file that writes to the real file system and records, in order,
// what is done with it in a journal that every file of one alert log shares.
// A test can step in before each operation (to sweep, or to look at the
// saved position while the file is being written).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ExclusiveFile.h"

class CRecordingFile : public kx::platform::CExclusiveFile {
public:
    enum class Operation { Open, Write, FlushToDevice, Close };
    struct CJournal {
        std::vector<Operation> operations;
        // Runs before each operation, with the path of the file.
        std::function<void(Operation, const std::wstring&)> before;
    };

    explicit CRecordingFile(CJournal& journal) : journal_(journal) {}

    uint32_t Open(const std::wstring& path, kx::platform::ExclusiveAccess access) override;
    uint32_t Write(const void* bytes, std::size_t count) override;
    uint32_t FlushToDevice() override;
    uint32_t Close() override;

private:
    void Record(Operation operation);

    CJournal& journal_;
    std::wstring path_;
};

// Names the operation in a failed expectation.
void PrintTo(CRecordingFile::Operation operation, std::ostream* out);
