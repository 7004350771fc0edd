// The message formatter: a message text and its inserts from the input,
// formatted with inserts replaced and ignored, and scanned as the Windows
// port scans it. A result never exceeds the formatter's limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzText.h"
#include "common/MessageText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    std::vector<std::wstring> inserts(flags % 8);
    for (std::wstring& insert : inserts) {
        insert = kx::fuzz::DecodeFuzzText(input.ConsumeRandomLengthString(64), 0);
    }
    const std::wstring text =
        kx::fuzz::DecodeFuzzText(input.ConsumeRemainingBytesAsString(), flags >> 3);
    std::wstring result;
    if (kx::FormatMessageText(text, kx::InsertHandling::Replace, inserts, result) == 0) {
        KX_FUZZ_CHECK(!result.empty() && result.size() <= kx::kMaxMessageLength);
    }
    if (kx::FormatMessageText(text, kx::InsertHandling::Ignore, inserts, result) == 0) {
        KX_FUZZ_CHECK(!result.empty() && result.size() <= kx::kMaxMessageLength);
    }
    const kx::MessageInsertScan scan = kx::ScanMessageInserts(text);
    // A width or precision taken from an insert may read the one after %99.
    KX_FUZZ_CHECK(scan.highest <= kx::kMaxMessageInsert + 1);
    for (const std::wstring& insert : inserts) {
        (void)kx::InsertNumber(insert, kx::InsertReading::Number);
        (void)kx::InsertNumber(insert, kx::InsertReading::Character);
    }
    return 0;
}
