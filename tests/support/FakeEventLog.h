#pragma once
// An in-memory event log with the platform's read semantics (seek and
// sequential forward reads, 122 with the size needed, 38 at the end, 87 for
// a record that does not exist), for testing the classes that use the port
// without a log file. Every call is recorded. Safe to use from several
// threads.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "BaseClasses/EventLogRecord.h"
#include "platform/EventLog.h"

class CFakeEventLog : public kx::platform::IEventLog {
public:
    struct ReadCall {
        uint32_t flags;
        uint32_t recordOffset;
        uint32_t bufferSize;
    };
    struct ReportCall {
        std::wstring server;
        std::wstring source;
        uint16_t type;
        uint16_t category;
        uint32_t eventId;
        bool hasSid;
        std::vector<std::wstring> strings;
        uint32_t dataSize;
    };

    // Appends a record numbered after the newest; returns its number.
    uint32_t AddRecord(uint32_t timeGenerated, const std::wstring& text = L"");
    uint32_t AddRecord(EventLogRecordFields fields);
    // Drops every record; the next one is numbered 1.
    void ClearRecords();
    // Drops the oldest records, keeping keepCount.
    void TrimRecords(uint32_t keepCount);
    // The next sequential read returns these bytes as they are.
    void InjectSequentialBytes(std::vector<uint8_t> bytes);
    void SetOpenFails(bool fails, uint32_t error = 5);

    int OpenCount();
    int OpenHandleCount();
    std::vector<ReadCall> Reads();
    std::vector<ReportCall> Reports();
    int RegisteredSourceCount();

    kx::platform::EventLogHandle Open(const wchar_t* server, const wchar_t* logName) override;
    bool Close(kx::platform::EventLogHandle log) override;
    bool GetOldestRecord(kx::platform::EventLogHandle log, uint32_t* oldest) override;
    bool GetNumberOfRecords(kx::platform::EventLogHandle log, uint32_t* count) override;
    bool Read(kx::platform::EventLogHandle log, uint32_t flags, uint32_t recordOffset, void* buffer,
              uint32_t bufferSize, uint32_t* bytesRead, uint32_t* bytesNeeded) override;
    bool Clear(kx::platform::EventLogHandle log) override;
    kx::platform::EventSourceHandle RegisterSource(const wchar_t* server,
                                                   const wchar_t* sourceName) override;
    bool DeregisterSource(kx::platform::EventSourceHandle source) override;
    bool Report(kx::platform::EventSourceHandle source, uint16_t type, uint16_t category,
                uint32_t eventId, const void* userSid, uint16_t stringCount,
                const wchar_t* const* strings, uint32_t dataSize, const void* data) override;

private:
    struct Handle {
        bool positioned = false;
        uint32_t next = 0;
    };
    struct Source {
        std::wstring server;
        std::wstring name;
    };
    bool Fail(uint32_t code);
    bool Fill(Handle& handle, uint32_t first, uint8_t* buffer, uint32_t size, uint32_t* bytesRead,
              uint32_t* bytesNeeded);

    std::mutex mutex_;
    uint32_t oldest_ = 0;  // 0 while empty
    uint32_t nextNumber_ = 1;
    std::vector<std::vector<uint8_t>> records_;  // oldest first
    std::vector<std::vector<uint8_t>> injected_;
    bool openFails_ = false;
    uint32_t openError_ = 5;
    int opens_ = 0;
    std::map<int, Handle> handles_;
    int nextHandle_ = 1;
    std::vector<ReadCall> reads_;
    std::map<int, Source> sources_;
    int nextSource_ = 1;
    std::vector<ReportCall> reports_;
};
