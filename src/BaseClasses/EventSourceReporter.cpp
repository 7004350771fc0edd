#include "BaseClasses/EventSourceReporter.h"

namespace {

const wchar_t* EmptyAsNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace

CEventSourceReporter::CEventSourceReporter() : CEventSourceReporter(kx::platform::GetEventLog()) {}

CEventSourceReporter::CEventSourceReporter(kx::platform::IEventLog& eventLog)
    : eventLog_(eventLog) {}

CEventSourceReporter::CEventSourceReporter(const wchar_t* server, const wchar_t* source)
    : CEventSourceReporter(server, source, kx::platform::GetEventLog()) {}

CEventSourceReporter::CEventSourceReporter(const wchar_t* server, const wchar_t* source,
                                           kx::platform::IEventLog& eventLog)
    : eventLog_(eventLog), serverName_(server ? server : L""), sourceName_(source ? source : L"") {
    source_ = eventLog_.RegisterSource(server, source);
}

CEventSourceReporter::~CEventSourceReporter() {
    Close();
}

void CEventSourceReporter::DeregisterHeld() {
    if (source_) eventLog_.DeregisterSource(source_);
    source_ = nullptr;
}

bool CEventSourceReporter::Register(const wchar_t* server, const wchar_t* source) {
    std::lock_guard<std::mutex> guard(lock_);
    DeregisterHeld();
    source_ = eventLog_.RegisterSource(server, source);
    return source_ != nullptr;
}

bool CEventSourceReporter::Report(uint16_t type, uint16_t category, uint32_t eventId,
                                  const void* userSid, uint16_t stringCount,
                                  const wchar_t* const* strings) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!source_) source_ = eventLog_.RegisterSource(EmptyAsNull(serverName_), sourceName_.c_str());
    if (!source_) return false;
    return eventLog_.Report(source_, type, category, eventId, userSid, stringCount, strings, 0,
                            nullptr);
}

bool CEventSourceReporter::ReportString(uint16_t type, uint32_t eventId, const wchar_t* text,
                                        const void* userSid) {
    const wchar_t* strings[] = {text};
    return Report(type, 0, eventId, userSid, 1, strings);
}

void CEventSourceReporter::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    DeregisterHeld();
}
