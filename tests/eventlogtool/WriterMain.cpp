// Appends records to a log one at a time, as another process writing to the
// log would: kx_eventlog_writer LOG COUNT. Record i (from 1) carries the
// string "record i" and WriterPayload(i) as data, so a reader can tell a
// torn record from a whole one. The machine root comes from the environment.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BaseClasses/EventLogRecord.h"
#include "WriterPayload.h"
#include "common/Text.h"
#include "platform/EventLog.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kx_eventlog_writer LOG COUNT\n");
        return 2;
    }
    const std::wstring log = kx::Utf8ToWide(argv[1]);
    const long count = std::strtol(argv[2], nullptr, 10);
    for (long i = 1; i <= count; ++i) {
        EventLogRecordFields fields;
        fields.timeGenerated = fields.timeWritten = 1700000000;
        fields.eventId = static_cast<uint32_t>(i);
        fields.sourceName = L"Writer";
        fields.computerName = L"WS01";
        fields.strings = {L"record " + std::to_wstring(i)};
        fields.data = WriterPayload(static_cast<uint32_t>(i));
        if (!kx::platform::AppendEventLogRecords(log, {BuildEventLogRecord(fields)}, nullptr)) {
            std::fprintf(stderr, "append %ld failed\n", i);
            return 1;
        }
    }
    return 0;
}
