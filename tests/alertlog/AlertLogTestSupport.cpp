#include "AlertLogTestSupport.h"

#include <algorithm>

#include "BaseClasses/LogData.h"
#include "TempDirectory.h"

uint32_t CTestAlertLog::PostAlertDocument(const std::wstring& text) {
    if (!answer) return CXMLAlertLog::PostAlertDocument(text);
    posted.push_back(text);
    return answer(text);
}

std::unique_ptr<kx::platform::CExclusiveFile> CTestAlertLog::NewFileObject() {
    if (!journal) return CXMLAlertLog::NewFileObject();
    return std::make_unique<CRecordingFile>(*journal);
}

namespace {

std::unique_ptr<CXMLAlertLogItem> Item(const wchar_t* name, const wchar_t* domain,
                                       const wchar_t* sid, const wchar_t* account,
                                       const wchar_t* code, const wchar_t* action,
                                       int64_t generated, const wchar_t* dump) {
    auto item = std::make_unique<CXMLAlertLogItem>();
    item->ComputerName = name;
    item->ComputerDomain = domain;
    item->AccountSID = sid;
    item->AccountName = account;
    item->EventDefinitionCode = code;
    item->ActionText = action;
    item->TimeGenerated = generated;
    item->EventDump = dump;
    return item;
}

constexpr int64_t kLatestLocalTime = 32535244799;

}  // namespace

std::vector<std::unique_ptr<CXMLAlertLogItem>> GoldenItems() {
    std::vector<std::unique_ptr<CXMLAlertLogItem>> items;
    items.push_back(
        Item(L"WS-0042", L"corp.example.test", L"S-1-5-21-1004336348-1177238915-682003330-1104",
             L"CORP\\j\u00f6rg.m\u00fcller", L"KX4720",
             L"User account J\u00f6rg \U0001F600 created by CORP\\admin", 1721038830,
             L"A user account was created.\r\n\r\nSubject:\r\n\tAccount Name:\tadmin\r\n"
             L"\tAccount Domain:\tCORP\r\n\r\nNew Account:\r\n\tAccount "
             L"Name:\tj\u00f6rg \U0001D11E"));
    items.back()->AddProperty(L"TARGETACCOUNT", L"CORP\\j\u00f6rg.m\u00fcller");
    items.back()->AddProperty(L"SUBJECTACCOUNT", L"CORP\\admin");
    items.push_back(Item(L"WS-0042", L"", L"", L"", L"KX1102", L"", 0, L""));
    items.push_back(Item(L"DC1", L"example.test", L"S-1-5-18", L"NT AUTHORITY\\SYSTEM", L"KX5136",
                         L"Attribute <description> changed & logged", 1425445567,
                         L"Dump with ]]> inside, <tags> & ampersands &amp; and a ]]> again"));
    items.back()->AddProperty(L"", L"");
    items.back()->AddProperty(L"ATTRIBUTE", L"description");
    items.back()->AddProperty(L"VALUE",
                              L"a\x01"
                              L"b <c> & ]]>");
    const wchar_t* const admin = L"CORP\\Administrator";
    const wchar_t* const adminSid = L"S-1-5-21-1-2-3-500";
    items.push_back(Item(L"WS-0043", L"corp.example.test", adminSid, admin, L"KX4740",
                         L"Account locked out", -1, L"Locked out."));
    items.back()->AddProperty(L"TARGETACCOUNT", admin);
    items.push_back(Item(L"WS-0043", L"corp.example.test", adminSid, admin, L"KX4740",
                         L"Far future", kLatestLocalTime + 1, L""));
    items.push_back(Item(L"WS-0043", L"corp.example.test", adminSid, admin, L"KX4740",
                         L"Latest time", kLatestLocalTime, L""));
    return items;
}

std::unique_ptr<CXMLAlertLogItem> MakeItem(const std::wstring& action, std::size_t dumpLength) {
    auto item = std::make_unique<CXMLAlertLogItem>();
    item->ComputerName = L"WS-0042";
    item->ComputerDomain = L"corp.example.test";
    item->AccountSID = L"S-1-5-18";
    item->AccountName = L"NT AUTHORITY\\SYSTEM";
    item->EventDefinitionCode = L"KX4720";
    item->ActionText = action;
    item->TimeGenerated = 1721038830;
    item->EventDump = std::wstring(dumpLength, L'x');
    item->AddProperty(L"TARGETACCOUNT", action);
    return item;
}

std::filesystem::path GoldenFile(const char* name) {
    return std::filesystem::path(KX_ALERTLOG_DATA_DIR) / name;
}

std::vector<std::filesystem::path> CacheFilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KX_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

int CountInDiagnosticLog(const std::filesystem::path& folder, const std::string& text) {
    CloseDiagnosticLog();
    const std::string log = ReadFileBytes(folder / "BWAgentSvc.log");
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

std::vector<std::wstring> ActionTextsOf(const std::wstring& document) {
    std::vector<std::wstring> texts;
    const std::wstring open = L"<ActionText>";
    for (std::size_t at = document.find(open); at != std::wstring::npos;
         at = document.find(open, at + 1)) {
        const std::size_t start = at + open.size();
        texts.push_back(document.substr(start, document.find(L"</ActionText>", start) - start));
    }
    return texts;
}
