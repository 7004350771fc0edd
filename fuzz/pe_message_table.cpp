// The PE message table reader over any image bytes, and the message
// formatter over every text it finds, with inserts, as a record's message
// is made.
#include <span>
#include <string>
#include <vector>

#include "FuzzText.h"
#include "common/MessageText.h"
#include "common/PeMessageTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::CPeMessageTable table;
    if (table.Load(std::span<const uint8_t>(data, size)) != 0) return 0;
    const std::vector<std::wstring> inserts = {L"jane", L"42", L"0x1F", L"-7", L"%1"};
    // Identifiers as message compilers hand them out, with severity and
    // facility bits, and a few beside them.
    const uint32_t ids[] = {0,          1,          2,          3,          100,
                            0x40000001, 0x40000011, 0x80000001, 0xC0000001, 0xFFFFFFFF};
    std::size_t found = 0;
    for (uint32_t id : ids) {
        std::wstring text;
        if (table.FindMessage(id, text) != 0) continue;
        ++found;
        std::wstring result;
        kx::FormatMessageText(text, kx::InsertHandling::Replace, inserts, result);
        kx::FormatMessageText(text, kx::InsertHandling::Ignore, {}, result);
    }
    KX_FUZZ_CHECK(found <= table.MessageCount());
    return 0;
}
