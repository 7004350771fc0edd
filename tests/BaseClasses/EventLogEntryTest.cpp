// A record as the collector delivers it: its fields, the insertion strings
// raw and expanded, the user SID and account, the time generated, the
// message text, and records that lie about their strings and SID.

#include "BaseClasses/EventLogEntry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "FailingAllocator.h"
#include "MessageSources.h"
#include "TempDirectory.h"
#include "common/Format.h"
#include "common/SystemTime.h"
#include "platform/Accounts.h"
#include "platform/Process.h"
#include "platform/Time.h"

namespace {

using kx::eventlog::kOffsetStringOffset;
using kx::eventlog::kOffsetUserSidOffset;

constexpr const wchar_t* kSource = L"KxEntrySource";
constexpr const wchar_t* kDescription =
    L"The description for Event ID ( %d ) in Source ( %s ) cannot be found. The following "
    L"information is part of the event:\r\n";

std::vector<uint8_t> SidOf(const std::wstring& text) {
    kx::platform::SidBytes sid;
    kx::platform::ConvertStringToSid(text, sid);
    return sid;
}

class EventLogEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        sources_.RegisterSource(kSource, L"EventMessageFile",
                                sources_.Install(L"kx_event_messages.dll"));
        sources_.RegisterSource(kSource, L"ParameterMessageFile",
                                sources_.Install(L"kx_parameter_messages.dll"));
    }

    static EventLogRecordFields Fields(uint32_t eventId, std::vector<std::wstring> strings,
                                       const std::wstring& source = kSource) {
        EventLogRecordFields fields;
        fields.eventId = eventId;
        fields.eventType = kx::eventlog::kEventTypeAuditSuccess;
        fields.sourceName = source;
        fields.computerName = L"WKS01.corp.example";
        fields.strings = std::move(strings);
        return fields;
    }

    // The record is kept in a buffer of exactly its Length, so a read past
    // it is caught by the address sanitizer.
    CEventLogEntry& Entry(const EventLogRecordFields& fields) {
        return Entry(BuildEventLogRecord(fields));
    }
    CEventLogEntry& Entry(std::vector<uint8_t> bytes) {
        record_ = std::move(bytes);
        entry_.emplace(cache_.LocalComputerName(), L"corp.example", CMessageSources::kLog,
                       record_.data(), false, cache_);
        return *entry_;
    }

    std::wstring Expand(const std::wstring& text) {
        return Entry(Fields(4624, {text})).GetString(0, true);
    }

    CMessageSources sources_;
    CLookupCache cache_;
    std::vector<uint8_t> record_;
    std::optional<CEventLogEntry> entry_;
};

TEST_F(EventLogEntryTest, FieldsOfTheRecord) {
    CEventLogEntry& entry = Entry(Fields(0x40001000, {L"a", L"b"}));
    EXPECT_EQ(entry.GetEventId(), 4096) << "severity bits 01 and code 4096";
    EXPECT_EQ(entry.GetMessageId(), 0x40001000u);
    EXPECT_EQ(entry.GetEventType(), kx::eventlog::kEventTypeAuditSuccess);
    EXPECT_EQ(entry.GetSourceName(), kSource);
    EXPECT_EQ(entry.GetStringCount(), 2);
    std::vector<std::wstring> strings = {L"before"};
    entry.GetStrings(strings, false);
    EXPECT_EQ(strings, (std::vector<std::wstring>{L"before", L"a", L"b"}));
    EXPECT_THROW(entry.GetString(2, false), std::out_of_range);
}

TEST_F(EventLogEntryTest, ParameterReferencesExpandToTheirTrimmedText) {
    EXPECT_EQ(Expand(L"%%1833"), L"Yes");
    EXPECT_EQ(Expand(L"%%1833 %%1833"), L"Yes Yes");
    EXPECT_EQ(Expand(L"%%1833."), L"Yes.");
    EXPECT_EQ(Expand(L"%%1793\r\n\t\t%%1843"), L"%%1793\r\n\t\tNo");
    // A reference that is the beginning of another is replaced only where
    // it stands as a whole token.
    EXPECT_EQ(Expand(L"%%18 %%1833"), L"Eighteen Yes");
    EXPECT_EQ(Expand(L"%%1833 %%18"), L"Yes Eighteen");
    // Without digits, or with a number beyond any message identifier, a
    // token is not a reference.
    EXPECT_EQ(Expand(L"%%x"), L"%%x");
    EXPECT_EQ(Expand(L"%%99999999999"), L"%%99999999999");
    // Digits followed by other characters read the digits.
    EXPECT_EQ(Expand(L"%%1833abc"), L"Yes");
}

TEST_F(EventLogEntryTest, SidAndGuidReferencesExpand) {
    EXPECT_EQ(Expand(L"%{S-1-5-18}"), L"NT AUTHORITY\\SYSTEM");
    EXPECT_EQ(Expand(L"by %{S-1-5-18}; for %{S-1-5-32-544}"),
              L"by NT AUTHORITY\\SYSTEM; for BUILTIN\\Administrators");
    EXPECT_EQ(Expand(L"%{S-1-5-21-1-2-3-987654}"), L"S-1-5-21-1-2-3-987654");
    // Without its closing brace a SID reference is left as written.
    EXPECT_EQ(Expand(L"%{S-1-5-18"), L"%{S-1-5-18");
    // Without a directory a GUID names itself.
    EXPECT_EQ(Expand(L"%{bf967a86-0de6-11d0-a285-00aa003049e2}"),
              L"{bf967a86-0de6-11d0-a285-00aa003049e2}");
}

TEST_F(EventLogEntryTest, TextsWithoutReferencesStay) {
    for (const wchar_t* text : {L"100%", L"%1", L"%", L"", L"plain text", L"50% off %x", L"%%"})
        EXPECT_EQ(Expand(text), text);
}

TEST_F(EventLogEntryTest, TheRawFormStaysAfterExpansion) {
    CEventLogEntry& entry = Entry(Fields(4624, {L"%%1833", L"%{S-1-5-18}"}));
    entry.ExpandAll();
    EXPECT_EQ(entry.GetString(0, true), L"Yes");
    EXPECT_EQ(entry.GetString(0, false), L"%%1833");
    EXPECT_EQ(entry.GetString(1, false), L"%{S-1-5-18}");
    std::vector<std::wstring> expanded;
    entry.GetStrings(expanded, true);
    EXPECT_EQ(expanded, (std::vector<std::wstring>{L"Yes", L"NT AUTHORITY\\SYSTEM"}));
}

TEST_F(EventLogEntryTest, ReferencesThatCannotBeLookedUpStayAsWritten) {
    // Longer than any SID: kept as written, and the other tokens expand.
    const std::wstring tooLong = L"%{S-1-5-21-" + std::wstring(290, L'1') + L"}";
    CEventLogEntry& entry = Entry(Fields(100, {tooLong + L" %%1833", L"b"}));
    EXPECT_EQ(entry.GetString(0, true), tooLong + L" Yes");
    EXPECT_EQ(entry.GetMessageText(), tooLong + L" Yes and b and %3\r\n");

    // No memory while a reference is looked up: as written, and nothing
    // kept that the next record would meet.
    CEventLogEntry& starved = Entry(Fields(100, {L"%%1833"}));
    FailNextAllocations(1);
    EXPECT_EQ(starved.GetString(0, true), L"%%1833");
    EXPECT_EQ(PendingAllocationFailures(), 0);
    EXPECT_EQ(Expand(L"%%1833"), L"Yes");
    CEventLogEntry& starvedMessage = Entry(Fields(100, {L"%%1833"}));
    FailNextAllocations(1);
    EXPECT_EQ(starvedMessage.GetMessageText(), L"%%1833 and %2 and %3\r\n");

    // An error while the message is formatted: the description text with
    // the strings, and a warning in the diagnostic log.
    CEventLogEntry& failing = Entry(Fields(100, {L"%%1833", L"b"}));
    failing.ExpandAll();
    CTempDirectory logFolder;
    kx::platform::SetExecutablePathForTesting(logFolder.Join(L"KXWkstnSvc.exe"));
    ASSERT_TRUE(InitDiagnosticLog(kLogWarning));
    FailNextAllocations(1);
    const std::wstring text = failing.GetMessageText();
    CloseDiagnosticLog();
    kx::platform::SetExecutablePathForTesting(L"");
    EXPECT_EQ(text, kx::Format(kDescription, 100, kSource) + L"Yes\r\nb\r\n");
    const std::string log = ReadFileBytes(logFolder.Path() / "BWAgentSvc.log");
    EXPECT_NE(log.find("**Warning:  The description for Event ID ( 100 ) in Source ( "
                       "KxEntrySource ) cannot be found."),
              std::string::npos)
        << log;
}

TEST_F(EventLogEntryTest, MessageTextWithExpandedInserts) {
    CEventLogEntry& entry = Entry(Fields(100, {L"%%1833", L"%{S-1-5-18}", L"100%"}));
    EXPECT_EQ(entry.GetMessageText(), L"Yes and NT AUTHORITY\\SYSTEM and 100%\r\n");
    // An insert beyond the record's strings shows as its own number.
    EXPECT_EQ(Entry(Fields(100, {L"a"})).GetMessageText(), L"a and %2 and %3\r\n");

    std::vector<std::wstring> logon(20, L"-");
    logon[5] = L"alice";
    logon[6] = L"CORP";
    logon[8] = L"%%1833";
    std::wstring text = Entry(Fields(4624, logon)).GetMessageText();
    EXPECT_EQ(text.rfind(L"An account was successfully logged on.\r\n", 0), 0u);
    EXPECT_NE(text.find(L"\tAccount Name:\t\talice\r\n\tAccount Domain:\t\tCORP\r\n"),
              std::wstring::npos);
    EXPECT_NE(text.find(L"Logon Type:\t\t\tYes\r\n"), std::wstring::npos);
}

TEST_F(EventLogEntryTest, AMessageMissingUnderItsIdentifierIsTriedWithTheQualifierBits) {
    sources_.RegisterSource(L"KxRetrySource", L"EventMessageFile",
                            sources_.Install(L"kx_retry_messages.dll"));
    CEventLogEntry& entry = Entry(Fields(4608, {L"x"}, L"KxRetrySource"));
    EXPECT_EQ(entry.GetMessageText(), L"Found on the second try: x.\r\n");
}

TEST_F(EventLogEntryTest, WithoutAMessageTheDescriptionTextListsTheStrings) {
    CEventLogEntry& unknown = Entry(Fields(4624, {L"%%1833", L"b"}, L"KxUnregistered"));
    EXPECT_EQ(unknown.GetMessageText(),
              kx::Format(kDescription, 4624, L"KxUnregistered") + L"%%1833\r\nb\r\n");
    // A registered source whose files lack the identifier: the low 16 bits
    // in the text, the strings expanded.
    CEventLogEntry& missing = Entry(Fields(0x40000C39, {L"%%1833"}));
    EXPECT_EQ(missing.GetMessageText(), kx::Format(kDescription, 3129, kSource) + L"Yes\r\n");
    CEventLogEntry& none = Entry(Fields(7, {}));
    EXPECT_EQ(none.GetMessageText(), kx::Format(kDescription, 7, kSource));
}

TEST_F(EventLogEntryTest, UserSidAndAccount) {
    EventLogRecordFields fields = Fields(4624, {});
    fields.userSid = SidOf(L"S-1-5-18");
    CEventLogEntry& entry = Entry(fields);
    ASSERT_NE(entry.GetUserSid(), nullptr);
    EXPECT_EQ(entry.GetUserSidLength(), 12u);
    EXPECT_EQ(entry.GetUserSidString(), L"S-1-5-18");
    EXPECT_EQ(entry.GetUserAccount(), L"NT AUTHORITY\\SYSTEM");

    fields.userSid = SidOf(L"S-1-5-21-1-2-3-987654");
    EXPECT_EQ(Entry(fields).GetUserAccount(), L"S-1-5-21-1-2-3-987654");

    CEventLogEntry& without = Entry(Fields(4624, {}));
    EXPECT_EQ(without.GetUserSid(), nullptr);
    EXPECT_EQ(without.GetUserSidString(), L"");
    EXPECT_EQ(without.GetUserAccount(), L"");
}

TEST_F(EventLogEntryTest, TimeGenerated) {
    EventLogRecordFields fields = Fields(4624, {});
    EXPECT_EQ(Entry(fields).GetTimeGenerated(true), 0);

    const kx::SystemTime utc{2021, 12, 6, 4, 22, 9, 13, 0};
    const int64_t instant = kx::SystemTimeToUnixMilliseconds(utc) / 1000;
    fields.timeGenerated = static_cast<uint32_t>(instant);
    CEventLogEntry& entry = Entry(fields);
    EXPECT_EQ(entry.GetTimeGenerated(true), instant);
    // Shown as local time, the other form reads the UTC clock.
    kx::SystemTime shown;
    ASSERT_TRUE(kx::platform::UnixSecondsToLocalTime(entry.GetTimeGenerated(false), &shown));
    EXPECT_EQ(shown.year, 2021);
    EXPECT_EQ(shown.month, 12);
    EXPECT_EQ(shown.day, 4);
    EXPECT_EQ(shown.hour, 22);
    EXPECT_EQ(shown.minute, 9);
    EXPECT_EQ(shown.second, 13);
}

TEST_F(EventLogEntryTest, ACopiedRecordOutlivesItsBuffer) {
    std::vector<uint8_t> bytes = BuildEventLogRecord(Fields(100, {L"%%1833", L"b", L"c"}));
    CEventLogEntry entry(cache_.LocalComputerName(), L"corp.example", CMessageSources::kLog,
                         bytes.data(), true, cache_);
    std::memset(bytes.data(), 0, bytes.size());
    bytes.clear();
    bytes.shrink_to_fit();
    EXPECT_EQ(entry.GetSourceName(), kSource);
    EXPECT_EQ(entry.GetMessageText(), L"Yes and b and c\r\n");
}

TEST_F(EventLogEntryTest, StringsReachingPastTheRecordAreCutOrEmpty) {
    std::vector<uint8_t> bytes = BuildEventLogRecord(Fields(100, {L"first", L"second"}));
    const uint32_t stringOffset = kx::eventlog::ReadUInt32LE(bytes.data() + kOffsetStringOffset);

    // Strings that start past Length are empty; the count stays.
    // Offsets near the top of 32 bits must not wrap into the record.
    for (uint32_t offset : {0xFFFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFFEu}) {
        std::vector<uint8_t> past = bytes;
        kx::eventlog::WriteUInt32LE(past.data() + kOffsetStringOffset, offset);
        CEventLogEntry& outside = Entry(past);
        EXPECT_EQ(outside.GetStringCount(), 2);
        EXPECT_EQ(outside.GetString(0, false), L"");
        EXPECT_EQ(outside.GetString(1, true), L"");
    }

    // A count larger than the strings there: the ones beyond are empty.
    std::vector<uint8_t> counted = bytes;
    kx::eventlog::WriteUInt16LE(counted.data() + kx::eventlog::kOffsetNumStrings, 5);
    CEventLogEntry& more = Entry(counted);
    ASSERT_EQ(more.GetStringCount(), 5);
    EXPECT_EQ(more.GetString(0, false), L"first");
    EXPECT_EQ(more.GetString(1, false), L"second");
    EXPECT_EQ(more.GetString(4, false), L"");
    EXPECT_EQ(more.GetMessageText(), L"first and second and \r\n");

    // A record whose Length ends inside its second string: that string is
    // cut at the end, without a terminator to read.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + stringOffset + 12 + 6);
    kx::eventlog::WriteUInt32LE(cut.data(), static_cast<uint32_t>(cut.size()));
    CEventLogEntry& shortened = Entry(cut);
    EXPECT_EQ(shortened.GetString(0, false), L"first");
    EXPECT_EQ(shortened.GetString(1, false), L"sec");
}

TEST_F(EventLogEntryTest, ASidReachingPastTheRecordIsNone) {
    EventLogRecordFields fields = Fields(100, {L"a"});
    fields.userSid = SidOf(L"S-1-5-21-1-2-3-1001");
    std::vector<uint8_t> bytes = BuildEventLogRecord(fields);
    const uint32_t length = static_cast<uint32_t>(bytes.size());

    kx::eventlog::WriteUInt32LE(bytes.data() + kOffsetUserSidOffset, length - 8);
    CEventLogEntry& pastEnd = Entry(bytes);
    EXPECT_EQ(pastEnd.GetUserSid(), nullptr);
    EXPECT_EQ(pastEnd.GetUserSidString(), L"");
    EXPECT_EQ(pastEnd.GetString(0, false), L"a");

    kx::eventlog::WriteUInt32LE(bytes.data() + kOffsetUserSidOffset, 0xFFFFFFFCu);
    EXPECT_EQ(Entry(bytes).GetUserSid(), nullptr);

    // A SID inside the record that is not a SID has no text.
    fields.userSid = {1, 9, 0, 0, 0, 0, 0, 5};
    CEventLogEntry& broken = Entry(fields);
    EXPECT_NE(broken.GetUserSid(), nullptr);
    EXPECT_EQ(broken.GetUserSidString(), L"");
}

}  // namespace
