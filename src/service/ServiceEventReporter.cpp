#include "service/ServiceEventReporter.h"

#include "common/Format.h"

namespace {

std::wstring FormatNumber(int32_t number, bool hex) {
    return kx::Format(hex ? L"%x" : L"%d", number);
}

}  // namespace

CServiceEventReporter::CServiceEventReporter(const std::wstring& server, const std::wstring& source)
    : CServiceEventReporter(server, source, kx::platform::GetEventLog()) {}

CServiceEventReporter::CServiceEventReporter(const std::wstring& server, const std::wstring& source,
                                             kx::platform::IEventLog& eventLog)
    : eventLog_(eventLog), serverName_(server), sourceName_(source) {}

CServiceEventReporter::~CServiceEventReporter() {
    std::lock_guard<std::mutex> guard(lock_);
    CloseHeld();
}

void CServiceEventReporter::CloseHeld() {
    if (source_) eventLog_.DeregisterSource(source_);
    source_ = nullptr;
}

bool CServiceEventReporter::WriteEntry(uint16_t type, uint32_t eventId,
                                       const wchar_t* const* strings, uint16_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    CloseHeld();
    source_ = eventLog_.RegisterSource(serverName_.empty() ? nullptr : serverName_.c_str(),
                                       sourceName_.c_str());
    if (!source_) return false;
    bool written = eventLog_.Report(source_, type, 0, eventId, nullptr, count, strings, 0, nullptr);
    CloseHeld();
    return written;
}

bool CServiceEventReporter::ReportString(uint16_t type, uint32_t eventId,
                                         const std::wstring& text) {
    const wchar_t* strings[] = {text.c_str()};
    return WriteEntry(type, eventId, strings, 1);
}

bool CServiceEventReporter::ReportStrings(uint16_t type, uint32_t eventId,
                                          const std::wstring& first, const std::wstring& second) {
    const wchar_t* strings[] = {first.c_str(), second.c_str()};
    return WriteEntry(type, eventId, strings, 2);
}

bool CServiceEventReporter::ReportNumber(uint16_t type, uint32_t eventId, int32_t number,
                                         bool hex) {
    std::wstring text = FormatNumber(number, hex);
    const wchar_t* strings[] = {text.c_str()};
    return WriteEntry(type, eventId, strings, 1);
}

bool CServiceEventReporter::ReportStringAndNumber(uint16_t type, uint32_t eventId,
                                                  const std::wstring& text, int32_t number,
                                                  bool hex) {
    std::wstring formatted = FormatNumber(number, hex);
    const wchar_t* strings[] = {text.c_str(), formatted.c_str()};
    return WriteEntry(type, eventId, strings, 2);
}
