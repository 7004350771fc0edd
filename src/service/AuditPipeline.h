#pragma once
// The spine of the agent: the event definitions, the alert log and the
// collector of the local "Security" log. Every record the collector reads
// comes through OnEventRecord; a record whose event code a definition carries
// is matched and its alert item queued, and the number of the last record
// that needs no further work is kept in the registry, so that the next start
// goes on after it. The definitions are refreshed once an hour while records
// arrive.
//
// The kept position never passes a record whose alert item is not yet in a
// cache file on the device: a crash, a kill or a power loss may make the
// next run read some records again (and send the alerts of at most one
// flush twice), never skip one.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "BaseClasses/EventRecordIdentity.h"
#include "platform/EventLog.h"

class CEventLogCollector;
class CLookupCache;
class CWorkstationEventDefinitions;
class CXMLAlertLog;
class CXMLAlertLogItem;

class CAuditPipeline {
public:
    static constexpr const wchar_t* kLogName = L"Security";
    static constexpr int32_t kCollectionLimitDays = 14;
    static constexpr uint32_t kSwitchCheckInterval = 60000;           // 1 minute
    static constexpr uint32_t kPositionSaveInterval = 10000;          // 10 seconds
    static constexpr uint32_t kDefinitionsRefreshInterval = 3600000;  // 1 hour
    // While no definitions set has ever been held (a fresh install whose
    // download failed), records wait in the log and the download is tried
    // again this often.
    static constexpr uint32_t kFirstDefinitionsRetryInterval = 30000;  // 30 seconds

    // Loads the definitions (downloading them where needed), starts the
    // alert log and begins collecting.
    CAuditPipeline();
    // Stops collecting, then flushes and stops the alert log.
    ~CAuditPipeline();
    CAuditPipeline(const CAuditPipeline&) = delete;
    CAuditPipeline& operator=(const CAuditPipeline&) = delete;

    // The collector's record callback; context is the pipeline. 1 when the
    // record went through ProcessEventRecord, 0 while the agent is disabled,
    // CEventLogCollector::kReadAgain while no definitions set is held.
    static int OnEventRecord(const void* record, void* context);
    int ProcessEventRecord(const void* record);
    // Switches logon auditing on in the local audit policy where it is off.
    void EnsureLogonAuditing();
    // The alert item the agent builds for one delivered record of the
    // "Security" log: the first definition that selects it, the record read
    // with the computer's names. None when no definition selects it.
    static std::unique_ptr<CXMLAlertLogItem> MakeRecordAlert(
        const void* record, const CWorkstationEventDefinitions& definitions, CLookupCache& lookups,
        const std::wstring& computerName, const std::wstring& dnsDomain);

    const std::wstring& GetModuleDirectory() const { return moduleDirectory_; }

protected:
    // For tests: an alert log and event log of the test's choosing, and
    // collection begun only when asked for.
    CAuditPipeline(std::unique_ptr<CXMLAlertLog> alertLog, kx::platform::IEventLog& eventLog,
                   bool beginCollecting);
    CXMLAlertLog& AlertLog() { return *alertLog_; }
    CWorkstationEventDefinitions& Definitions() { return *definitions_; }
    CEventLogCollector& Collector() { return *collector_; }

private:
    struct PendingAlert {
        uint64_t ordinal;
        CEventRecordIdentity before;  // the record the position stays at meanwhile
    };

    void Start(bool beginCollecting);
    int HandleRecord(const void* record);
    bool HoldsDefinitions(uint32_t now);
    void QueueAlert(const void* record, const CEventRecordIdentity& identity);
    // Under positionLock_: the last record that may be kept.
    CEventRecordIdentity SafePosition();
    void SavePosition();
    void OnItemsWritten();

    std::wstring moduleDirectory_;
    std::unique_ptr<CWorkstationEventDefinitions> definitions_;
    std::unique_ptr<CXMLAlertLog> alertLog_;
    CXMLAlertLog* alertLogView_ = nullptr;  // valid through the alert log's own destructor
    std::unique_ptr<CEventLogCollector> collector_;
    std::unique_ptr<CLookupCache> lookups_;  // used on the collector's thread
    std::wstring computerName_;
    std::wstring dnsDomain_;
    int32_t enabled_ = 0;
    bool switchRead_ = false;  // before its first read the switch is not known, not off
    uint32_t lastDefinitionsRefresh_ = 0;
    uint32_t lastRecordNumberSave_ = 0;
    uint32_t lastEnableSwitchCheck_ = 0;
    uint32_t lastFirstDefinitionsTry_ = 0;

    // Shared with the alert log's flush thread.
    std::mutex positionLock_;
    std::deque<PendingAlert> pending_;  // queued alerts not yet on the device, oldest first
    CEventRecordIdentity lastSeen_;     // the last record handled
    bool stuck_ = false;  // an alert was dropped: the position stays before it this run
    CEventRecordIdentity stuckPosition_;
    uint32_t savedPosition_ = 0;
};
