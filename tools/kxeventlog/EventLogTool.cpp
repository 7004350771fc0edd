#include "EventLogTool.h"

#include <algorithm>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "RecordPrinter.h"
#include "ToolArguments.h"
#include "ToolError.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/Accounts.h"
#include "platform/ComputerName.h"
#include "platform/Process.h"
#include "platform/SystemMessage.h"
#ifndef _WIN32
#include "EvtxImporter.h"
#endif

namespace {

using namespace kx::platform;

constexpr const wchar_t* kDefaultLog = L"Security";
constexpr uint32_t kFirstListBuffer = 0x10000;

#ifdef _WIN32
constexpr bool kLinux = false;
#else
constexpr bool kLinux = true;
#endif

std::wstring PlatformError(uint32_t code) {
    return kx::Format(L"error %u, %s", code, kx::Trim(GetSystemErrorText(code)));
}

[[noreturn]] void FailPlatform(const std::wstring& what) {
    throw CToolError(kExitFailure, what + L": " + PlatformError(GetLastErrorCode()));
}

void RequireLinux(const std::wstring& what) {
    if (!kLinux)
        throw CToolError(kExitUsage, what + L" is offered on Linux only (see kxeventlog help)");
}

uint16_t ParseType(const std::wstring& text) {
    static const std::pair<const wchar_t*, uint16_t> kNames[] = {
        {L"success", 0},     {L"error", 1},         {L"warning", 2},
        {L"information", 4}, {L"audit-success", 8}, {L"audit-failure", 16}};
    for (const auto& [name, value] : kNames) {
        if (kx::EqualsNoCase(text, name)) return value;
    }
    return static_cast<uint16_t>(ParseToolNumber(L"--type", text, 0, 0xFFFF));
}

uint32_t ParseTime(const std::wstring& text) {
    if (!text.empty() && text.find_first_not_of(L"0123456789") == std::wstring::npos)
        return static_cast<uint32_t>(ParseToolNumber(L"--time", text, 0, 0xFFFFFFFF));
    // 2024-05-01T12:00:00Z, the T may be a blank and the Z may be missing.
    std::wstring stamp = text;
    if (!stamp.empty() && (stamp.back() == L'Z' || stamp.back() == L'z')) stamp.pop_back();
    const bool shaped = stamp.size() == 19 && stamp[4] == L'-' && stamp[7] == L'-' &&
                        (stamp[10] == L'T' || stamp[10] == L' ') && stamp[13] == L':' &&
                        stamp[16] == L':';
    if (!shaped)
        throw CToolError(kExitUsage, kx::Format(L"--time: '%s' is neither seconds since 1970 nor "
                                                L"a time such as 2024-05-01T12:00:00Z",
                                                text));
    kx::SystemTime time;
    time.year =
        static_cast<uint16_t>(ParseToolNumber(L"--time year", stamp.substr(0, 4), 1970, 2106));
    time.month = static_cast<uint16_t>(ParseToolNumber(L"--time month", stamp.substr(5, 2), 1, 12));
    time.day = static_cast<uint16_t>(ParseToolNumber(L"--time day", stamp.substr(8, 2), 1, 31));
    time.hour = static_cast<uint16_t>(ParseToolNumber(L"--time hour", stamp.substr(11, 2), 0, 23));
    time.minute =
        static_cast<uint16_t>(ParseToolNumber(L"--time minute", stamp.substr(14, 2), 0, 59));
    time.second =
        static_cast<uint16_t>(ParseToolNumber(L"--time second", stamp.substr(17, 2), 0, 59));
    int64_t seconds = kx::SystemTimeToUnixMilliseconds(time) / 1000;
    if (seconds > 0xFFFFFFFFll) throw CToolError(kExitUsage, L"--time: past the year 2106");
    return static_cast<uint32_t>(seconds);
}

std::vector<uint8_t> ParseHex(const std::wstring& text) {
    if (text.size() % 2 != 0 ||
        text.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
        throw CToolError(kExitUsage,
                         L"--data: '" + text + L"' is not an even number of hex digits");
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(
            static_cast<uint8_t>(ParseToolNumber(L"--data", L"0x" + text.substr(i, 2), 0, 255)));
    return bytes;
}

std::vector<uint8_t> ParseSid(const CToolArguments& arguments) {
    if (!arguments.Has(L"sid")) return {};
    kx::platform::SidBytes sid;
    if (kx::platform::ConvertStringToSid(arguments.Text(L"sid", L""), sid) != 0)
        throw CToolError(kExitUsage, L"--sid: '" + arguments.Text(L"sid", L"") + L"' is not a SID");
    return sid;
}

uint32_t NowSeconds() {
    return static_cast<uint32_t>(kx::SystemTimeToUnixMilliseconds(GetClock().GetSystemTime()) /
                                 1000);
}

}  // namespace

std::wstring CEventLogTool::HelpText() {
    return LR"(kxeventlog - writes and reads event logs through the agent's event log port.

Usage: kxeventlog COMMAND [OPTIONS]

Commands:
  write   Write one record.
            --source NAME    event source (required)
            --id ID          event identifier with its qualifier bits, such as 4624
                             or 0x40000011 (required)
            --type TYPE      1 error, 2 warning, 4 information (the default),
                             8 audit success, 16 audit failure, or one of the names
                             error, warning, information, success, audit-success,
                             audit-failure
            --category N     0 to 65535 (default 0)
            --sid SID        the user SID, such as S-1-5-18
            --data HEX       raw data as hexadecimal bytes
            --log NAME       (Linux) the log to write to (default Security)
            --time TIME      (Linux) the time generated: seconds since 1970, or a UTC
                             time such as 2024-05-01T12:00:00Z (default now)
            --computer NAME  (Linux) the computer name (default this computer's)
          The insertion strings follow, in order ("--" before them if one of
          them begins with "--").
  list    Print the records, oldest first, as text or (--json) as a JSON array.
            --log NAME  --from RECORD  --max COUNT  --json
  info    Print the oldest record number and the number of records.
            --log NAME  --json
  clear   Remove every record; the numbering starts again at 1.  --log NAME
  trim    (Linux) Keep only the newest records.  --keep COUNT  --log NAME
  import  (Linux) Append the records of .evtx files recorded on Windows, so that
          a real log can be replayed through the agent.
            --log NAME  --shift-to-now | --end-at TIME  FILE.evtx...
          --shift-to-now moves all times by one amount so that the newest record
          was generated now; --end-at TIME (as for write --time), so that it was
          generated then. Event type: 8 or 16 from the Keywords (audit success
          or failure), else from the level; source: the provider; insertion
          strings: the EventData values in order; time: System/TimeCreated;
          category: System/Task. Nothing is written unless every file reads.
  help    Print this text.

The log is "Security" unless --log names another.

Platforms:
  Linux    every command. Each log is the classic .evt file
           <machine root>/EventLogs/<log>.evt; the machine root is
           $KX_MACHINE_ROOT, else /var/lib/korvex/machine for root, else
           ~/.local/state/korvex/machine.
  Windows  write (through ReportEventW: to the log the source is registered
           in, at the current time, with this computer's name), list, info and
           clear. trim, import and the write options --log, --time and
           --computer are Linux features.

Exit codes: 0 success; 1 an operation or an input file failed; 2 the command
line is wrong.
)";
}

int CEventLogTool::Run(const std::vector<std::wstring>& arguments) {
    try {
        CToolArguments parsed(arguments, {L"json", L"shift-to-now"});
        const std::wstring& command = parsed.Command();
        if (command.empty() || command == L"help" || command == L"--help" || command == L"-h") {
            Print(HelpText());
            return command.empty() ? kExitUsage : 0;
        }
        if (command == L"write") {
            Write(parsed);
        } else if (command == L"list") {
            List(parsed);
        } else if (command == L"info") {
            Info(parsed);
        } else if (command == L"clear") {
            Clear(parsed);
        } else if (command == L"trim") {
            Trim(parsed);
        } else if (command == L"import") {
            Import(parsed);
        } else {
            throw CToolError(kExitUsage,
                             L"unknown command '" + command + L"' (see kxeventlog help)");
        }
        return 0;
    } catch (const CToolError& error) {
        std::fprintf(err_, "kxeventlog: %s\n", error.what());
        return error.ExitCode();
    } catch (const std::exception& error) {
        std::fprintf(err_, "kxeventlog: %s\n", error.what());
        return kExitFailure;
    }
}

void CEventLogTool::Print(const std::wstring& text) {
    std::string bytes = kx::WideToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
}

EventLogHandle CEventLogTool::OpenLog(const std::wstring& logName) {
    EventLogHandle log = eventLog_.Open(nullptr, logName.c_str());
    if (!log) FailPlatform(L"cannot open the '" + logName + L"' event log");
    return log;
}

void CEventLogTool::Write(const CToolArguments& arguments) {
    arguments.AllowOnly(
        {L"source", L"id", L"type", L"category", L"sid", L"data", L"log", L"time", L"computer"});
    if (!kLinux) {
        for (const wchar_t* option : {L"log", L"time", L"computer"}) {
            if (arguments.Has(option)) RequireLinux(kx::Format(L"write --%s", option));
        }
        WriteThroughSource(arguments);
        return;
    }
    EventLogRecordFields fields;
    fields.sourceName = arguments.RequiredText(L"source");
    fields.eventId = static_cast<uint32_t>(
        ParseToolNumber(L"--id", arguments.RequiredText(L"id"), 0, 0xFFFFFFFF));
    fields.eventType = ParseType(arguments.Text(L"type", L"4"));
    fields.eventCategory =
        static_cast<uint16_t>(arguments.Number(L"category", 0, 0xFFFF).value_or(0));
    fields.userSid = ParseSid(arguments);
    fields.data = ParseHex(arguments.Text(L"data", L""));
    fields.computerName = arguments.Text(L"computer", GetLocalComputerName());
    fields.strings = arguments.Plain();
    if (fields.strings.size() > 0xFFFF) throw CToolError(kExitUsage, L"too many insertion strings");
    fields.timeGenerated =
        arguments.Has(L"time") ? ParseTime(arguments.Text(L"time", L"")) : NowSeconds();
    fields.timeWritten = NowSeconds();
    std::vector<uint8_t> record = BuildEventLogRecord(fields);
    if (record.size() > kMaximumEventLogReadSize)
        throw CToolError(kExitUsage, L"the record would be larger than an event log read can hold");
    const std::wstring log = arguments.Text(L"log", kDefaultLog);
    uint32_t number = 0;
    if (!AppendEventLogRecords(log, {record}, &number))
        FailPlatform(L"cannot write to the '" + log + L"' event log");
    Print(kx::Format(L"Wrote record %u to the '%s' log.\n", number, log));
}

void CEventLogTool::WriteThroughSource(const CToolArguments& arguments) {
    const std::wstring source = arguments.RequiredText(L"source");
    const auto eventId = static_cast<uint32_t>(
        ParseToolNumber(L"--id", arguments.RequiredText(L"id"), 0, 0xFFFFFFFF));
    const uint16_t type = ParseType(arguments.Text(L"type", L"4"));
    const auto category =
        static_cast<uint16_t>(arguments.Number(L"category", 0, 0xFFFF).value_or(0));
    std::vector<uint8_t> sid = ParseSid(arguments);
    std::vector<uint8_t> data = ParseHex(arguments.Text(L"data", L""));
    const std::vector<std::wstring>& strings = arguments.Plain();
    if (strings.size() > 0xFFFF) throw CToolError(kExitUsage, L"too many insertion strings");
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& text : strings) pointers.push_back(text.c_str());
    EventSourceHandle handle = eventLog_.RegisterSource(nullptr, source.c_str());
    if (!handle) FailPlatform(L"cannot register the event source '" + source + L"'");
    bool ok =
        eventLog_.Report(handle, type, category, eventId, sid.empty() ? nullptr : sid.data(),
                         static_cast<uint16_t>(pointers.size()), pointers.data(),
                         static_cast<uint32_t>(data.size()), data.empty() ? nullptr : data.data());
    uint32_t error = GetLastErrorCode();
    eventLog_.DeregisterSource(handle);
    SetLastErrorCode(error);
    if (!ok) FailPlatform(L"cannot report the event under '" + source + L"'");
    Print(L"Reported the event under the source '" + source + L"'.\n");
}

void CEventLogTool::List(const CToolArguments& arguments) {
    arguments.AllowOnly({L"log", L"from", L"max", L"json"});
    const std::wstring logName = arguments.Text(L"log", kDefaultLog);
    const std::optional<uint64_t> from = arguments.Number(L"from", 1, 0xFFFFFFFF);
    const uint64_t max = arguments.Number(L"max", 0, 0xFFFFFFFF).value_or(UINT64_MAX);
    EventLogHandle log = OpenLog(logName);
    CRecordPrinter printer(out_, arguments.Flag(L"json"));
    // The texts come from the message files the sources registered.
    CLookupCache lookups;
    std::vector<uint8_t> buffer(kFirstListBuffer);
    uint64_t printed = 0;
    bool seek = from.has_value();
    printer.Begin();
    while (printed < max) {
        uint32_t read = 0;
        uint32_t needed = 0;
        const uint32_t flags =
            (seek ? kEventLogSeekRead : kEventLogSequentialRead) | kEventLogForwardsRead;
        if (!eventLog_.Read(log, flags, seek ? static_cast<uint32_t>(*from) : 0, buffer.data(),
                            static_cast<uint32_t>(buffer.size()), &read, &needed)) {
            const uint32_t error = GetLastErrorCode();
            if (error == kErrorInsufficientBuffer && needed > buffer.size()) {
                buffer.resize(needed);
                continue;
            }
            if (error == kErrorHandleEof) break;
            eventLog_.Close(log);
            SetLastErrorCode(error);
            FailPlatform(L"cannot read the '" + logName + L"' event log");
        }
        seek = false;
        for (uint32_t at = 0; at < read && printed < max; ++printed) {
            CEventLogRecord record(buffer.data() + at, read - at);
            if (!record.IsValid())
                throw CToolError(kExitFailure, L"the log returned a damaged record");
            CEventLogEntry entry(lookups.LocalComputerName(), L"", logName, record.Bytes(), false,
                                 lookups);
            const std::wstring message = entry.GetMessageText();
            printer.Print(record, &message);
            at += record.Length();
        }
    }
    printer.End();
    eventLog_.Close(log);
}

void CEventLogTool::Info(const CToolArguments& arguments) {
    arguments.AllowOnly({L"log", L"json"});
    const std::wstring logName = arguments.Text(L"log", kDefaultLog);
    EventLogHandle log = OpenLog(logName);
    uint32_t oldest = 0;
    uint32_t count = 0;
    bool ok = eventLog_.GetOldestRecord(log, &oldest) && eventLog_.GetNumberOfRecords(log, &count);
    uint32_t error = GetLastErrorCode();
    eventLog_.Close(log);
    SetLastErrorCode(error);
    if (!ok) FailPlatform(L"cannot read the '" + logName + L"' event log");
    const std::wstring file = GetEventLogFilePath(logName);
    const std::wstring newest = count ? kx::Format(L"%u", oldest + count - 1) : L"";
    if (arguments.Flag(L"json")) {
        Print(L"{\"log\": " + kx::Utf8ToWide(CRecordPrinter::JsonString(logName)) +
              L", \"file\": " +
              (file.empty() ? L"null" : kx::Utf8ToWide(CRecordPrinter::JsonString(file))) +
              kx::Format(L", \"oldest\": %u, \"count\": %u, \"newest\": %s}\n", oldest, count,
                         newest.empty() ? L"null" : newest));
        return;
    }
    Print(kx::Format(L"Log:               %s\n", logName));
    if (!file.empty()) Print(kx::Format(L"File:              %s\n", file));
    Print(kx::Format(L"Oldest record:     %u\nNumber of records: %u\nNewest record:     %s\n",
                     oldest, count, newest.empty() ? L"-" : newest));
}

void CEventLogTool::Clear(const CToolArguments& arguments) {
    arguments.AllowOnly({L"log"});
    const std::wstring logName = arguments.Text(L"log", kDefaultLog);
    EventLogHandle log = OpenLog(logName);
    bool ok = eventLog_.Clear(log);
    uint32_t error = GetLastErrorCode();
    eventLog_.Close(log);
    SetLastErrorCode(error);
    if (!ok) FailPlatform(L"cannot clear the '" + logName + L"' event log");
    Print(L"Cleared the '" + logName + L"' log.\n");
}

void CEventLogTool::Trim(const CToolArguments& arguments) {
    RequireLinux(L"trim");
    arguments.AllowOnly({L"log", L"keep"});
    const std::wstring logName = arguments.Text(L"log", kDefaultLog);
    const auto keep = static_cast<uint32_t>(
        ParseToolNumber(L"--keep", arguments.RequiredText(L"keep"), 0, 0xFFFFFFFF));
    if (!TrimEventLog(logName, keep)) FailPlatform(L"cannot trim the '" + logName + L"' event log");
    Print(kx::Format(L"Kept at most the newest %u records of the '%s' log.\n", keep, logName));
}

void CEventLogTool::Import(const CToolArguments& arguments) {
    RequireLinux(L"import");
    arguments.AllowOnly({L"log", L"shift-to-now", L"end-at"});
#ifndef _WIN32
    const std::wstring logName = arguments.Text(L"log", kDefaultLog);
    if (arguments.Plain().empty())
        throw CToolError(kExitUsage, L"import needs at least one .evtx file");
    std::vector<EventLogRecordFields> all;
    for (const std::wstring& path : arguments.Plain()) {
        std::vector<EventLogRecordFields> records = CEvtxImporter::ReadFile(kx::WideToUtf8(path));
        all.insert(all.end(), records.begin(), records.end());
    }
    const std::wstring endAt = arguments.Text(L"end-at", L"");
    if (arguments.Flag(L"shift-to-now") && !endAt.empty())
        throw CToolError(kExitUsage, L"import takes --shift-to-now or --end-at, not both");
    if ((arguments.Flag(L"shift-to-now") || !endAt.empty()) && !all.empty()) {
        uint32_t newest = 0;
        for (const auto& fields : all) newest = std::max(newest, fields.timeGenerated);
        const int64_t end = endAt.empty() ? int64_t{NowSeconds()} : int64_t{ParseTime(endAt)};
        const int64_t shift = end - newest;
        for (auto& fields : all) {
            fields.timeGenerated = static_cast<uint32_t>(fields.timeGenerated + shift);
            fields.timeWritten = static_cast<uint32_t>(fields.timeWritten + shift);
        }
    }
    std::vector<std::vector<uint8_t>> records;
    for (const auto& fields : all) records.push_back(BuildEventLogRecord(fields));
    uint32_t first = 0;
    if (!AppendEventLogRecords(logName, records, &first))
        FailPlatform(L"cannot write to the '" + logName + L"' event log");
    if (records.empty()) {
        Print(L"The files hold no records.\n");
        return;
    }
    Print(kx::Format(L"Imported %u records from %u files into the '%s' log (records %u to %u).\n",
                     records.size(), arguments.Plain().size(), logName, first,
                     first + static_cast<uint32_t>(records.size()) - 1));
#endif
}
