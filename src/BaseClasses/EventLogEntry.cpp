#include "BaseClasses/EventLogEntry.h"

#include <stdexcept>

#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "common/Format.h"
#include "platform/Accounts.h"
#include "platform/Time.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\BaseClasses\\EventLogEntry.cpp";
constexpr wchar_t kDescriptionNotFound[] =
    L"The description for Event ID ( %d ) in Source ( %s ) cannot be found. The following "
    L"information is part of the event:\r\n";
constexpr wchar_t kTokenDelimiters[] = L" ;,:\n\r\t|.";
constexpr std::size_t kMaxSidTextLength = 259;
constexpr uint32_t kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND
// Messages of some sources carry these qualifier bits that their events lack.
constexpr uint32_t kRetryQualifierBits = 0xB0000000;

const void* RecordBytes(const void* record, bool copy, std::vector<uint8_t>& storage) {
    if (!copy || !record) return record;
    CEventLogRecord view = CEventLogRecord::FromDeliveredRecord(record);
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    storage.assign(bytes, bytes + view.Length());
    return storage.data();
}

// The number of a "%%n" reference: its leading digits. nullopt when there
// are none or they do not fit a message identifier: such a token is not a
// reference and stays as written.
std::optional<uint32_t> ParameterNumber(const std::wstring& token) {
    uint64_t number = 0;
    std::size_t i = 2;
    for (; i < token.size() && token[i] >= L'0' && token[i] <= L'9'; ++i) {
        number = number * 10 + static_cast<uint32_t>(token[i] - L'0');
        if (number > 0xFFFFFFFFu) return std::nullopt;
    }
    if (i == 2) return std::nullopt;
    return static_cast<uint32_t>(number);
}

bool IsValidTime(const kx::SystemTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 &&
           t.minute <= 59 && t.second <= 59;
}

}  // namespace

CEventLogEntry::CEventLogEntry(const std::wstring& computerName, const std::wstring& domainName,
                               const std::wstring& logName, const void* record, bool copy,
                               CLookupCache& lookups)
    : computerName_(computerName),
      domainName_(domainName),
      logName_(logName),
      record_(CEventLogRecord::FromDeliveredRecord(RecordBytes(record, copy, copy_))),
      lookups_(lookups),
      sourceName_(record_.ClippedSourceName()),
      raw_(record_.ClippedStrings()),
      expanded_(raw_.size()) {}

const std::wstring& CEventLogEntry::GetString(uint16_t index, bool expanded) {
    if (index >= raw_.size()) throw std::out_of_range("insertion string index");
    if (!expanded) return raw_[index];
    if (!expanded_[index]) {
        try {
            expanded_[index] = ExpandInsertionString(raw_[index]);
        } catch (...) {
            return raw_[index];  // no memory to expand it: as written, expanded next time
        }
    }
    return *expanded_[index];
}

void CEventLogEntry::GetStrings(std::vector<std::wstring>& strings, bool expanded) {
    for (uint16_t i = 0; i < raw_.size(); ++i) strings.push_back(GetString(i, expanded));
}

void CEventLogEntry::ExpandAll() {
    for (uint16_t i = 0; i < raw_.size(); ++i) GetString(i, true);
}

const uint8_t* CEventLogEntry::GetUserSid() const {
    std::optional<std::span<const uint8_t>> sid = record_.UserSid();
    return sid && !sid->empty() ? sid->data() : nullptr;
}

uint32_t CEventLogEntry::GetUserSidLength() const {
    return GetUserSid() ? record_.UserSidLength() : 0;
}

std::wstring CEventLogEntry::GetUserSidString() const {
    std::wstring text;
    const uint8_t* sid = GetUserSid();
    if (!sid || kx::platform::ConvertSidToString(sid, GetUserSidLength(), text) != 0) return L"";
    return text;
}

std::wstring CEventLogEntry::GetUserAccount() {
    return lookups_.GetAccountFromSid(computerName_, GetUserSidString());
}

int64_t CEventLogEntry::GetTimeGenerated(bool local) const {
    const int64_t seconds = static_cast<int32_t>(record_.TimeGenerated());
    kx::SystemTime fields;
    if (!local) {
        fields = kx::UnixMillisecondsToSystemTime(seconds * 1000);
    } else if (!kx::platform::UnixSecondsToLocalTime(seconds, &fields)) {
        throw std::runtime_error("the time generated has no local time");
    }
    if (fields.year < 1900) return 0;
    int64_t result = 0;
    if (!IsValidTime(fields) || !kx::platform::LocalTimeToUnixSeconds(fields, &result))
        throw std::runtime_error("the time generated cannot be converted");
    return result;
}

std::wstring CEventLogEntry::ExpandInsertionString(const std::wstring& text) {
    if (text.find(L'%') == std::wstring::npos) return text;
    std::wstring result;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(kTokenDelimiters, at);
        result.append(text, at, std::min(start, text.size()) - at);
        if (start == std::wstring::npos) break;
        std::size_t end = text.find_first_of(kTokenDelimiters, start);
        if (end == std::wstring::npos) end = text.size();
        AppendReplacementOrToken(text.substr(start, end - start), result);
        at = end;
    }
    return result;
}

// A lookup that fails in any way (no memory, an error of the directory's
// port) leaves the token as the record wrote it.
void CEventLogEntry::AppendReplacementOrToken(const std::wstring& token, std::wstring& result) {
    try {
        bool replace = false;
        const std::wstring replacement = TokenReplacement(token, &replace);
        result += replace ? replacement : token;
    } catch (...) {
        result += token;
    }
}

std::wstring CEventLogEntry::TokenReplacement(const std::wstring& token, bool* replace) {
    *replace = token.size() > 2 && token[0] == L'%';
    if (!*replace) return L"";
    if (token[1] == L'%') {
        std::optional<uint32_t> number = ParameterNumber(token);
        *replace = number.has_value();
        return number ? lookups_.GetParameterText(computerName_, logName_, sourceName_, *number)
                      : L"";
    }
    if (token[1] != L'{') {
        *replace = false;
        return L"";
    }
    if (token.size() > 3 && token[2] == L'S' && token[3] == L'-') {
        // Without its closing brace, or longer than any SID, the token is not
        // a SID reference.
        const std::size_t sidLength = token.size() - 3;
        *replace = token.back() == L'}' && sidLength <= kMaxSidTextLength;
        if (!*replace) return L"";
        return lookups_.GetAccountFromSid(computerName_, token.substr(2, sidLength));
    }
    return lookups_.GuidToName(computerName_, token.substr(1));
}

std::wstring CEventLogEntry::GetMessageText() {
    std::wstring text;
    try {
        ExpandAll();
        text = FormatFromModules();
    } catch (...) {
        LogMessage(kSourceFile, __LINE__, kLogWarning, kDescriptionNotFound, GetEventId(),
                   sourceName_);
        text.clear();
    }
    if (!text.empty()) return text;
    text = DescriptionNotFound();
    for (std::size_t i = 0; i < raw_.size(); ++i) text += StringAsItStands(i) + L"\r\n";
    return text;
}

std::wstring CEventLogEntry::FormatFromModules() {
    const MessageModuleList* modules =
        lookups_.GetMessageModules(computerName_, logName_, sourceName_, L"EventMessageFile");
    if (!modules) return L"";
    std::vector<std::wstring> inserts;
    for (std::size_t i = 0; i < raw_.size(); ++i) inserts.push_back(StringAsItStands(i));
    std::wstring text;
    for (kx::platform::MessageModuleHandle module : *modules) {
        uint32_t error = kx::platform::FormatModuleMessage(
            module, GetMessageId(), kx::InsertHandling::Replace, inserts, text);
        if (error == kMessageNotFound) {
            error = kx::platform::FormatModuleMessage(module, GetMessageId() | kRetryQualifierBits,
                                                      kx::InsertHandling::Replace, inserts, text);
        }
        if (error == 0) return text;
    }
    return L"";
}

// Expanded where it could be, else as the record has it.
const std::wstring& CEventLogEntry::StringAsItStands(std::size_t index) const {
    return expanded_[index] ? *expanded_[index] : raw_[index];
}

std::wstring CEventLogEntry::DescriptionNotFound() const {
    return kx::Format(kDescriptionNotFound, GetEventId(), sourceName_);
}
