#include "EvtxImporter.h"

#include <libevtx.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "ToolError.h"
#include "common/Format.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/Accounts.h"

namespace {

constexpr uint64_t kKeywordAuditFailure = 0x0010000000000000ull;
constexpr uint64_t kKeywordAuditSuccess = 0x0020000000000000ull;

// A classic record holds its times as 32-bit seconds since 1970.
bool FitsRecordTime(int64_t seconds) {
    return seconds >= 0 && seconds <= static_cast<int64_t>(UINT32_MAX);
}

std::wstring ErrorText(libevtx_error_t* error) {
    if (!error) return L"libevtx found it inconsistent";
    char text[1024] = {};
    libevtx_error_sprint(error, text, sizeof text);
    libevtx_error_free(&error);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '.'))
        message.pop_back();
    return kx::Utf8ToWide(message);
}

[[noreturn]] void Fail(const std::string& path, const std::wstring& what, libevtx_error_t* error) {
    throw CToolError(kExitFailure,
                     kx::Format(L"%s: %s (%s)", kx::Utf8ToWide(path), what, ErrorText(error)));
}

struct FileCloser {
    void operator()(libevtx_file_t* file) const {
        libevtx_file_close(file, nullptr);
        libevtx_file_free(&file, nullptr);
    }
};
struct RecordFreer {
    void operator()(libevtx_record_t* record) const { libevtx_record_free(&record, nullptr); }
};
using File = std::unique_ptr<libevtx_file_t, FileCloser>;
using Record = std::unique_ptr<libevtx_record_t, RecordFreer>;

// One UTF-8 value through libevtx's size-then-value pair of calls; "" when
// the record does not have it.
template <typename SizeCall, typename ValueCall>
std::string Utf8Value(SizeCall sizeCall, ValueCall valueCall, libevtx_error_t** error,
                      bool* failed) {
    size_t size = 0;
    int result = sizeCall(&size, error);
    if (result == 0 || (result == 1 && size == 0)) return std::string();
    std::string value(size, '\0');
    if (result != 1 || valueCall(reinterpret_cast<uint8_t*>(value.data()), size, error) != 1) {
        *failed = true;
        return std::string();
    }
    value.resize(size - 1);  // the size counts the terminating NUL
    return value;
}

std::string SystemPart(const std::string& xml) {
    std::size_t start = xml.find("<System>");
    std::size_t end = xml.find("</System>");
    if (start == std::string::npos || end == std::string::npos || end < start) return std::string();
    return xml.substr(start, end - start);
}

bool ElementText(const std::string& xml, const std::string& name, std::string* text) {
    std::string system = SystemPart(xml);
    std::size_t start = system.find("<" + name + ">");
    if (start == std::string::npos) return false;
    start += name.size() + 2;
    std::size_t end = system.find("</" + name + ">", start);
    if (end == std::string::npos) return false;
    *text = system.substr(start, end - start);
    return true;
}

bool ParseUnsigned(const std::string& text, int base, uint64_t* value) {
    if (text.empty()) return false;
    uint64_t result = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'                 ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
        if (digit < 0) return false;
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    *value = result;
    return true;
}

EventLogRecordFields ReadRecord(libevtx_record_t* record, const std::string& path, int index) {
    libevtx_error_t* error = nullptr;
    bool failed = false;
    EventLogRecordFields fields;
    uint32_t identifier = 0;
    uint32_t qualifiers = 0;
    uint8_t level = 0;
    uint64_t written = 0;
    if (libevtx_record_get_event_identifier(record, &identifier, &error) != 1 ||
        libevtx_record_get_event_identifier_qualifiers(record, &qualifiers, &error) == -1 ||
        libevtx_record_get_event_level(record, &level, &error) != 1 ||
        libevtx_record_get_written_time(record, &written, &error) != 1)
        Fail(path, kx::Format(L"record %d cannot be read", index + 1), error);
    fields.eventId = (qualifiers << 16) | (identifier & 0xFFFF);
    auto value = [&](auto sizeCall, auto valueCall) {
        return Utf8Value(
            [&](size_t* size, libevtx_error_t** e) { return sizeCall(record, size, e); },
            [&](uint8_t* out, size_t size, libevtx_error_t** e) {
                return valueCall(record, out, size, e);
            },
            &error, &failed);
    };
    fields.sourceName = kx::Utf8ToWide(
        value(libevtx_record_get_utf8_source_name_size, libevtx_record_get_utf8_source_name));
    fields.computerName = kx::Utf8ToWide(
        value(libevtx_record_get_utf8_computer_name_size, libevtx_record_get_utf8_computer_name));
    std::string sid = value(libevtx_record_get_utf8_user_security_identifier_size,
                            libevtx_record_get_utf8_user_security_identifier);
    std::string xml =
        value(libevtx_record_get_utf8_xml_string_size, libevtx_record_get_utf8_xml_string);
    int count = 0;
    if (failed || libevtx_record_get_number_of_strings(record, &count, &error) == -1)
        Fail(path, kx::Format(L"record %d cannot be read", index + 1), error);
    for (int i = 0; i < count; ++i) {
        std::string text = Utf8Value(
            [&](size_t* size, libevtx_error_t** e) {
                return libevtx_record_get_utf8_string_size(record, i, size, e);
            },
            [&](uint8_t* out, size_t size, libevtx_error_t** e) {
                return libevtx_record_get_utf8_string(record, i, out, size, e);
            },
            &error, &failed);
        if (failed) Fail(path, kx::Format(L"record %d cannot be read", index + 1), error);
        fields.strings.push_back(kx::Utf8ToWide(text));
    }
    if (!sid.empty()) {
        kx::platform::SidBytes binary;
        if (kx::platform::ConvertStringToSid(kx::Utf8ToWide(sid), binary) == 0)
            fields.userSid = binary;
    }
    uint64_t keywords = 0;
    CEvtxImporter::ReadKeywords(xml, &keywords);
    fields.eventType = CEvtxImporter::EventTypeFrom(keywords, level);
    CEvtxImporter::ReadTask(xml, &fields.eventCategory);
    CEvtxImporter::SetTimes(written, xml, &fields);
    return fields;
}

}  // namespace

uint16_t CEvtxImporter::EventTypeFrom(uint64_t keywords, uint8_t level) {
    if (keywords & kKeywordAuditSuccess) return kx::eventlog::kEventTypeAuditSuccess;
    if (keywords & kKeywordAuditFailure) return kx::eventlog::kEventTypeAuditFailure;
    if (level == 1 || level == 2) return kx::eventlog::kEventTypeError;
    if (level == 3) return kx::eventlog::kEventTypeWarning;
    return kx::eventlog::kEventTypeInformation;
}

void CEvtxImporter::SetTimes(uint64_t writtenFileTime, const std::string& xml,
                             EventLogRecordFields* fields) {
    const int64_t written = kx::FileTimeToUnixSeconds(static_cast<int64_t>(writtenFileTime));
    int64_t created = written;
    ReadTimeCreated(xml, &created);
    fields->timeGenerated = static_cast<uint32_t>(std::clamp<int64_t>(created, 0, UINT32_MAX));
    fields->timeWritten =
        FitsRecordTime(written) ? static_cast<uint32_t>(written) : fields->timeGenerated;
}

bool CEvtxImporter::ReadKeywords(const std::string& xml, uint64_t* keywords) {
    std::string text;
    if (!ElementText(xml, "Keywords", &text) || text.size() < 3 || text.compare(0, 2, "0x") != 0)
        return false;
    return ParseUnsigned(text.substr(2), 16, keywords);
}

bool CEvtxImporter::ReadTask(const std::string& xml, uint16_t* task) {
    std::string text;
    uint64_t value = 0;
    if (!ElementText(xml, "Task", &text) || !ParseUnsigned(text, 10, &value) || value > 0xFFFF)
        return false;
    *task = static_cast<uint16_t>(value);
    return true;
}

bool CEvtxImporter::ReadTimeCreated(const std::string& xml, int64_t* seconds) {
    // <TimeCreated SystemTime="2021-12-04T22:09:13.666427500Z"/>
    std::string system = SystemPart(xml);
    const std::string marker = "<TimeCreated SystemTime=\"";
    std::size_t at = system.find(marker);
    if (at == std::string::npos || system.size() < at + marker.size() + 19) return false;
    std::string stamp = system.substr(at + marker.size(), 19);
    uint64_t parts[6] = {};
    const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < 6; ++i) {
        if (!ParseUnsigned(stamp.substr(starts[i], lengths[i]), 10, &parts[i])) return false;
    }
    kx::SystemTime time;
    time.year = static_cast<uint16_t>(parts[0]);
    time.month = static_cast<uint16_t>(parts[1]);
    time.day = static_cast<uint16_t>(parts[2]);
    time.hour = static_cast<uint16_t>(parts[3]);
    time.minute = static_cast<uint16_t>(parts[4]);
    time.second = static_cast<uint16_t>(parts[5]);
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
        time.minute > 59 || time.second > 59)
        return false;
    *seconds = kx::SystemTimeToUnixMilliseconds(time) / 1000;
    return true;
}

std::vector<EventLogRecordFields> CEvtxImporter::ReadFile(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored))
        throw CToolError(kExitFailure, kx::Format(L"%s: no such file", kx::Utf8ToWide(path)));
    libevtx_error_t* error = nullptr;
    libevtx_file_t* raw = nullptr;
    if (libevtx_file_initialize(&raw, &error) != 1) Fail(path, L"cannot be read", error);
    File file(raw);
    if (libevtx_file_open(raw, path.c_str(), LIBEVTX_OPEN_READ, &error) != 1) {
        libevtx_file_free(&raw, nullptr);
        file.release();
        Fail(path, L"is not an .evtx file", error);
    }
    // A truncated or damaged file still opens, with fewer records or none.
    int corrupted = libevtx_file_is_corrupted(raw, &error);
    if (corrupted != 0) Fail(path, L"is damaged or truncated", corrupted < 0 ? error : nullptr);
    int count = 0;
    if (libevtx_file_get_number_of_records(raw, &count, &error) != 1)
        Fail(path, L"cannot be read", error);
    // Records that libevtx recovers from free space are deleted ones: left out.
    std::vector<EventLogRecordFields> records;
    for (int i = 0; i < count; ++i) {
        libevtx_record_t* record = nullptr;
        if (libevtx_file_get_record_by_index(raw, i, &record, &error) != 1)
            Fail(path, kx::Format(L"record %d cannot be read", i + 1), error);
        Record owner(record);
        records.push_back(ReadRecord(record, path, i));
    }
    return records;
}
