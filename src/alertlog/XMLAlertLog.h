#pragma once
// The alert log between event matching and delivery. Matched events are
// queued in memory (AddItem); a flush worker writes the queue into new cache
// files "KX_*.tmp" next to the executable at most every 5 seconds, and a send
// worker turns each cache file, oldest first, into one XML alert document,
// posts it to the Korvex Foundation service and deletes the file once the
// service has answered. The cache files are the retry queue: they carry the
// alerts across outages and restarts.
//
// An item leaves the queue only when the cache file holding it is whole on
// the device. While no file can be written the items stay queued, up to
// kMaxQueuedBytes; past that the oldest are dropped (and counted in the log).
// Both are also written to the Application event log under the agent's
// source, at most once an hour each: the diagnostic log is emptied at every
// start, and lies on the volume that fails.
// A queue that fills a cache file is flushed without waiting for the 5 seconds.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BaseClasses/EventSourceReporter.h"
#include "BaseClasses/WorkerThread.h"
#include "alertlog/XMLAlertLogItem.h"
#include "platform/Event.h"
#include "platform/EventLog.h"
#include "platform/ExclusiveFile.h"

class CEventLogEntry;
class CXMLEventDefinition;

class CXMLAlertLog {
public:
    static constexpr uint32_t kFlushIntervalMilliseconds = 5000;
    static constexpr uint32_t kSendIntervalMilliseconds = 10000;
    static constexpr uint32_t kLoopSleepMilliseconds = 100;
    static constexpr uint64_t kCacheSizeLimit = 104857600;  // 100 MiB
    // One cache file holds at most the items of a document this large (a
    // single larger item gets a file of its own). Posts stay well below the
    // request limits that servers apply by default (4 MB for an ASP.NET
    // application, 30 MB for IIS), and one post holds a few megabytes of
    // memory at most.
    static constexpr std::size_t kMaxDocumentBytes = 1024 * 1024;
    // What the queue may hold while no cache file can be written.
    static constexpr std::size_t kMaxQueuedBytes = 16 * 1024 * 1024;
    // The cache file creation error is logged at most this often.
    static constexpr uint32_t kCreateErrorLogInterval = 60000;
    static constexpr const wchar_t* kEventSource = L"Korvex Workstation Agent";
    // The agent's own source, and its entries for what the flush could not
    // keep (their texts are in the message file KXWkstnSvc.dll): the count,
    // the cache folder, then the error or the queue's bound.
    static constexpr const wchar_t* kAgentEventSource = L"Korvex Agent";
    static constexpr uint32_t kCacheFileNotCreatedEventId = 0xC0000013;
    static constexpr uint32_t kAlertsDroppedEventId = 0xC0000014;
    static constexpr uint32_t kEventLogEntryInterval = 3600000;  // one hour, per kind

    struct CCacheFile {
        std::wstring path;
        uint64_t size = 0;
        int64_t created = 0;  // file time: 100 ns units since 1601 (UTC)
    };

    // Starts the flush and send workers.
    CXMLAlertLog();
    // Stops both workers, flushes what is still queued and releases everything.
    virtual ~CXMLAlertLog();
    CXMLAlertLog(const CXMLAlertLog&) = delete;
    CXMLAlertLog& operator=(const CXMLAlertLog&) = delete;

    // Where the items an owner queued stand: the ordinal of the oldest one
    // that is not yet in a cache file on the device (queued or being
    // written; 0 when none is), and the lowest ordinal of one that was
    // dropped (0 when none was). Ordinals count up from 1 in queue order.
    struct HeldItems {
        uint64_t oldestHeld = 0;
        uint64_t lowestDropped = 0;
    };

    // The alert item of a record that the definition selected, queued;
    // returns its ordinal.
    uint64_t BuildAlertItem(CEventLogEntry& record, CXMLEventDefinition& definition);
    // The same item, not queued (for a preview of what would be sent).
    static std::unique_ptr<CXMLAlertLogItem> MakeAlertItem(CEventLogEntry& record,
                                                           CXMLEventDefinition& definition);
    // seconds as the C runtime's "%c" shows them in the "C" locale:
    // "03/04/15 05:06:07" (month, day, two-digit year, 24-hour time).
    static std::wstring FormatLocalTime(int64_t seconds);

    // Takes ownership of a fully built item and queues it; returns its
    // ordinal (0 for no item).
    uint64_t AddItem(std::unique_ptr<CXMLAlertLogItem> item);
    HeldItems GetHeldItems();
    // Called after each cache file has reached the device, on the thread
    // that flushed (the flush worker, or the destructor's final flush), so
    // that an owner can move past what is now safe. Set before items flow.
    void SetItemsWrittenCallback(std::function<void()> callback);
    // Writes the queue into as many new cache files as its size needs, in
    // queue order.
    void FlushToCache();

    // The sweep: every cache file, oldest first; the oldest deleted while the
    // total exceeds the size limit; each remaining one sent.
    void SendCacheFiles();
    // One cache file as one document, posted; the file deleted once answered.
    // True when a document was made and posted, answered or not.
    bool SendCacheFile(const std::wstring& path);
    // 0 when the service answered; otherwise the request's error code (or the
    // status of a gateway that answered for it: 502, 503, 504).
    virtual uint32_t PostAlertDocument(const std::wstring& text);

    // The cache files that a sweep would send, in the order it sends them.
    std::vector<CCacheFile> ListCacheFiles(uint64_t* totalSize) const;
    // What a listing found as cache files, oldest first; directories left out.
    static std::vector<CCacheFile> OrderCacheFiles(
        const std::wstring& directory, const std::vector<kx::platform::FoundFile>& found,
        uint64_t* totalSize);
    // Deletes the oldest files, first to last, while the total exceeds the
    // size limit; a deleted file's path is emptied.
    void DeleteOverLimit(std::vector<CCacheFile>& files, uint64_t total);
    // The alert document that a cache file makes; false when the file cannot
    // be opened (*error: 32 while someone else holds it).
    bool BuildAlertDocument(const std::wstring& path, std::wstring* text, uint32_t* error);

    const std::wstring& CacheDirectory() const { return cacheDirectory_; }
    std::size_t QueuedItems();
    std::size_t QueuedBytes();

protected:
    enum class Workers { Started, NotStarted };
    // For tests: an alert log whose loops do not run, driven by calling
    // FlushToCache and SendCacheFiles.
    explicit CXMLAlertLog(Workers workers);
    // Its event log entries go to the log of the caller's choosing.
    CXMLAlertLog(Workers workers, kx::platform::IEventLog& eventLog);
    // Cache files in a folder of the caller's choosing (a preview's own, so
    // that it never touches the files of an agent beside it).
    CXMLAlertLog(Workers workers, std::wstring cacheDirectory);
    // The object through which a flush writes one cache file (tests watch it).
    virtual std::unique_ptr<kx::platform::CExclusiveFile> NewFileObject();

private:
    using ItemQueue = std::deque<std::unique_ptr<CXMLAlertLogItem>>;

    CXMLAlertLog(Workers workers, std::wstring cacheDirectory, kx::platform::IEventLog& eventLog);

    static int FlushProc(void* self);
    static int SendProc(void* self);
    void RunLoop(void (CXMLAlertLog::*loop)(), std::atomic<int32_t>& ended,
                 kx::platform::EventHandle event, const wchar_t* failure);
    void FlushLoop();
    void SendLoop();
    void StartWorkers();
    void StopWorkers();
    ItemQueue TakeQueue();
    void ReturnToQueue(ItemQueue& items);
    void DropOverflow();
    void ReportDroppedItems();
    bool QueueFillsAFile();
    void MarkWritten(const ItemQueue& remaining);
    void WriteCacheFiles(ItemQueue& items);
    static std::size_t ItemsForOneFile(const ItemQueue& items);
    uint32_t WriteCacheFile(const ItemQueue& items, std::size_t count, std::wstring* path);
    uint32_t CreateCacheFile(kx::platform::CExclusiveFile& file, std::wstring* path);
    void ReportCreateFailure(const std::wstring& path, uint32_t error);
    void WriteAgentEntry(uint32_t eventId, const std::vector<std::wstring>& inserts);
    void WriteDocumentItems(CCacheFileReader& reader, uint32_t count, CXmlMemoryWriter& writer);

    std::mutex queueLock_;
    ItemQueue queue_;
    std::size_t queuedBytes_ = 0;
    bool cacheUnwritable_ = false;  // the last flush failed: the queue is bounded
    std::size_t droppedItems_ = 0;
    uint64_t nextOrdinal_ = 1;
    uint64_t inFlightOldest_ = 0;  // the oldest item a flush has taken out of the queue
    uint64_t lowestDropped_ = 0;
    std::function<void()> itemsWritten_;
    std::mutex flushLock_;  // one flush at a time: the worker's or the final one
    std::wstring cacheDirectory_;
    std::atomic<int32_t> running_{1};
    const bool workersStarted_;
    CWorkerThread flushWorker_;
    kx::platform::EventHandle flushEvent_;
    std::atomic<int32_t> flushLoopEnded_{0};
    uint32_t lastFlushTick_;
    CWorkerThread sendWorker_;
    kx::platform::EventHandle sendEvent_;
    std::atomic<int32_t> sendLoopEnded_{0};
    uint32_t lastSendTick_;
    bool createFailing_ = false;
    uint32_t lastCreateErrorTick_ = 0;
    CEventSourceReporter reporter_;
    // The flush worker's (and the final flush's) alone.
    CEventSourceReporter agentSource_;
    std::optional<uint32_t> lastCreateFailureEntry_;
    std::optional<uint32_t> lastDropEntry_;
    std::size_t dropsNotInTheEventLog_ = 0;
};
