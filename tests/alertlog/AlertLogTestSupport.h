#pragma once
// What the alert log tests share: an alert log whose workers do not run (the
// test drives the flush and the sweep), its posts optionally recorded instead
// of sent, its event log entries recorded, the items of the golden files, and the diagnostic log's
// text.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeEventLog.h"
#include "RecordingFile.h"
#include "alertlog/XMLAlertLog.h"

// The event log that a test alert log writes its entries to; a base, so
// that it is there before the alert log is made and after it is gone.
struct CTestEventLogHolder {
    CFakeEventLog eventLog;
};

class CTestAlertLog : private CTestEventLogHolder, public CXMLAlertLog {
public:
    CTestAlertLog() : CXMLAlertLog(Workers::NotStarted, eventLog) {}

    CFakeEventLog& EventLog() { return eventLog; }

    // When set, a post goes to this answer instead of the server and its
    // document is kept in posted.
    std::function<uint32_t(const std::wstring&)> answer;
    std::vector<std::wstring> posted;
    // When set, the flush writes its cache files through recording doubles.
    CRecordingFile::CJournal* journal = nullptr;

    uint32_t PostAlertDocument(const std::wstring& text) override;

protected:
    std::unique_ptr<kx::platform::CExclusiveFile> NewFileObject() override;
};

// The items that tests/data/alertlog/make_golden.py writes.
std::vector<std::unique_ptr<CXMLAlertLogItem>> GoldenItems();
std::unique_ptr<CXMLAlertLogItem> MakeItem(const std::wstring& action, std::size_t dumpLength = 0);
std::filesystem::path GoldenFile(const char* name);

// The cache files of a folder, by name.
std::vector<std::filesystem::path> CacheFilesIn(const std::filesystem::path& folder);
// How often text occurs in the folder's diagnostic log (closed first).
int CountInDiagnosticLog(const std::filesystem::path& folder, const std::string& text);
// The alert document's ActionText values, in document order.
std::vector<std::wstring> ActionTextsOf(const std::wstring& document);
