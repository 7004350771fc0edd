#include "FuzzRecord.h"

#include <stdexcept>
#include <vector>

#include "BaseClasses/EventLogEntry.h"
#include "FuzzText.h"

namespace kx::fuzz {

void ReadWholeEntry(CEventLogEntry& entry) {
    (void)entry.GetEventId();
    (void)entry.GetEventType();
    (void)entry.GetSourceName();
    std::vector<std::wstring> strings;
    entry.GetStrings(strings, false);
    KX_FUZZ_CHECK(strings.size() == entry.GetStringCount());
    strings.clear();
    entry.GetStrings(strings, true);
    KX_FUZZ_CHECK(strings.size() == entry.GetStringCount());
    if (entry.GetUserSid() != nullptr) KX_FUZZ_CHECK(entry.GetUserSidLength() > 0);
    (void)entry.GetUserSidString();
    (void)entry.GetUserAccount();
    for (bool local : {false, true}) {
        try {
            (void)entry.GetTimeGenerated(local);
        } catch (const std::runtime_error&) {
            // A time the calendar cannot show: the documented answer.
        }
    }
    (void)entry.GetMessageText();
}

}  // namespace kx::fuzz
