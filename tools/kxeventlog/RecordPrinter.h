#pragma once
// Prints event log records as readable text or as one JSON array.

#include <cstdio>

#include "BaseClasses/EventLogRecord.h"

class CRecordPrinter {
public:
    CRecordPrinter(std::FILE* out, bool json) : out_(out), json_(json) {}
    void Begin();
    // Throws CToolError when the record lies about its parts. message: the
    // record's text from its source's message file, when known.
    void Print(const CEventLogRecord& record, const std::wstring* message = nullptr);
    void End();

    static std::string JsonString(const std::wstring& text);
    // "2021-12-04 22:09:13" (text) or "2021-12-04T22:09:13Z" (JSON), UTC.
    static std::string FormatTime(uint32_t seconds, bool json);

private:
    void PrintText(const EventLogRecordFields& fields);
    void PrintJson(const EventLogRecordFields& fields);
    void Write(const std::string& text);

    std::FILE* out_;
    bool json_;
    int printed_ = 0;
    const std::wstring* message_ = nullptr;
};
