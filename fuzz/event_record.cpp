// One event record over arbitrary bytes: the raw view with its bounds, its
// fields read whole and rebuilt, and CEventLogEntry over a record whose
// Length the collector would accept.
#include <string>
#include <vector>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "FakeDirectory.h"
#include "FuzzMachine.h"
#include "FuzzRecord.h"
#include "FuzzText.h"

namespace {

void CheckRebuilds(const EventLogRecordFields& fields) {
    std::vector<uint8_t> rebuilt;
    try {
        rebuilt = BuildEventLogRecord(fields);
    } catch (const std::length_error&) {
        return;
    }
    std::optional<EventLogRecordFields> again =
        CEventLogRecord(rebuilt.data(), rebuilt.size()).ReadFields();
    KX_FUZZ_CHECK(again.has_value());
    KX_FUZZ_CHECK(again->sourceName == fields.sourceName);
    KX_FUZZ_CHECK(again->computerName == fields.computerName);
    KX_FUZZ_CHECK(again->strings == fields.strings);
    KX_FUZZ_CHECK(again->userSid == fields.userSid);
    KX_FUZZ_CHECK(again->data == fields.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::fuzz::FuzzMachineFolder();
    CFakeDirectory directory;  // per input: it writes down every request
    CEventLogRecord view(data, size);
    (void)view.ClippedSourceName();
    (void)view.ClippedStrings();
    if (std::optional<EventLogRecordFields> fields = view.ReadFields()) CheckRebuilds(*fields);
    if (kx::eventlog::CheckRecordBounds(data, size) != kx::eventlog::RecordBounds::kWhole) return 0;
    // The collector hands over records that lie inside its buffer; a copy of
    // exactly Length bytes lets the sanitizer see any read past it.
    const uint32_t length = kx::eventlog::ReadUInt32LE(data);
    std::vector<uint8_t> record(data, data + length);
    CLookupCache lookups;
    CEventLogEntry entry(L"WS01", L"corp.example.test", L"Security", record.data(), false, lookups);
    kx::fuzz::ReadWholeEntry(entry);
    return 0;
}
