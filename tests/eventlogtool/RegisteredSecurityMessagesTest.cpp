// The recorded Security logs imported on a machine on which the register
// script installed the project's own Security message file: the agent's view
// of their records has readable texts with the records' values in place.

#include <gtest/gtest.h>

#include <map>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "TempDirectory.h"
#include "ToolRunner.h"
#include "common/Text.h"
#include "platform/EventLog.h"
#include "platform/MachineRoot.h"

namespace {

using namespace kx::platform;

class RegisteredSecurityMessagesTest : public ::testing::Test {
protected:
    void SetUp() override { SetMachineRootForTesting(dir_.WidePath()); }
    void TearDown() override { SetMachineRootForTesting(L""); }

    // The bytes of the first record of each event code in the Security log.
    std::map<uint16_t, std::vector<uint8_t>> FirstRecordOfEachCode() {
        std::map<uint16_t, std::vector<uint8_t>> records;
        IEventLog& log = GetEventLog();
        EventLogHandle handle = log.Open(nullptr, L"Security");
        std::vector<uint8_t> buffer(kMaximumEventLogReadSize);
        uint32_t read = 0;
        uint32_t needed = 0;
        while (log.Read(handle, kEventLogSequentialRead | kEventLogForwardsRead, 0, buffer.data(),
                        static_cast<uint32_t>(buffer.size()), &read, &needed)) {
            for (uint32_t at = 0; at < read;) {
                CEventLogRecord record(buffer.data() + at, read - at);
                const uint8_t* start = buffer.data() + at;
                records.try_emplace(static_cast<uint16_t>(record.EventId() & 0xFFFF), start,
                                    start + record.Length());
                at += record.Length();
            }
        }
        log.Close(handle);
        return records;
    }

    CTempDirectory dir_;
};

TEST_F(RegisteredSecurityMessagesTest, ImportedRecordsReadAsTheTextsOfTheRegisteredFile) {
    for (const char* name : {"acct_lifecycle_hidden_user.evtx", "user_changed_spn_4738_5136.evtx"})
        ASSERT_EQ(
            RunTool("import " + Quote((RecordedLogsDir() / name).string()), dir_.Path()).exitCode,
            0);
    ToolResult registered =
        RunProgram("env",
                   "KXREG=" + Quote(KX_KXREG) + " " + Quote(KX_REGISTER_SCRIPT) + " " +
                       Quote(dir_.Path().string()) + " " + Quote(KX_SECURITY_MESSAGES),
                   dir_.Path());
    ASSERT_EQ(registered.exitCode, 0) << registered.err;

    std::map<uint16_t, std::vector<uint8_t>> records = FirstRecordOfEachCode();
    CLookupCache cache;
    auto message = [&](uint16_t code) {
        CEventLogEntry entry(cache.LocalComputerName(), L"offsec.lan", L"Security",
                             records[code].data(), false, cache);
        return entry.GetMessageText();
    };
    // The account and directory events of the two logs (their 4656, 4660
    // and 4688 are none of the file's).
    for (uint16_t code : {1102, 4720, 4722, 4724, 4726, 4728, 4729, 4732, 4733, 4738, 5136}) {
        ASSERT_EQ(records.count(code), 1u) << code;
        const std::wstring text = message(code);
        EXPECT_EQ(text.find(L"cannot be found"), std::wstring::npos)
            << code << ": " << kx::WideToUtf8(text);
        EXPECT_EQ(text.find(L"%%"), std::wstring::npos) << code << ": " << kx::WideToUtf8(text);
    }
    // 1102 comes from the event log's own publisher, registered as well.
    EXPECT_NE(message(1102).find(L"\tAccount Name:\t\tadmmig\r\n"), std::wstring::npos);
    const std::wstring created = message(4720);
    EXPECT_NE(created.find(L"New account:\r\n\tSecurity ID:\t\t"
                           L"S-1-5-21-2721507831-1374043488-2540227515-1008\r\n"
                           L"\tAccount Name:\t\t3teamssixf$\r\n"),
              std::wstring::npos)
        << kx::WideToUtf8(created);
    const std::wstring modified = message(5136);
    EXPECT_NE(modified.find(L"servicePrincipalName"), std::wstring::npos);
    EXPECT_NE(modified.find(L"Operation:\r\n\tType:\tValue added\r\n"), std::wstring::npos)
        << kx::WideToUtf8(modified);
}

}  // namespace
