// The identity kept with the saved position: its text is the same on every
// platform (the hash below is FNV-1a 64 of the record's bytes, worked out
// apart from the code), one changed byte makes another record, and only a
// text of that form is read back.
#include "BaseClasses/EventRecordIdentity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// The smallest record: number 42, generated at 1700000000, empty names.
std::vector<uint8_t> SmallestRecord() {
    std::vector<uint8_t> bytes(64, 0);
    const uint32_t fields[] = {64, 0x654C664C, 42, 1700000000};
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<uint8_t>(fields[i] >> (8 * b));
    bytes[60] = 64;
    return bytes;
}

}  // namespace

TEST(EventRecordIdentityTest, NumberTimeAndHashOfEveryByteAreKeptAsTextAndReadBack) {
    std::vector<uint8_t> record = SmallestRecord();
    const CEventRecordIdentity identity = CEventRecordIdentity::Of(record.data());
    EXPECT_EQ(identity.RecordNumber(), 42u);
    EXPECT_EQ(identity.ToText(), L"42 1700000000 1fcd019c5836fff1");
    const auto read = CEventRecordIdentity::Parse(identity.ToText());
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->SameRecordAs(identity));

    record[20] = 1;  // another event ID under the same number and time
    const CEventRecordIdentity other = CEventRecordIdentity::Of(record.data());
    EXPECT_EQ(other.ToText(), L"42 1700000000 c7c7d40a8c0a2ec0");
    EXPECT_FALSE(other.SameRecordAs(identity));

    const CEventRecordIdentity numberOnly(42);
    EXPECT_EQ(numberOnly.ToText(), L"");
    EXPECT_FALSE(numberOnly.SameRecordAs(numberOnly));
    for (const wchar_t* text :
         {L"", L"42 1700000000", L"42 1700000000 1fcd019c5836fff",
          L"42 1700000000 1FCD019C5836FFF1", L"42  1700000000 1fcd019c5836fff1",
          L"-42 1700000000 1fcd019c5836fff1", L"4294967296 1700000000 1fcd019c5836fff1",
          L"42 1700000000 1fcd019c5836fff1 "})
        EXPECT_FALSE(CEventRecordIdentity::Parse(text)) << text;
    EXPECT_TRUE(CEventRecordIdentity::Parse(L"4294967295 0 0000000000000000"));
}
