#include "FakeEventLog.h"

#include <algorithm>
#include <cstring>

#include "platform/Process.h"

namespace {

using namespace kx::platform;

int Key(void* handle) {
    return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

void* HandleOf(int key) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(key));
}

}  // namespace

bool CFakeEventLog::Fail(uint32_t code) {
    SetLastErrorCode(code);
    return false;
}

uint32_t CFakeEventLog::AddRecord(uint32_t timeGenerated, const std::wstring& text) {
    EventLogRecordFields fields;
    fields.timeGenerated = fields.timeWritten = timeGenerated;
    fields.eventId = 4624;
    fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
    fields.sourceName = L"Microsoft-Windows-Security-Auditing";
    fields.computerName = L"WS01";
    fields.strings = {text};
    return AddRecord(std::move(fields));
}

uint32_t CFakeEventLog::AddRecord(EventLogRecordFields fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    fields.recordNumber = nextNumber_++;
    if (oldest_ == 0) oldest_ = fields.recordNumber;
    records_.push_back(BuildEventLogRecord(fields));
    return fields.recordNumber;
}

void CFakeEventLog::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
    oldest_ = 0;
    nextNumber_ = 1;
}

void CFakeEventLog::TrimRecords(uint32_t keepCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (records_.size() > keepCount) {
        records_.erase(records_.begin());
        ++oldest_;
    }
    if (records_.empty()) oldest_ = 0;
}

void CFakeEventLog::InjectSequentialBytes(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    injected_.push_back(std::move(bytes));
}

void CFakeEventLog::SetOpenFails(bool fails, uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    openFails_ = fails;
    openError_ = error;
}

int CFakeEventLog::OpenCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

int CFakeEventLog::OpenHandleCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

std::vector<CFakeEventLog::ReadCall> CFakeEventLog::Reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}

std::vector<CFakeEventLog::ReportCall> CFakeEventLog::Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

int CFakeEventLog::RegisteredSourceCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sources_.size());
}

EventLogHandle CFakeEventLog::Open(const wchar_t*, const wchar_t*) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++opens_;
    if (openFails_) {
        SetLastErrorCode(openError_);
        return nullptr;
    }
    int key = nextHandle_++;
    handles_[key] = Handle{};
    return HandleOf(key);
}

bool CFakeEventLog::Close(EventLogHandle log) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.erase(Key(log)) ? true : Fail(kErrorInvalidHandle);
}

bool CFakeEventLog::GetOldestRecord(EventLogHandle log, uint32_t* oldest) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!handles_.count(Key(log))) return Fail(kErrorInvalidHandle);
    *oldest = oldest_;
    return true;
}

bool CFakeEventLog::GetNumberOfRecords(EventLogHandle log, uint32_t* count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!handles_.count(Key(log))) return Fail(kErrorInvalidHandle);
    *count = static_cast<uint32_t>(records_.size());
    return true;
}

bool CFakeEventLog::Fill(Handle& handle, uint32_t first, uint8_t* buffer, uint32_t size,
                         uint32_t* bytesRead, uint32_t* bytesNeeded) {
    if (records_.empty() || first < oldest_ || first - oldest_ >= records_.size())
        return Fail(kErrorHandleEof);
    uint32_t used = 0;
    uint32_t number = first;
    for (; number - oldest_ < records_.size(); ++number) {
        const std::vector<uint8_t>& record = records_[number - oldest_];
        if (used + record.size() > size) break;
        std::memcpy(buffer + used, record.data(), record.size());
        used += static_cast<uint32_t>(record.size());
    }
    if (used == 0) {
        *bytesNeeded = static_cast<uint32_t>(records_[first - oldest_].size());
        return Fail(kErrorInsufficientBuffer);
    }
    *bytesRead = used;
    handle.positioned = true;
    handle.next = number;
    return true;
}

bool CFakeEventLog::Read(EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
                         uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_.push_back(ReadCall{flags, recordOffset, bufferSize});
    auto found = handles_.find(Key(log));
    if (found == handles_.end()) return Fail(kErrorInvalidHandle);
    Handle& handle = found->second;
    *bytesRead = 0;
    *bytesNeeded = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    if (flags & kEventLogSeekRead) {
        if (records_.empty() || recordOffset < oldest_ || recordOffset - oldest_ >= records_.size())
            return Fail(kErrorInvalidParameter);
        return Fill(handle, recordOffset, out, bufferSize, bytesRead, bytesNeeded);
    }
    if (!injected_.empty()) {
        std::vector<uint8_t> bytes = std::move(injected_.front());
        injected_.erase(injected_.begin());
        if (bytes.size() > bufferSize) return Fail(kErrorInvalidParameter);
        std::copy(bytes.begin(), bytes.end(), out);
        *bytesRead = static_cast<uint32_t>(bytes.size());
        return true;
    }
    return Fill(handle, handle.positioned ? handle.next : oldest_, out, bufferSize, bytesRead,
                bytesNeeded);
}

bool CFakeEventLog::Clear(EventLogHandle log) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handles_.count(Key(log))) return Fail(kErrorInvalidHandle);
    }
    ClearRecords();
    return true;
}

EventSourceHandle CFakeEventLog::RegisterSource(const wchar_t* server, const wchar_t* sourceName) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sourceName || !*sourceName) {
        SetLastErrorCode(kErrorInvalidParameter);
        return nullptr;
    }
    int key = nextSource_++;
    sources_[key] = Source{server ? server : L"", sourceName ? sourceName : L""};
    return HandleOf(key);
}

bool CFakeEventLog::DeregisterSource(EventSourceHandle source) {
    std::lock_guard<std::mutex> lock(mutex_);
    return sources_.erase(Key(source)) ? true : Fail(kErrorInvalidHandle);
}

bool CFakeEventLog::Report(EventSourceHandle source, uint16_t type, uint16_t category,
                           uint32_t eventId, const void* userSid, uint16_t stringCount,
                           const wchar_t* const* strings, uint32_t dataSize, const void*) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sources_.find(Key(source));
    if (found == sources_.end()) return Fail(kErrorInvalidHandle);
    ReportCall call{found->second.server,
                    found->second.name,
                    type,
                    category,
                    eventId,
                    userSid != nullptr,
                    {},
                    dataSize};
    for (uint16_t i = 0; i < stringCount; ++i) call.strings.emplace_back(strings[i]);
    reports_.push_back(std::move(call));
    return true;
}
