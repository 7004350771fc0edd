#pragma once
// One preview: the alerts the agent would send for a set of records, built by
// the agent's own matching and item building. The definitions come from a
// document on disk or are refreshed from the server; the records from
// recorded .evtx files or from the machine's "Security" log, read by the
// collector from the first record of the last 14 days (or the oldest).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CLookupCache;
class CWorkstationEventDefinitions;
class CXMLAlertLogItem;

struct CPreviewOptions {
    std::wstring definitionsFile;         // empty: refreshed from the server
    std::vector<std::wstring> evtxFiles;  // empty: the machine's Security log
    bool documents = false;               // also print the alert documents
    bool fromOldest = false;
    uint32_t timeoutSeconds = 60;
};

class CPreviewRun {
public:
    explicit CPreviewRun(CPreviewOptions options);
    ~CPreviewRun();
    int Run();

private:
    bool LoadDefinitions(CWorkstationEventDefinitions& definitions);
    void ReadRecordedFiles();
    bool ReadSecurityLog();
    static int OnRecord(const void* record, void* self);
    void HandleRecord(const void* record);
    bool WaitUntilCaughtUp(uint32_t newest);
    static uint32_t NewestRecordNumber();

    CPreviewOptions options_;
    std::wstring computerName_;
    std::wstring dnsDomain_;
    CWorkstationEventDefinitions* definitions_ = nullptr;
    CLookupCache* lookups_ = nullptr;  // used on the reading thread only
    std::atomic<uint32_t> lastRecord_{0};
    std::atomic<uint32_t> records_{0};
    std::mutex alertsLock_;  // the collector's thread adds, the main thread prints
    std::vector<std::unique_ptr<CXMLAlertLogItem>> alerts_;
};
