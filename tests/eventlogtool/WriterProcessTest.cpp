// A writer process appends thousands of records one by one while a collector
// reads the same log: every record arrives once, whole, in order.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "BaseClasses/EventLogCollector.h"
#include "BaseClasses/EventLogRecord.h"
#include "TempDirectory.h"
#include "ToolRunner.h"
#include "WriterPayload.h"
#include "common/ManualClock.h"
#include "platform/MachineRoot.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kRecords = 10000;

struct Reader {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> numbers;
    std::vector<std::string> problems;
    int pollsWithRecordsMissing = 0;

    static void OnOpened(void* self) {
        auto* reader = static_cast<Reader*>(self);
        std::lock_guard<std::mutex> lock(reader->mutex);
        if (reader->numbers.size() < kRecords) ++reader->pollsWithRecordsMissing;
    }

    static int OnRecord(const void* bytes, void* self) {
        auto* reader = static_cast<Reader*>(self);
        CEventLogRecord record = CEventLogRecord::FromDeliveredRecord(bytes);
        std::optional<EventLogRecordFields> fields = record.ReadFields();
        const uint32_t number = record.RecordNumber();
        std::lock_guard<std::mutex> lock(reader->mutex);
        const bool whole =
            fields && fields->eventId == number &&
            fields->strings == std::vector<std::wstring>{L"record " + std::to_wstring(number)} &&
            fields->data == WriterPayload(number);
        if (!whole) reader->problems.push_back("record " + std::to_string(number) + " is torn");
        reader->numbers.push_back(number);
        reader->changed.notify_all();
        return 1;
    }
};

}  // namespace

TEST(WriterProcessTest, ACollectorReadsEveryRecordOnceAndWholeWhileAnotherProcessAppends) {
    CTempDirectory machine;
    kx::platform::SetMachineRootForTesting(machine.WidePath());
    // The collector's pauses pass at once: it polls the log as fast as it can.
    CManualClock clock;
    CScopedClock installed(clock);
    Reader reader;
    {
        CEventLogCollector collector;
        collector.SetCollectionParameters(nullptr, L"Security", 1, 14, &Reader::OnRecord,
                                          &Reader::OnOpened, &reader);
        collector.BeginCollecting();
        ToolResult writer;
        std::thread writing([&] {
            writer = RunProgram(KX_EVENTLOG_WRITER, "Security " + std::to_string(kRecords),
                                machine.Path());
        });
        writing.join();
        EXPECT_EQ(writer.exitCode, 0) << writer.err;
        {
            std::unique_lock<std::mutex> lock(reader.mutex);
            // A guard against a hang only; the reading itself is not timed.
            EXPECT_TRUE(reader.changed.wait_for(lock, 120s,
                                                [&] { return reader.numbers.size() >= kRecords; }));
        }
        collector.StopCollecting();
    }
    kx::platform::SetMachineRootForTesting(L"");
    std::vector<uint32_t> expected(kRecords);
    for (uint32_t i = 0; i < kRecords; ++i) expected[i] = i + 1;
    EXPECT_EQ(reader.numbers, expected) << "none lost, none twice, in order";
    EXPECT_TRUE(reader.problems.empty()) << reader.problems.front();
    // The reading really overlapped the writing: polls found the log
    // still growing (how many depends on the scheduler).
    EXPECT_GE(reader.pollsWithRecordsMissing, 2);
    std::printf("%d polls read the log while the writer was appending\n",
                reader.pollsWithRecordsMissing);
}
