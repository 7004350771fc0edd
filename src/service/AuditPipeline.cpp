#include "service/AuditPipeline.h"

#include <optional>

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

// The saved position, with what identified its record when the identity
// saved is that of the same number.
CEventRecordIdentity StoredPosition() {
    const uint32_t number = GetLastEventLogRecordNumber();
    const std::optional<CEventRecordIdentity> identity =
        CEventRecordIdentity::Parse(GetLastEventLogRecordIdentity());
    if (identity && identity->RecordNumber() == number) return *identity;
    return CEventRecordIdentity(number);
}

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
    lastFirstDefinitionsTry_ = GetClock().GetTickCount();  // the definitions were just asked for
    const CEventRecordIdentity stored = StoredPosition();
    {
        std::lock_guard<std::mutex> guard(positionLock_);
        lastSeen_ = stored;
        savedPosition_ = stored.RecordNumber();
    }
    const uint32_t number = stored.RecordNumber();
    collector_->SetCollectionParameters(computerName_.c_str(), kLogName,
                                        number != 0 ? number + 1 : 0, kCollectionLimitDays,
                                        &CAuditPipeline::OnEventRecord, &IgnoreOpened, this);
    if (stored.IsKnown()) collector_->SetResumeIdentity(stored);
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

// The enable switch is read on the first record, then at most once a minute,
// on a record that arrives.
int CAuditPipeline::HandleRecord(const void* record) {
    const uint32_t now = GetClock().GetTickCount();
    if (!switchRead_ || TicksSince(now, lastEnableSwitchCheck_) > kSwitchCheckInterval) {
        switchRead_ = true;
        lastEnableSwitchCheck_ = now;
        enabled_ = GetEnableWorkstationAuditAgent() == 1 ? 1 : 0;
    }
    return enabled_ == 1 ? ProcessEventRecord(record) : 0;
}

int CAuditPipeline::ProcessEventRecord(const void* record) {
    const uint32_t now = GetClock().GetTickCount();
    if (!HoldsDefinitions(now)) return CEventLogCollector::kReadAgain;
    const CEventLogRecord view = CEventLogRecord::FromDeliveredRecord(record);
    const CEventRecordIdentity identity = CEventRecordIdentity::Of(record);
    if (definitions_->IsCandidateEvent(view.EventId())) {
        QueueAlert(record, identity);
        SavePosition();
        lastRecordNumberSave_ = now;
    } else {
        std::lock_guard<std::mutex> guard(positionLock_);
        lastSeen_ = identity;
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

// Until a definitions set has been held once, no record can be told wanted
// or not: they stay in the log, unpassed, and the download is tried again
// every half minute. Once a set is held, the hourly refresh takes over.
bool CAuditPipeline::HoldsDefinitions(uint32_t now) {
    if (definitions_->HasHeldASet()) return true;
    if (TicksSince(now, lastFirstDefinitionsTry_) <= kFirstDefinitionsRetryInterval) return false;
    lastFirstDefinitionsTry_ = now;
    definitions_->Update();
    if (!definitions_->HasHeldASet()) return false;
    lastDefinitionsRefresh_ = now;
    return true;
}

// The item is built outside the lock (lookups may take a while); queuing it
// and moving past its record are one step for the flush thread.
void CAuditPipeline::QueueAlert(const void* record, const CEventRecordIdentity& identity) {
    std::unique_ptr<CXMLAlertLogItem> item =
        MakeRecordAlert(record, *definitions_, *lookups_, computerName_, dnsDomain_);
    std::lock_guard<std::mutex> guard(positionLock_);
    if (item) {
        const uint32_t number = identity.RecordNumber();
        // The record before is known only when it was the one handled last.
        const CEventRecordIdentity before =
            lastSeen_.RecordNumber() == number - 1 ? lastSeen_ : CEventRecordIdentity(number - 1);
        pending_.push_back({alertLogView_->AddItem(std::move(item)), before});
    }
    lastSeen_ = identity;
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
CEventRecordIdentity CAuditPipeline::SafePosition() {
    const CXMLAlertLog::HeldItems held = alertLogView_->GetHeldItems();
    if (held.lowestDropped != 0 && !stuck_) {
        for (const PendingAlert& alert : pending_) {
            if (alert.ordinal < held.lowestDropped) continue;
            stuck_ = true;
            stuckPosition_ = alert.before;
            break;
        }
    }
    while (!pending_.empty() &&
           (held.oldestHeld == 0 || pending_.front().ordinal < held.oldestHeld))
        pending_.pop_front();
    if (stuck_) return stuckPosition_;
    return pending_.empty() ? lastSeen_ : pending_.front().before;
}

// The number goes first, so that a kill after a flush finds it as soon as
// before; an identity whose number is not the one saved (a kill between the
// two writes, an older agent that moved the number) is not used.
void CAuditPipeline::SavePosition() {
    std::lock_guard<std::mutex> guard(positionLock_);
    const CEventRecordIdentity position = SafePosition();
    if (position.RecordNumber() == savedPosition_) return;
    SetLastEventLogRecordNumber(position.RecordNumber());
    SetLastEventLogRecordIdentity(position.ToText());
    savedPosition_ = position.RecordNumber();
}

void CAuditPipeline::OnItemsWritten() {
    if (alertLogView_) SavePosition();
}
