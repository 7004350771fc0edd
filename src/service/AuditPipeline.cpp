#include "service/AuditPipeline.h"

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Clock.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/AuditPolicy.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"
#include "service/LogonAuditing.h"

namespace {

std::wstring ModuleDirectory() {
    const std::wstring path = kx::platform::GetExecutablePath();
    const std::size_t last = path.rfind(kx::platform::kPathSeparator);
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

void IgnoreOpened(void*) {}

}  // namespace

CAuditPipeline::CAuditPipeline()
    : moduleDirectory_(ModuleDirectory()),
      definitions_(std::make_unique<CWorkstationEventDefinitions>()),
      alertLog_(std::make_unique<CXMLAlertLog>()),
      collector_(std::make_unique<CEventLogCollector>()),
      lookups_(std::make_unique<CLookupCache>()) {
    Start(true);
}

CAuditPipeline::CAuditPipeline(std::unique_ptr<CXMLAlertLog> alertLog,
                               kx::platform::IEventLog& eventLog, bool beginCollecting)
    : moduleDirectory_(ModuleDirectory()),
      definitions_(std::make_unique<CWorkstationEventDefinitions>()),
      alertLog_(std::move(alertLog)),
      collector_(std::make_unique<CEventLogCollector>(eventLog)),
      lookups_(std::make_unique<CLookupCache>()) {
    Start(beginCollecting);
}

void CAuditPipeline::Start(bool beginCollecting) {
    alertLogView_ = alertLog_.get();
    alertLog_->SetItemsWrittenCallback([this] { OnItemsWritten(); });
    EnsureLogonAuditing();
    dnsDomain_ = kx::platform::GetLocalDnsDomain();
    computerName_ = kx::platform::GetLocalComputerName();
    const uint32_t stored = GetLastEventLogRecordNumber();
    {
        std::lock_guard<std::mutex> guard(positionLock_);
        lastSeen_ = savedPosition_ = stored;
    }
    collector_->SetCollectionParameters(computerName_.c_str(), kLogName,
                                        stored != 0 ? stored + 1 : 0, kCollectionLimitDays,
                                        &CAuditPipeline::OnEventRecord, &IgnoreOpened, this);
    if (beginCollecting) collector_->BeginCollecting();
}

CAuditPipeline::~CAuditPipeline() {
    collector_->StopCollecting();
    collector_.reset();
    // The final flush still reports what it wrote, so the position follows.
    alertLog_.reset();
    alertLogView_ = nullptr;
    definitions_.reset();
}

void CAuditPipeline::EnsureLogonAuditing() {
    AdjustLogonAuditing(kx::platform::GetAuditPolicy());
}

int CAuditPipeline::OnEventRecord(const void* record, void* context) {
    return static_cast<CAuditPipeline*>(context)->HandleRecord(record);
}

// The enable switch is read at most once a minute, on a record that arrives.
int CAuditPipeline::HandleRecord(const void* record) {
    const uint32_t now = GetClock().GetTickCount();
    if (TicksSince(now, lastEnableSwitchCheck_) > kSwitchCheckInterval) {
        lastEnableSwitchCheck_ = now;
        enabled_ = GetEnableWorkstationAuditAgent() == 1 ? 1 : 0;
    }
    return enabled_ == 1 ? ProcessEventRecord(record) : 0;
}

int CAuditPipeline::ProcessEventRecord(const void* record) {
    const uint32_t now = GetClock().GetTickCount();
    const CEventLogRecord view = CEventLogRecord::FromDeliveredRecord(record);
    if (definitions_->IsCandidateEvent(view.EventId())) {
        QueueAlert(record, view.RecordNumber());
        SavePosition();
        lastRecordNumberSave_ = now;
    } else {
        std::lock_guard<std::mutex> guard(positionLock_);
        lastSeen_ = view.RecordNumber();
    }
    if (TicksSince(now, lastRecordNumberSave_) > kPositionSaveInterval) {
        SavePosition();
        lastRecordNumberSave_ = now;
    }
    if (TicksSince(now, lastDefinitionsRefresh_) > kDefinitionsRefreshInterval) {
        definitions_->Update();
        lastDefinitionsRefresh_ = now;
    }
    return 1;
}

// The item is built outside the lock (lookups may take a while); queuing it
// and moving past its record are one step for the flush thread.
void CAuditPipeline::QueueAlert(const void* record, uint32_t recordNumber) {
    std::unique_ptr<CXMLAlertLogItem> item =
        MakeRecordAlert(record, *definitions_, *lookups_, computerName_, dnsDomain_);
    std::lock_guard<std::mutex> guard(positionLock_);
    if (item) pending_.push_back({alertLogView_->AddItem(std::move(item)), recordNumber});
    lastSeen_ = recordNumber;
}

std::unique_ptr<CXMLAlertLogItem> CAuditPipeline::MakeRecordAlert(
    const void* record, const CWorkstationEventDefinitions& definitions, CLookupCache& lookups,
    const std::wstring& computerName, const std::wstring& dnsDomain) {
    if (!definitions.IsCandidateEvent(CEventLogRecord::FromDeliveredRecord(record).EventId()))
        return nullptr;
    CEventLogEntry entry(computerName, dnsDomain, kLogName, record, false, lookups);
    CXMLEventDefinition* definition = definitions.FindDefinition(&entry);
    return definition ? CXMLAlertLog::MakeAlertItem(entry, *definition) : nullptr;
}

// Everything up to the record before the oldest alert that is not yet on the
// device is done with; once an alert was dropped, nothing after it is.
uint32_t CAuditPipeline::SafePosition() {
    const CXMLAlertLog::HeldItems held = alertLogView_->GetHeldItems();
    if (held.lowestDropped != 0 && !stuck_) {
        for (const PendingAlert& alert : pending_) {
            if (alert.ordinal < held.lowestDropped) continue;
            stuck_ = true;
            stuckPosition_ = alert.recordNumber - 1;
            break;
        }
    }
    while (!pending_.empty() &&
           (held.oldestHeld == 0 || pending_.front().ordinal < held.oldestHeld))
        pending_.pop_front();
    if (stuck_) return stuckPosition_;
    return pending_.empty() ? lastSeen_ : pending_.front().recordNumber - 1;
}

void CAuditPipeline::SavePosition() {
    std::lock_guard<std::mutex> guard(positionLock_);
    const uint32_t position = SafePosition();
    if (position == savedPosition_) return;
    SetLastEventLogRecordNumber(position);
    savedPosition_ = position;
}

void CAuditPipeline::OnItemsWritten() {
    if (alertLogView_) SavePosition();
}
