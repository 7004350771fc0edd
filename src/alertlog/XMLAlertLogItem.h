#pragma once
// One matched event on its way to the server: filled by the matching, queued
// by the alert log, written to a cache file and read back into the alert
// document.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "alertlog/XMLAlertLogPropertyItem.h"

class CCacheFileReader;
class CCacheFileWriter;
class CXmlMemoryWriter;

class CXMLAlertLogItem {
public:
    static constexpr uint32_t kMarker = 0x0BADF00D;

    enum class ReadResult {
        Read,       // every field read
        BadMarker,  // not an item: left empty, not sent
        Ended,      // the file ended inside it: it and all after it are not sent
    };

    CXMLAlertLogItem() = default;
    CXMLAlertLogItem(const CXMLAlertLogItem&) = delete;
    CXMLAlertLogItem& operator=(const CXMLAlertLogItem&) = delete;

    void AddProperty(const std::wstring& code, const std::wstring& value);

    // The cache file form: marker, the seven strings in file order, the time,
    // the properties.
    void WriteItem(CCacheFileWriter& file) const;
    ReadResult ReadItem(CCacheFileReader& file);

    // One "WorkstationEvent" element of the alert document.
    void WriteEventElement(CXmlMemoryWriter& writer) const;

    // What the item adds to an alert document, in bytes (an upper bound: every
    // character that the writer escapes counted at its escaped length).
    std::size_t DocumentBytes() const;
    // What the item holds in memory, roughly.
    std::size_t MemoryBytes() const;

    // The time as the computer's local time, "%Y-%m-%d %H:%M:%S"; empty for a
    // time that the C runtime's local-time conversion rejects (before 1970 or
    // after 3001-01-01 07:59:59 UTC) or that has no local time.
    static std::wstring RenderTimeGenerated(int64_t timeGenerated);

    std::wstring ComputerName;
    std::wstring ComputerDomain;
    std::wstring AccountSID;
    std::wstring AccountName;
    std::wstring EventDefinitionCode;
    std::wstring ActionText;
    int64_t TimeGenerated = 0;
    std::wstring EventDump;
    std::vector<std::unique_ptr<CXMLAlertLogPropertyItem>> Properties;
    uint32_t Marker = kMarker;
    // Its place among the items an alert log has queued (1 for the first);
    // set by AddItem, never written to a cache file.
    uint64_t Ordinal = 0;
};
