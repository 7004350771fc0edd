#pragma once
// Reads the records of an .evtx file recorded on Windows (Debian's libevtx)
// as the fields of classic event log records:
// - the event identifier (with its qualifiers, if any) and the provider as
//   the source; the computer name; the user SID of System/Security, if any;
// - the EventData (or UserData) values, in order, as the insertion strings;
// - System/TimeCreated as the time generated and the record's written time
//   as the time written (the time generated when a record cannot hold the
//   written time, such as 0, the year 1601); System/Task as the category;
// - the event type from the Keywords: audit success (8) or audit failure
//   (16); otherwise from the level (critical and error 1, warning 2, any
//   other 4).

#include <cstdint>
#include <string>
#include <vector>

#include "BaseClasses/EventLogRecord.h"

class CEvtxImporter {
public:
    // Throws CToolError when the file is missing, is not an .evtx file, or a
    // record cannot be read.
    static std::vector<EventLogRecordFields> ReadFile(const std::string& path);

    static uint16_t EventTypeFrom(uint64_t keywords, uint8_t level);
    // The values that only the record's XML holds: Keywords, TimeCreated
    // (seconds since 1970, rounded down) and Task. False for a part that is
    // missing leaves the value alone.
    static bool ReadKeywords(const std::string& xml, uint64_t* keywords);
    static bool ReadTimeCreated(const std::string& xml, int64_t* seconds);
    static bool ReadTask(const std::string& xml, uint16_t* task);
    // The time generated (TimeCreated, else the written time; held to what
    // 32 bits of seconds since 1970 hold) and the time written of a record
    // from its written FILETIME and its XML.
    static void SetTimes(uint64_t writtenFileTime, const std::string& xml,
                         EventLogRecordFields* fields);
};
