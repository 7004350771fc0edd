// A record of a recorded Windows Security log, imported by the event log
// tool and read back through the event log port, as the agent sees it: its
// insertion strings exactly as Windows wrote them, their parameter
// references expanded through the publisher's parameter file, its message.

#include <gtest/gtest.h>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/LookupCache.h"
#include "MessageSources.h"
#include "RecordedLogon.h"
#include "ToolRunner.h"
#include "common/SystemTime.h"
#include "common/Text.h"
#include "platform/EventLog.h"
#include "platform/Files.h"

namespace {

using namespace kx::platform;

constexpr const wchar_t* kAuditing = L"Microsoft-Windows-Security-Auditing";

// The bytes of the first record of the local Security log.
std::vector<uint8_t> FirstSecurityRecord() {
    IEventLog& log = GetEventLog();
    EventLogHandle handle = log.Open(nullptr, L"Security");
    std::vector<uint8_t> buffer(kMaximumEventLogReadSize);
    uint32_t read = 0;
    uint32_t needed = 0;
    bool ok = log.Read(handle, kEventLogSequentialRead | kEventLogForwardsRead, 0, buffer.data(),
                       static_cast<uint32_t>(buffer.size()), &read, &needed);
    log.Close(handle);
    if (!ok) return {};
    buffer.resize(CEventLogRecord(buffer.data(), read).Length());
    return buffer;
}

TEST(RecordedEntry, ALogonOfARecordedLogAsTheAgentSeesIt) {
    CMessageSources sources;
    sources.RegisterPublisher(kAuditing, L"ParameterFileName",
                              sources.Install(L"kx_parameter_messages.dll"));
    sources.RegisterPublisher(kAuditing, L"MessageFileName",
                              sources.Install(L"kx_event_messages.dll"));
    const std::filesystem::path file = RecordedLogsDir() / "pwd_reset_4724_4738.evtx";
    ASSERT_TRUE(std::filesystem::exists(file)) << "no recorded logs at " << RecordedLogsDir();
    ASSERT_EQ(
        RunTool("import " + Quote(file.string()), ToNativePath(sources.MachineRoot())).exitCode, 0);

    std::vector<uint8_t> record = FirstSecurityRecord();
    ASSERT_FALSE(record.empty());
    CLookupCache cache;
    CEventLogEntry entry(cache.LocalComputerName(), L"offsec.lan", L"Security", record.data(),
                         false, cache);
    EXPECT_EQ(entry.GetEventId(), 4624);
    EXPECT_EQ(entry.GetEventType(), 8);
    EXPECT_EQ(entry.GetSourceName(), kAuditing);
    EXPECT_EQ(entry.GetUserSid(), nullptr);
    std::vector<std::wstring> raw;
    entry.GetStrings(raw, false);
    EXPECT_EQ(raw, RecordedLogonStrings());

    // The logon's "%%1843" is the parameter file's "No"; references the
    // file lacks, and texts without references, stay as Windows wrote them.
    std::vector<std::wstring> expected = RecordedLogonStrings();
    expected[24] = L"No";
    std::vector<std::wstring> expanded;
    entry.GetStrings(expanded, true);
    EXPECT_EQ(expanded, expected);

    std::wstring text = entry.GetMessageText();
    EXPECT_EQ(text.rfind(L"An account was successfully logged on.\r\n", 0), 0u)
        << kx::WideToUtf8(text);
    EXPECT_NE(text.find(L"\tAccount Name:\t\tadmmig\r\n\tAccount Domain:\t\tOFFSEC.LAN\r\n"),
              std::wstring::npos);

    kx::SystemTime created{2021, 12, 6, 4, 22, 9, 13, 0};
    EXPECT_EQ(entry.GetTimeGenerated(true), kx::SystemTimeToUnixMilliseconds(created) / 1000);
}

}  // namespace
