// The send worker's side of the alert log: the sweep over the cache files,
// the alert document of one file and its post.
#include <algorithm>
#include <stdexcept>

#include "BaseClasses/LogData.h"
#include "alertlog/CacheFileReader.h"
#include "alertlog/XMLAlertLog.h"
#include "alertlog/XmlMemoryWriter.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/FoundationServiceRequest.h"
#include "http/PatternMatcher.h"
#include "platform/ExclusiveFile.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SystemMessage.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\alertlog\\XMLAlertLog.cpp";
constexpr const wchar_t* kCachePattern = L"KX_*.tmp";
constexpr std::size_t kMaxErrorTextLength = 1024;

// The number in the name a flush gave a cache file ("KX_3F2A.tmp"), which
// counts up from one file to the next; -1 for any other name.
int64_t UniqueNumberOf(const std::wstring& name) {
    if (name.size() < 8 || name.size() > 11) return -1;
    int64_t number = 0;
    for (std::size_t i = 3; i + 4 < name.size(); ++i) {
        const int digit = kx::DigitValue(name[i], 16);
        if (digit < 0) return -1;
        number = number * 16 + digit;
    }
    return number;
}

// Gateways in front of the service answer these while it is unreachable.
bool IsGatewayFailure(const std::wstring& status) {
    return status == L"502" || status == L"503" || status == L"504";
}

bool IsRedirection(const std::wstring& status) {
    return status.size() == 3 && status[0] == L'3';
}

// Where a redirection points, for the log (a server's text: kept short).
std::wstring RedirectionTarget(const std::wstring& headers) {
    constexpr std::size_t kMaxShown = 256;
    std::vector<std::wstring> found;
    CPatternMatcher::FindAllCaptures(L"\nLocation:\\b*{.+?}\\n", false, 1, L"\n" + headers, found,
                                     false);
    if (found.empty()) return L"nowhere";
    return found.front().substr(0, kMaxShown);
}

}  // namespace

std::vector<CXMLAlertLog::CCacheFile> CXMLAlertLog::ListCacheFiles(uint64_t* totalSize) const {
    std::vector<kx::platform::FoundFile> found;
    kx::platform::FindFiles(cacheDirectory_, kCachePattern, &found);
    return OrderCacheFiles(cacheDirectory_, found, totalSize);
}

std::vector<CXMLAlertLog::CCacheFile> CXMLAlertLog::OrderCacheFiles(
    const std::wstring& directory, const std::vector<kx::platform::FoundFile>& found,
    uint64_t* totalSize) {
    struct Entry {
        CCacheFile file;
        int64_t unique;
    };
    std::vector<Entry> entries;
    *totalSize = 0;
    for (const auto& match : found) {
        if (match.isDirectory || match.name == L"." || match.name == L"..") continue;
        CCacheFile file{directory + kx::platform::kPathSeparator + match.name, match.size,
                        match.creationTime};
        entries.push_back(Entry{std::move(file), UniqueNumberOf(match.name)});
        *totalSize += match.size;
    }
    // Oldest first. Files written by one flush can share a creation time (the
    // file system's clock is coarse); their names then tell their order.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.file.created != b.file.created) return a.file.created < b.file.created;
        return a.unique < b.unique;
    });
    std::vector<CCacheFile> files;
    for (auto& entry : entries) files.push_back(std::move(entry.file));
    return files;
}

void CXMLAlertLog::SendCacheFiles() {
    uint64_t total = 0;
    std::vector<CCacheFile> files = ListCacheFiles(&total);
    if (total > kCacheSizeLimit) DeleteOverLimit(files, total);
    bool posted = false;
    for (const CCacheFile& file : files) {
        if (!file.path.empty() && SendCacheFile(file.path)) posted = true;
        if (!running_) break;
    }
    // The documents of a sweep are megabytes that the next quiet sweep does
    // not need; a sweep that met only the file the flush still writes made
    // none, and the trim would cost more than it gives back.
    if (posted) kx::platform::ReleaseFreeMemory();
}

void CXMLAlertLog::DeleteOverLimit(std::vector<CCacheFile>& files, uint64_t total) {
    for (CCacheFile& file : files) {
        if (total < kCacheSizeLimit) break;
        if (!kx::platform::DeleteFileByPath(file.path)) continue;
        LogMessage(kSourceFile, __LINE__, kLogWarning,
                   L"Cache files over %I64u bytes: deleted the oldest, %s (%I64u bytes).",
                   kCacheSizeLimit, file.path, file.size);
        total -= file.size;
        file.path.clear();
    }
}

bool CXMLAlertLog::SendCacheFile(const std::wstring& path) {
    std::wstring text;
    uint32_t error = 0;
    bool opened = false;
    try {
        opened = BuildAlertDocument(path, &text, &error);
    } catch (...) {
        // Passed over, so that the files behind it still go; it stays on disk
        // until a sweep can build it or the size limit removes it.
        LogMessage(kSourceFile, __LINE__, kLogError,
                   L"Cache file %s could not be made into an alert document; passed over.", path);
        return false;
    }
    if (!opened) {
        if (error != kx::platform::kErrorSharingViolation) {
            std::wstring reason = kx::platform::GetSystemErrorText(error);
            if (reason.size() > kMaxErrorTextLength) reason.resize(kMaxErrorTextLength);
            LogMessage(kSourceFile, __LINE__, kLogError, L"Error opening cache file: %s : %s", path,
                       reason);
        }
        return false;
    }
    if (PostAlertDocument(text) == 0) {
        kx::platform::DeleteFileByPath(path);
        return true;
    }
    LogMessage(kSourceFile, __LINE__, kLogError,
               L"Unable to connect to the Korvex Foundation service. Please check that the "
               L"service is running and that the workstation logon auditing feature is enabled. "
               L"Also ensure that the proper port is open in the firewall.");
    return true;
}

bool CXMLAlertLog::BuildAlertDocument(const std::wstring& path, std::wstring* text,
                                      uint32_t* error) {
    kx::platform::CExclusiveFile file;
    *error = file.Open(path, kx::platform::ExclusiveAccess::OpenForReadWrite);
    uint64_t size = 0;
    if (*error == 0) *error = file.GetSize(&size);
    if (*error != 0) return false;
    CCacheFileReader reader(file, size);
    uint32_t count = 0;
    reader.ReadUInt32(&count);  // a file too short for the count holds no items
    CXmlMemoryWriter writer;
    writer.StartElement(L"Korvex");
    writer.StartElement(L"WorkstationEvents");
    WriteDocumentItems(reader, count, writer);
    writer.EndElement();
    const bool closed = writer.EndElement();
    file.Close();
    *text = writer.GetText();
    // An empty post would be answered, and the answer would delete the file.
    if (!closed || text->empty()) throw std::runtime_error("the alert document was not written");
    return true;
}

void CXMLAlertLog::WriteDocumentItems(CCacheFileReader& reader, uint32_t count,
                                      CXmlMemoryWriter& writer) {
    for (uint32_t i = 0; i < count && !reader.Ended(); ++i) {
        CXMLAlertLogItem item;
        const CXMLAlertLogItem::ReadResult result = item.ReadItem(reader);
        const bool read = result == CXMLAlertLogItem::ReadResult::Read;
        LogMessage(kSourceFile, __LINE__, kLogDetail, L"Writing Event: %s\r\n",
                   read ? item.ActionText : std::wstring());
        if (read) item.WriteEventElement(writer);
    }
}

uint32_t CXMLAlertLog::PostAlertDocument(const std::wstring& text) {
    // Read anew for every post: a changed setting applies to the next one.
    CFoundationServiceRequest request(L"/EventPost");
    const std::string body = kx::WideToUtf16LE(text);
    request.Http().SetRequestBody(body.data(), static_cast<uint32_t>(body.size()));
    request.Http().SetRequestHeaders(
        kx::Format(L"Content-Length: %d\r\nContent-Type: image/jpeg\r\n", body.size()));
    // A redirection is not followed: it turns the post into a GET, or takes
    // the alerts to another server, and the answer would delete the file.
    if (!request.Send(L"POST", true)) return request.GetLastErrorCode();
    const std::wstring status = request.Http().GetStatusCode();
    if (IsRedirection(status)) {
        LogMessage(kSourceFile, __LINE__, kLogError,
                   L"The Korvex Foundation service at %s answered the post with a redirection "
                   L"(status %s, to %s); the alerts stay in their cache file.",
                   request.Url(), status, RedirectionTarget(request.Http().GetResponseHeaders()));
    }
    if (IsGatewayFailure(status) || IsRedirection(status)) {
        return static_cast<uint32_t>(kx::ParseDecimal(status));
    }
    return 0;
}
