#pragma once
// The alert documents that the agent would post for a preview's alerts. The
// items go the agent's own way: queued, flushed into cache files (in a
// folder of the preview's own, never beside an agent's files) and each file
// made into one document, so the texts are the ones the agent sends (as
// UTF-16LE).

#include <memory>
#include <string>
#include <vector>

#include "alertlog/XMLAlertLog.h"

class CPreviewDocuments : public CXMLAlertLog {
public:
    // Throws std::runtime_error when the cache files cannot be written.
    static std::vector<std::wstring> Build(std::vector<std::unique_ptr<CXMLAlertLogItem>> alerts);

private:
    explicit CPreviewDocuments(const std::wstring& folder)
        : CXMLAlertLog(Workers::NotStarted, folder) {}
    std::vector<std::wstring> TakeDocuments();
};
