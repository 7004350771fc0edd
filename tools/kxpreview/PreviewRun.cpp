#include "PreviewRun.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Format.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/CodePage.h"
#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"

namespace {

constexpr const wchar_t* kLogName = L"Security";

void Print(const std::wstring& text) {
    std::fputs(kx::platform::WideToAnsi(text + L"\n").c_str(), stdout);
    std::fflush(stdout);
}

// The record's line with its first expanded strings, and the first line of
// its message text.
std::wstring Describe(uint32_t recordNumber, CEventLogEntry& entry) {
    std::wstring line = kx::Format(L"  #%u  event %u  type %u  %s", recordNumber,
                                   entry.GetEventId(), entry.GetEventType(), entry.GetSourceName());
    std::vector<std::wstring> strings;
    entry.GetStrings(strings, true);
    for (std::size_t i = 0; i < strings.size() && i < 6; ++i) line += L" | " + strings[i];
    if (strings.size() > 6) line += L" | ...";
    const std::wstring message = entry.GetMessageText();
    return line + L"\n      " + message.substr(0, message.find_first_of(L"\r\n"));
}

// The alert item the agent would send: code, action text, properties.
std::wstring DescribeAlert(const CXMLAlertLogItem& item) {
    std::wstring line = kx::Format(L"      -> %s: %s", item.EventDefinitionCode, item.ActionText);
    for (const auto& property : item.Properties)
        line += kx::Format(L"\n         %s = %s", property->PropertyCode, property->PropertyValue);
    return line;
}

}  // namespace

int CPreviewRun::Run() {
    Print(kx::Format(L"Computer %s, machine root %s", kx::platform::GetLocalComputerName(),
                     kx::platform::GetMachineRoot()));
    Print(kx::Format(L"Server %s:%s, reporting %s, logging level %u", GetKFSServer(), GetKFSPort(),
                     GetEnableWorkstationAuditAgent() == 1 ? L"enabled" : L"disabled",
                     GetLoggingLevel()));
    InitDiagnosticLog(static_cast<int32_t>(GetLoggingLevel()));

    CWorkstationEventDefinitions definitions{CWorkstationEventDefinitions::kWithoutRefresh};
    int32_t update = definitions.Update();
    Print(kx::Format(L"Definitions: refresh result %d, version \"%s\", %u definitions", update,
                     definitions.GetVersion(),
                     static_cast<uint32_t>(definitions.GetDefinitions().size())));
    definitions_ = &definitions;
    CLookupCache lookups;
    lookups_ = &lookups;

    uint32_t newest = NewestRecordNumber();
    Print(kx::Format(L"Reading the %s log up to record %u:", kLogName, newest));
    bool caughtUp = true;
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(kx::platform::GetLocalComputerName().c_str(), kLogName, 0,
                                          collectionLimitDays_, &CPreviewRun::OnRecord, nullptr,
                                          this);
        collector.BeginCollecting();
        caughtUp = newest == 0 || WaitUntilCaughtUp(newest);
        collector.StopCollecting();
    }
    CloseDiagnosticLog();
    Print(
        kx::Format(L"%u records read, %u of them with a definition's event code, %u alerts "
                   L"built%s.",
                   records_.load(), candidates_.load(), alerts_.load(),
                   caughtUp ? L"" : L" (stopped at the time limit)"));
    return caughtUp ? 0 : 1;
}

int CPreviewRun::OnRecord(const void* record, void* self) {
    return static_cast<CPreviewRun*>(self)->HandleRecord(record);
}

int CPreviewRun::HandleRecord(const void* bytes) {
    CEventLogRecord record = CEventLogRecord::FromDeliveredRecord(bytes);
    ++records_;
    if (definitions_->IsCandidateEvent(record.EventId())) {
        ++candidates_;
        CEventLogEntry entry(lookups_->LocalComputerName(), L"", kLogName, bytes, false, *lookups_);
        Print(Describe(record.RecordNumber(), entry));
        if (CXMLEventDefinition* definition = definitions_->FindDefinition(&entry)) {
            ++alerts_;
            Print(DescribeAlert(*CXMLAlertLog::MakeAlertItem(entry, *definition)));
        }
    }
    lastRecord_ = record.RecordNumber();
    return 1;
}

bool CPreviewRun::WaitUntilCaughtUp(uint32_t newest) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
    while (lastRecord_ < newest) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

uint32_t CPreviewRun::NewestRecordNumber() {
    kx::platform::IEventLog& log = kx::platform::GetEventLog();
    kx::platform::EventLogHandle handle = log.Open(nullptr, kLogName);
    if (!handle) return 0;
    uint32_t oldest = 0;
    uint32_t count = 0;
    bool known = log.GetOldestRecord(handle, &oldest) && log.GetNumberOfRecords(handle, &count);
    log.Close(handle);
    return known && count > 0 ? oldest + count - 1 : 0;
}
