#include "RecordedLog.h"

#include "EvtxImporter.h"
#include "common/Text.h"

std::vector<std::vector<uint8_t>> ReadRecordedLog(const std::wstring& path, uint32_t firstNumber) {
    std::vector<std::vector<uint8_t>> records;
    for (EventLogRecordFields& fields : CEvtxImporter::ReadFile(kx::WideToUtf8(path))) {
        fields.recordNumber = firstNumber++;
        records.push_back(BuildEventLogRecord(fields));
    }
    return records;
}
