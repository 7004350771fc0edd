#include "PreviewRun.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "AlertTable.h"
#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "PreviewDocuments.h"
#include "RecordedLog.h"
#include "alertlog/XMLAlertLogItem.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/CodePage.h"
#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/Files.h"
#include "platform/MachineRoot.h"
#include "service/AuditPipeline.h"

namespace {

void Print(const std::wstring& text) {
    std::fputs(kx::platform::WideToAnsi(text + L"\n").c_str(), stdout);
    std::fflush(stdout);
}

// A definitions document as a file holds it: UTF-16LE after its byte order
// mark (the agent's own copy), otherwise UTF-8.
bool ReadDocument(const std::wstring& path, std::wstring* text) {
    std::FILE* file = kx::platform::OpenFileStream(path, L"rb");
    if (!file) return false;
    std::string bytes;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return false;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        *text = kx::Utf16LEToWide(bytes.data() + 2, bytes.size() - 2);
    } else {
        const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
        *text = kx::Utf8ToWide(std::string_view(bytes).substr(bom ? 3 : 0));
    }
    return true;
}

}  // namespace

CPreviewRun::CPreviewRun(CPreviewOptions options) : options_(std::move(options)) {}

CPreviewRun::~CPreviewRun() = default;

int CPreviewRun::Run() {
    computerName_ = kx::platform::GetLocalComputerName();
    dnsDomain_ = kx::platform::GetLocalDnsDomain();
    Print(kx::Format(L"Computer %s (domain %s), machine root %s", computerName_, dnsDomain_,
                     kx::platform::GetMachineRoot()));
    InitDiagnosticLog(static_cast<int32_t>(GetLoggingLevel()));
    CWorkstationEventDefinitions definitions{CWorkstationEventDefinitions::kWithoutRefresh};
    CLookupCache lookups;
    definitions_ = &definitions;
    lookups_ = &lookups;
    int status = 0;
    if (!LoadDefinitions(definitions)) {
        status = 1;
    } else if (!options_.evtxFiles.empty()) {
        ReadRecordedFiles();
    } else if (!ReadSecurityLog()) {
        status = 1;
    }
    CloseDiagnosticLog();
    if (status != 0) return status;
    Print(kx::Format(L"%u records read, %u alerts:", records_.load(),
                     static_cast<uint32_t>(alerts_.size())));
    Print(CAlertTable::Render(alerts_));
    if (options_.documents) {
        for (const std::wstring& document : CPreviewDocuments::Build(std::move(alerts_)))
            Print(document);
    }
    return 0;
}

bool CPreviewRun::LoadDefinitions(CWorkstationEventDefinitions& definitions) {
    if (options_.definitionsFile.empty()) {
        Print(kx::Format(L"Server %s:%s, reporting %s", GetKFSServer(), GetKFSPort(),
                         GetEnableWorkstationAuditAgent() == 1 ? L"enabled" : L"disabled"));
        const int32_t update = definitions.Update();
        Print(
            kx::Format(L"Definitions from the server: refresh result %d, version \"%s\", %u "
                       L"definitions",
                       update, definitions.GetVersion(),
                       static_cast<uint32_t>(definitions.GetDefinitions().size())));
        return true;
    }
    std::wstring text;
    if (!ReadDocument(options_.definitionsFile, &text)) {
        Print(kx::Format(L"kxpreview: %s cannot be read", options_.definitionsFile));
        return false;
    }
    const int32_t result = definitions.LoadFromXml(text);
    Print(kx::Format(L"Definitions from %s: %u definitions%s", options_.definitionsFile,
                     static_cast<uint32_t>(definitions.GetDefinitions().size()),
                     result == 0 ? L"" : kx::Format(L" (load result %d)", result)));
    return true;
}

void CPreviewRun::ReadRecordedFiles() {
    for (const std::wstring& path : options_.evtxFiles) {
        for (const std::vector<uint8_t>& record : ReadRecordedLog(path, lastRecord_ + 1)) {
            HandleRecord(record.data());
        }
    }
}

bool CPreviewRun::ReadSecurityLog() {
    const uint32_t newest = NewestRecordNumber();
    Print(kx::Format(L"Reading the %s log up to record %u", CAuditPipeline::kLogName, newest));
    bool caughtUp = true;
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(
            computerName_.c_str(), CAuditPipeline::kLogName, 0,
            options_.fromOldest ? -1 : CAuditPipeline::kCollectionLimitDays, &CPreviewRun::OnRecord,
            nullptr, this);
        collector.BeginCollecting();
        caughtUp = newest == 0 || WaitUntilCaughtUp(newest);
        collector.StopCollecting();
    }
    if (!caughtUp) Print(L"kxpreview: the time limit ended the reading");
    return caughtUp;
}

int CPreviewRun::OnRecord(const void* record, void* self) {
    static_cast<CPreviewRun*>(self)->HandleRecord(record);
    return 1;
}

void CPreviewRun::HandleRecord(const void* record) {
    ++records_;
    std::unique_ptr<CXMLAlertLogItem> item = CAuditPipeline::MakeRecordAlert(
        record, *definitions_, *lookups_, computerName_, dnsDomain_);
    if (item) {
        std::lock_guard<std::mutex> guard(alertsLock_);
        alerts_.push_back(std::move(item));
    }
    lastRecord_ = CEventLogRecord::FromDeliveredRecord(record).RecordNumber();
}

bool CPreviewRun::WaitUntilCaughtUp(uint32_t newest) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options_.timeoutSeconds);
    while (lastRecord_ < newest) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

uint32_t CPreviewRun::NewestRecordNumber() {
    kx::platform::IEventLog& log = kx::platform::GetEventLog();
    kx::platform::EventLogHandle handle = log.Open(nullptr, CAuditPipeline::kLogName);
    if (!handle) return 0;
    uint32_t oldest = 0;
    uint32_t count = 0;
    bool known = log.GetOldestRecord(handle, &oldest) && log.GetNumberOfRecords(handle, &count);
    log.Close(handle);
    return known && count > 0 ? oldest + count - 1 : 0;
}
