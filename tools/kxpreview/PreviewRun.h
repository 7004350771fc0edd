#pragma once
// One preview run: the definitions refreshed from the server, the Security log
// read by the collector from its first record of the last 14 days up to the
// newest (or from the oldest), and every record that a definition may select
// printed with its expanded strings and the first line of its message text.

#include <atomic>
#include <cstdint>
#include <string>

class CLookupCache;
class CWorkstationEventDefinitions;

class CPreviewRun {
public:
    // collectionLimitDays: how far back the first run starts (negative: the
    // oldest record).
    CPreviewRun(uint32_t timeoutSeconds, int32_t collectionLimitDays)
        : timeoutSeconds_(timeoutSeconds), collectionLimitDays_(collectionLimitDays) {}
    int Run();

private:
    static int OnRecord(const void* record, void* self);
    int HandleRecord(const void* record);
    bool WaitUntilCaughtUp(uint32_t newest);
    static uint32_t NewestRecordNumber();

    uint32_t timeoutSeconds_;
    int32_t collectionLimitDays_;
    CWorkstationEventDefinitions* definitions_ = nullptr;
    CLookupCache* lookups_ = nullptr;  // used on the collector's thread only
    std::atomic<uint32_t> lastRecord_{0};
    std::atomic<uint32_t> records_{0};
    std::atomic<uint32_t> candidates_{0};
    std::atomic<uint32_t> alerts_{0};
};
