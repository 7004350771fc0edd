#pragma once
// Runs every accessor of CEventLogEntry over one record, as the pipeline's
// handler and the alert building do, with a directory that answers nothing
// so that no lookup leaves the machine.

#include <string>

class CEventLogEntry;

namespace kx::fuzz {

// Reads every field, raw and expanded string, account, time and message.
void ReadWholeEntry(CEventLogEntry& entry);

}  // namespace kx::fuzz
