#include "alertlog/XMLAlertLog.h"

#include <algorithm>
#include <utility>

#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LogData.h"
#include "alertlog/CacheFileWriter.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "platform/ComputerName.h"
#include "platform/ExclusiveFile.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SystemMessage.h"
#include "platform/Thread.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\alertlog\\XMLAlertLog.cpp";
constexpr uint32_t kUniqueNumbers = 0x10000;  // the four hexadecimal digits of a name

// The first entry of a kind at once, then at most one an hour.
bool EntryDue(std::optional<uint32_t>& last) {
    const uint32_t now = GetClock().GetTickCount();
    if (last && TicksSince(now, *last) <= CXMLAlertLog::kEventLogEntryInterval) return false;
    last = now;
    return true;
}

// The code, a comma, a blank and the system's text, as the service's own
// error entries give it.
std::wstring ErrorInsert(uint32_t error) {
    std::wstring text = kx::platform::GetSystemErrorText(error);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return kx::Format(L"%u, %s", error, text);
}

std::wstring DirectoryOfExecutable() {
    const std::wstring path = kx::platform::GetExecutablePath();
    const std::size_t separator = path.rfind(kx::platform::kPathSeparator);
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace

CXMLAlertLog::CXMLAlertLog() : CXMLAlertLog(Workers::Started) {}

CXMLAlertLog::CXMLAlertLog(Workers workers) : CXMLAlertLog(workers, DirectoryOfExecutable()) {}

CXMLAlertLog::CXMLAlertLog(Workers workers, kx::platform::IEventLog& eventLog)
    : CXMLAlertLog(workers, DirectoryOfExecutable(), eventLog) {}

CXMLAlertLog::CXMLAlertLog(Workers workers, std::wstring cacheDirectory)
    : CXMLAlertLog(workers, std::move(cacheDirectory), kx::platform::GetEventLog()) {}

CXMLAlertLog::CXMLAlertLog(Workers workers, std::wstring cacheDirectory,
                           kx::platform::IEventLog& eventLog)
    : cacheDirectory_(std::move(cacheDirectory)),
      workersStarted_(workers == Workers::Started),
      flushEvent_(kx::platform::CreateEventObject(false, false)),
      lastFlushTick_(GetClock().GetTickCount()),
      sendEvent_(kx::platform::CreateEventObject(false, false)),
      // The first sweep comes about 9 seconds after the start.
      lastSendTick_(GetClock().GetTickCount() - 1000),
      reporter_(kx::platform::GetLocalComputerName().c_str(), kEventSource, eventLog),
      agentSource_(kx::platform::GetLocalComputerName().c_str(), kAgentEventSource, eventLog) {
    if (workersStarted_) StartWorkers();
}

CXMLAlertLog::~CXMLAlertLog() {
    running_ = 0;
    if (workersStarted_) {
        while (!flushLoopEnded_) GetClock().Sleep(kLoopSleepMilliseconds);
        while (!sendLoopEnded_) GetClock().Sleep(kLoopSleepMilliseconds);
    }
    // What is still queued reaches a cache file and is sent by the next run.
    try {
        FlushToCache();
    } catch (...) {
        LogMessage(kSourceFile, __LINE__, kLogError,
                   L"Unhandled exception flushing the cache to disk. %u alerts not written.",
                   QueuedItems());
    }
    agentSource_.Close();
    reporter_.Close();
    sendWorker_.Stop();
    flushWorker_.Stop();
    kx::platform::CloseEventObject(sendEvent_);
    kx::platform::CloseEventObject(flushEvent_);
}

void CXMLAlertLog::StartWorkers() {
    flushWorker_.AddWaitHandle(flushEvent_, &CXMLAlertLog::FlushProc, this);
    flushWorker_.Start(kx::platform::kThreadPriorityBelowNormal);
    kx::platform::SetEventObject(flushEvent_);
    sendWorker_.AddWaitHandle(sendEvent_, &CXMLAlertLog::SendProc, this);
    sendWorker_.Start(kx::platform::kThreadPriorityBelowNormal);
    kx::platform::SetEventObject(sendEvent_);
}

int CXMLAlertLog::FlushProc(void* self) {
    auto* log = static_cast<CXMLAlertLog*>(self);
    log->RunLoop(&CXMLAlertLog::FlushLoop, log->flushLoopEnded_, log->flushEvent_,
                 L"Unhandled exception flushing the cache to disk. Restarting thread.");
    return 0;
}

int CXMLAlertLog::SendProc(void* self) {
    auto* log = static_cast<CXMLAlertLog*>(self);
    log->RunLoop(&CXMLAlertLog::SendLoop, log->sendLoopEnded_, log->sendEvent_,
                 L"Unhandled exception writing cache file to database. Restarting thread.");
    return 0;
}

// Whatever escapes a loop is logged, and the loop starts again: its event is
// signalled, so the worker runs the callback once more.
void CXMLAlertLog::RunLoop(void (CXMLAlertLog::*loop)(), std::atomic<int32_t>& ended,
                           kx::platform::EventHandle event, const wchar_t* failure) {
    try {
        (this->*loop)();
    } catch (...) {
        LogMessage(kSourceFile, __LINE__, kLogError, failure);
        ended = 0;
        kx::platform::SetEventObject(event);
    }
}

void CXMLAlertLog::FlushLoop() {
    while (running_) {
        const uint32_t now = GetClock().GetTickCount();
        if (TicksSince(now, lastFlushTick_) > kFlushIntervalMilliseconds || QueueFillsAFile()) {
            FlushToCache();
            lastFlushTick_ = now;
        }
        GetClock().Sleep(kLoopSleepMilliseconds);
    }
    flushLoopEnded_ = 1;
}

void CXMLAlertLog::SendLoop() {
    while (running_) {
        const uint32_t now = GetClock().GetTickCount();
        if (TicksSince(now, lastSendTick_) > kSendIntervalMilliseconds) {
            SendCacheFiles();
            lastSendTick_ = now;
        }
        GetClock().Sleep(kLoopSleepMilliseconds);
    }
    sendLoopEnded_ = 1;
}

uint64_t CXMLAlertLog::AddItem(std::unique_ptr<CXMLAlertLogItem> item) {
    if (!item) return 0;
    const std::size_t bytes = item->MemoryBytes();
    std::lock_guard<std::mutex> guard(queueLock_);
    const uint64_t ordinal = nextOrdinal_++;
    item->Ordinal = ordinal;
    queuedBytes_ += bytes;
    queue_.push_back(std::move(item));
    if (cacheUnwritable_ && queuedBytes_ > kMaxQueuedBytes) DropOverflow();
    return ordinal;
}

CXMLAlertLog::HeldItems CXMLAlertLog::GetHeldItems() {
    std::lock_guard<std::mutex> guard(queueLock_);
    HeldItems held;
    held.oldestHeld = inFlightOldest_ != 0 ? inFlightOldest_
                      : queue_.empty()     ? 0
                                           : queue_.front()->Ordinal;
    held.lowestDropped = lowestDropped_;
    return held;
}

void CXMLAlertLog::SetItemsWrittenCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> flushing(flushLock_);
    itemsWritten_ = std::move(callback);
}

// A burst is written as soon as it holds about a cache file's worth rather
// than piling up in memory until the next 5-second flush. (The memory an item
// holds is known at no cost; its document size would mean reading its text.)
bool CXMLAlertLog::QueueFillsAFile() {
    std::lock_guard<std::mutex> guard(queueLock_);
    return !cacheUnwritable_ && queuedBytes_ >= kMaxDocumentBytes;
}

std::size_t CXMLAlertLog::QueuedItems() {
    std::lock_guard<std::mutex> guard(queueLock_);
    return queue_.size();
}

std::size_t CXMLAlertLog::QueuedBytes() {
    std::lock_guard<std::mutex> guard(queueLock_);
    return queuedBytes_;
}

// Under the queue lock.
void CXMLAlertLog::DropOverflow() {
    while (queuedBytes_ > kMaxQueuedBytes && queue_.size() > 1) {
        queuedBytes_ -= queue_.front()->MemoryBytes();
        if (lowestDropped_ == 0) lowestDropped_ = queue_.front()->Ordinal;
        queue_.pop_front();
        ++droppedItems_;
    }
}

CXMLAlertLog::ItemQueue CXMLAlertLog::TakeQueue() {
    std::lock_guard<std::mutex> guard(queueLock_);
    ItemQueue items;
    items.swap(queue_);
    queuedBytes_ = 0;
    inFlightOldest_ = items.empty() ? 0 : items.front()->Ordinal;
    return items;
}

// Items that could not be written go back in front of those queued since.
void CXMLAlertLog::ReturnToQueue(ItemQueue& items) {
    std::size_t bytes = 0;
    for (const auto& item : items) bytes += item->MemoryBytes();
    std::lock_guard<std::mutex> guard(queueLock_);
    for (auto it = items.rbegin(); it != items.rend(); ++it) queue_.push_front(std::move(*it));
    items.clear();
    inFlightOldest_ = 0;
    queuedBytes_ += bytes;
    cacheUnwritable_ = true;
    DropOverflow();
}

void CXMLAlertLog::ReportDroppedItems() {
    std::size_t dropped = 0;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        std::swap(dropped, droppedItems_);
    }
    if (dropped != 0) {
        LogMessage(kSourceFile, __LINE__, kLogError,
                   L"No cache file could be written and the queue is over %u bytes: dropped the "
                   L"%u oldest alerts.",
                   kMaxQueuedBytes, dropped);
    }
    dropsNotInTheEventLog_ += dropped;
    if (dropsNotInTheEventLog_ == 0 || !EntryDue(lastDropEntry_)) return;
    WriteAgentEntry(kAlertsDroppedEventId, {kx::Format(L"%u", dropsNotInTheEventLog_),
                                            cacheDirectory_, kx::Format(L"%u", kMaxQueuedBytes)});
    dropsNotInTheEventLog_ = 0;
}

void CXMLAlertLog::FlushToCache() {
    std::lock_guard<std::mutex> flushing(flushLock_);
    ItemQueue items = TakeQueue();
    try {
        WriteCacheFiles(items);
    } catch (...) {
        ReturnToQueue(items);  // not yet written: queued for the next flush
        throw;
    }
    ReportDroppedItems();
}

void CXMLAlertLog::WriteCacheFiles(ItemQueue& items) {
    while (!items.empty()) {
        const std::size_t count = ItemsForOneFile(items);
        std::wstring path;
        const uint32_t error = WriteCacheFile(items, count, &path);
        if (error != 0) {
            ReturnToQueue(items);
            ReportCreateFailure(path, error);
            return;
        }
        items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(count));
        createFailing_ = false;
        MarkWritten(items);
        if (itemsWritten_) itemsWritten_();
    }
}

// The cache is writable again, and the items before `remaining` are safe.
void CXMLAlertLog::MarkWritten(const ItemQueue& remaining) {
    std::lock_guard<std::mutex> guard(queueLock_);
    cacheUnwritable_ = false;
    inFlightOldest_ = remaining.empty() ? 0 : remaining.front()->Ordinal;
}

std::size_t CXMLAlertLog::ItemsForOneFile(const ItemQueue& items) {
    std::size_t bytes = 0;
    std::size_t count = 0;
    for (const auto& item : items) {
        bytes += item->DocumentBytes();
        if (count > 0 && bytes > kMaxDocumentBytes) break;
        ++count;
    }
    return count;
}

// The first count items into a new cache file, flushed to the device and
// closed; on any failure the file is removed again (the items stay queued, and
// a partial file would send some of them twice).
uint32_t CXMLAlertLog::WriteCacheFile(const ItemQueue& items, std::size_t count,
                                      std::wstring* path) {
    CCacheFileWriter writer;
    writer.WriteUInt32(static_cast<uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) items[i]->WriteItem(writer);
    std::unique_ptr<kx::platform::CExclusiveFile> fileObject = NewFileObject();
    kx::platform::CExclusiveFile& file = *fileObject;
    uint32_t error = CreateCacheFile(file, path);
    if (error != 0) return error;
    error = file.Write(writer.Bytes().data(), writer.Size());
    if (error == 0) error = file.FlushToDevice();
    const uint32_t closeError = file.Close();
    if (error == 0) error = closeError;
    if (error != 0) kx::platform::DeleteFileByPath(*path);
    return error;
}

// A new cache file, made and held in one step: a sweep never finds it empty
// and free, so it never posts it empty and deletes it by name after this flush
// has written it. Named as GetTempFileNameW names them, "KX_", up to four
// hexadecimal digits counting up from the tick count, ".tmp"; a name in use
// is passed by.
uint32_t CXMLAlertLog::CreateCacheFile(kx::platform::CExclusiveFile& file, std::wstring* path) {
    const uint32_t start = GetClock().GetTickCount();
    for (uint32_t step = 0; step < kUniqueNumbers; ++step) {
        const uint32_t unique = (start + step) % kUniqueNumbers;
        if (unique == 0) continue;
        *path = cacheDirectory_ + kx::platform::kPathSeparator + kx::Format(L"KX_%X.tmp", unique);
        const uint32_t error = file.Open(*path, kx::platform::ExclusiveAccess::CreateNew);
        // 32: on Linux a sweep took the name between its making and its lock.
        if (error != kx::platform::kErrorFileExists &&
            error != kx::platform::kErrorSharingViolation)
            return error;
    }
    return kx::platform::kErrorFileExists;
}

std::unique_ptr<kx::platform::CExclusiveFile> CXMLAlertLog::NewFileObject() {
    return std::make_unique<kx::platform::CExclusiveFile>();
}

void CXMLAlertLog::ReportCreateFailure(const std::wstring& path, uint32_t error) {
    if (EntryDue(lastCreateFailureEntry_)) {
        WriteAgentEntry(kCacheFileNotCreatedEventId,
                        {kx::Format(L"%u", QueuedItems()), cacheDirectory_, ErrorInsert(error)});
    }
    const uint32_t now = GetClock().GetTickCount();
    if (createFailing_ && TicksSince(now, lastCreateErrorTick_) <= kCreateErrorLogInterval) return;
    createFailing_ = true;
    lastCreateErrorTick_ = now;
    const std::wstring& name = path.empty() ? cacheDirectory_ : path;
    LogMessage(kSourceFile, __LINE__, kLogError,
               L"Error creating cache file: %s\n\t\tError code: %d", name, error);
}

void CXMLAlertLog::WriteAgentEntry(uint32_t eventId, const std::vector<std::wstring>& inserts) {
    std::vector<const wchar_t*> strings;
    for (const std::wstring& insert : inserts) strings.push_back(insert.c_str());
    agentSource_.Report(kx::eventlog::kEventTypeError, 0, eventId, nullptr,
                        static_cast<uint16_t>(strings.size()), strings.data());
}
