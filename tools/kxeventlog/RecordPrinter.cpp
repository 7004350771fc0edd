#include "RecordPrinter.h"

#include "ToolError.h"
#include "common/Format.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/Accounts.h"

namespace {

// Empty when the bytes are not a SID.
std::wstring SidText(const std::vector<uint8_t>& sid) {
    std::wstring text;
    if (kx::platform::ConvertSidToString(sid.data(), sid.size(), text) != 0) return L"";
    return text;
}

const wchar_t* TypeName(uint16_t type) {
    switch (type) {
        case kx::eventlog::kEventTypeSuccess:
            return L"success";
        case kx::eventlog::kEventTypeError:
            return L"error";
        case kx::eventlog::kEventTypeWarning:
            return L"warning";
        case kx::eventlog::kEventTypeInformation:
            return L"information";
        case kx::eventlog::kEventTypeAuditSuccess:
            return L"audit success";
        case kx::eventlog::kEventTypeAuditFailure:
            return L"audit failure";
        default:
            return L"unknown";
    }
}

// Control characters made visible, so that one string stays on one line.
std::wstring Visible(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\t') {
            out += L"\\t";
        } else if (c < 0x20) {
            out += kx::Format(L"\\x%02x", c);
        } else {
            out += c;
        }
    }
    return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) out += kx::WideToUtf8(kx::Format(L"%02x", b));
    return out;
}

}  // namespace

std::string CRecordPrinter::JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (char c : kx::WideToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            out += kx::WideToUtf8(kx::Format(L"\\u%04x", byte));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string CRecordPrinter::FormatTime(uint32_t seconds, bool json) {
    kx::SystemTime t = kx::UnixMillisecondsToSystemTime(int64_t{seconds} * 1000);
    return kx::WideToUtf8(
        kx::Format(json ? L"%04d-%02d-%02dT%02d:%02d:%02dZ" : L"%04d-%02d-%02d %02d:%02d:%02d",
                   t.year, t.month, t.day, t.hour, t.minute, t.second));
}

void CRecordPrinter::Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
}

void CRecordPrinter::Begin() {
    if (json_) Write("[");
}

void CRecordPrinter::End() {
    if (json_) Write(printed_ ? "\n]\n" : "]\n");
}

void CRecordPrinter::Print(const CEventLogRecord& record, const std::wstring* message) {
    message_ = message;
    std::optional<EventLogRecordFields> fields = record.ReadFields();
    if (!fields)
        throw CToolError(kExitFailure, kx::Format(L"record %u is damaged: its offsets or lengths "
                                                  L"reach outside it",
                                                  record.RecordNumber()));
    if (json_) {
        PrintJson(*fields);
    } else {
        PrintText(*fields);
    }
    ++printed_;
}

void CRecordPrinter::PrintText(const EventLogRecordFields& f) {
    std::wstring sid = f.userSid.empty() ? L"-" : SidText(f.userSid);
    std::wstring text = kx::Format(
        L"Record %u\n"
        L"  Time generated: %s UTC\n"
        L"  Time written:   %s UTC\n"
        L"  Event ID:       0x%08X (code %u, qualifiers 0x%04X)\n"
        L"  Type:           %u (%s)\n"
        L"  Category:       %u\n"
        L"  Source:         %s\n"
        L"  Computer:       %s\n"
        L"  User SID:       %s\n",
        f.recordNumber, FormatTime(f.timeGenerated, false), FormatTime(f.timeWritten, false),
        f.eventId, f.eventId & 0xFFFF, f.eventId >> 16, f.eventType, TypeName(f.eventType),
        f.eventCategory, f.sourceName, f.computerName, sid.empty() ? L"(invalid)" : sid);
    for (std::size_t i = 0; i < f.strings.size(); ++i)
        text += kx::Format(L"  String %u:%s%s\n", i + 1, i + 1 < 10 ? L"       " : L"      ",
                           Visible(f.strings[i]));
    if (!f.data.empty()) text += kx::Format(L"  Data:           %s\n", Hex(f.data));
    if (message_) {
        std::wstring message = *message_;
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
            message.pop_back();
        }
        text += kx::Format(L"  Message:        %s\n", Visible(message));
    }
    Write(kx::WideToUtf8(text) + "\n");
}

void CRecordPrinter::PrintJson(const EventLogRecordFields& f) {
    std::string out = printed_ ? ",\n  {" : "\n  {";
    out += "\"recordNumber\": " + std::to_string(f.recordNumber);
    out += ", \"timeGenerated\": \"" + FormatTime(f.timeGenerated, true) + "\"";
    out += ", \"timeGeneratedSeconds\": " + std::to_string(f.timeGenerated);
    out += ", \"timeWritten\": \"" + FormatTime(f.timeWritten, true) + "\"";
    out += ", \"eventId\": " + std::to_string(f.eventId);
    out += ", \"eventCode\": " + std::to_string(f.eventId & 0xFFFF);
    out += ", \"eventType\": " + std::to_string(f.eventType);
    out += ", \"category\": " + std::to_string(f.eventCategory);
    out += ", \"source\": " + JsonString(f.sourceName);
    out += ", \"computer\": " + JsonString(f.computerName);
    out += ", \"userSid\": " +
           (f.userSid.empty() ? std::string("null") : JsonString(SidText(f.userSid)));
    out += ", \"strings\": [";
    for (std::size_t i = 0; i < f.strings.size(); ++i)
        out += (i ? ", " : "") + JsonString(f.strings[i]);
    out += "], \"data\": \"" + Hex(f.data) + "\"";
    if (message_) out += ", \"message\": " + JsonString(*message_);
    out += "}";
    Write(out);
}
