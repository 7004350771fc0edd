// The Linux ".evt" file reader: the input is the Security log's file. It is
// read the ways the collector reads it (oldest and count, sequential
// forward reads with a buffer of a chosen size, seek reads by number), and
// every read must hand out whole records only.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "BaseClasses/EventLogRecord.h"
#include "FuzzMachine.h"
#include "FuzzText.h"
#include "platform/EventLog.h"

namespace {

using kx::platform::EventLogHandle;
using kx::platform::IEventLog;

// Every record of a successful read lies whole inside the bytes read.
void CheckWholeRecords(const std::vector<uint8_t>& buffer, uint32_t bytesRead) {
    KX_FUZZ_CHECK(bytesRead <= buffer.size());
    uint32_t offset = 0;
    while (offset < bytesRead) {
        KX_FUZZ_CHECK(kx::eventlog::CheckRecordBounds(buffer.data() + offset, bytesRead - offset) ==
                      kx::eventlog::RecordBounds::kWhole);
        offset += kx::eventlog::ReadUInt32LE(buffer.data() + offset);
    }
}

void ReadSequentially(IEventLog& log, EventLogHandle handle, uint32_t bufferSize) {
    std::vector<uint8_t> buffer(bufferSize);
    for (int reads = 0; reads < 64; ++reads) {
        uint32_t bytesRead = 0;
        uint32_t bytesNeeded = 0;
        if (log.Read(handle,
                     kx::platform::kEventLogSequentialRead | kx::platform::kEventLogForwardsRead, 0,
                     buffer.data(), bufferSize, &bytesRead, &bytesNeeded)) {
            CheckWholeRecords(buffer, bytesRead);
            continue;
        }
        if (bytesNeeded == 0 || bytesNeeded > kx::platform::kMaximumEventLogReadSize) return;
        buffer.resize(bytesNeeded);
        bufferSize = bytesNeeded;
    }
}

void ReadByNumber(IEventLog& log, EventLogHandle handle, uint32_t number) {
    std::vector<uint8_t> buffer(0x10000);
    uint32_t bytesRead = 0;
    uint32_t bytesNeeded = 0;
    if (log.Read(handle, kx::platform::kEventLogSeekRead | kx::platform::kEventLogForwardsRead,
                 number, buffer.data(), static_cast<uint32_t>(buffer.size()), &bytesRead,
                 &bytesNeeded)) {
        CheckWholeRecords(buffer, bytesRead);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path& folder = kx::fuzz::FuzzMachineFolder();
    if (size < 2) return 0;
    const std::filesystem::path path(kx::platform::GetEventLogFilePath(L"Security"));
    // A new file for every input, and the previous one kept linked, so that
    // no input meets an inode (and the readers' index) of the input before.
    std::error_code ignored;
    std::filesystem::remove(folder / "previous.evt", ignored);
    std::filesystem::create_hard_link(path, folder / "previous.evt", ignored);
    const std::filesystem::path fresh = folder / "fresh.evt";
    kx::fuzz::WriteFuzzFile(fresh,
                            std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::rename(fresh, path);

    IEventLog& log = kx::platform::GetEventLog();
    EventLogHandle handle = log.Open(nullptr, L"Security");
    if (handle == nullptr) return 0;
    uint32_t oldest = 0;
    uint32_t count = 0;
    const bool haveOldest = log.GetOldestRecord(handle, &oldest);
    log.GetNumberOfRecords(handle, &count);
    // Buffer sizes from a few bytes to the largest read the collector makes.
    ReadSequentially(log, handle, (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 8);
    if (haveOldest) {
        for (uint32_t step = 0; step < 4; ++step) ReadByNumber(log, handle, oldest + step * 3);
        ReadByNumber(log, handle, oldest + count - 1);
        ReadByNumber(log, handle, oldest + count);
    }
    log.Close(handle);
    return 0;
}
