#include "alertlog/XMLAlertLogItem.h"

#include "alertlog/CacheFileReader.h"
#include "alertlog/CacheFileWriter.h"
#include "alertlog/XmlMemoryWriter.h"
#include "common/Format.h"
#include "platform/Time.h"

namespace {

// The latest time that _localtime64 converts.
constexpr int64_t kLatestLocalTime = 32535244799;  // 3001-01-01 07:59:59 UTC

// An element's share of the document besides its text, in UTF-16 units: line
// break, indentation of up to six levels, start and end tag.
constexpr std::size_t kElementOverhead = 2 + 12 + 5;
constexpr std::size_t kEventElements = 12;  // the event, its fields, the property list
constexpr std::size_t kPropertyElements = 3;
constexpr std::size_t kLongestElementName = 19;  // "EventDefinitionCode"

// Only where wchar_t holds whole code points (Linux); on Windows such a
// character is already a surrogate pair.
bool IsOutsideBasicPlane(uint32_t c) {
    return c > 0xFFFF;
}

// UTF-16 units of the text once escaped: &amp; &lt; &gt;, and a surrogate
// pair for a character outside the Basic Multilingual Plane.
std::size_t EscapedUnits(const std::wstring& text) {
    std::size_t units = text.size();
    for (wchar_t c : text) {
        if (c == L'&') units += 4;
        if (c == L'<' || c == L'>') units += 3;
        if (IsOutsideBasicPlane(static_cast<uint32_t>(c))) units += 1;
    }
    return units;
}

std::size_t HeldBytes(const std::wstring& text) {
    return sizeof(std::wstring) + (text.size() + 1) * sizeof(wchar_t);
}

}  // namespace

void CXMLAlertLogItem::AddProperty(const std::wstring& code, const std::wstring& value) {
    auto property = std::make_unique<CXMLAlertLogPropertyItem>();
    property->PropertyCode = code;
    property->PropertyValue = value;
    Properties.push_back(std::move(property));
}

void CXMLAlertLogItem::WriteItem(CCacheFileWriter& file) const {
    file.WriteUInt32(Marker);
    file.WriteString(AccountName);
    file.WriteString(AccountSID);
    file.WriteString(ActionText);
    file.WriteString(ComputerDomain);
    file.WriteString(ComputerName);
    file.WriteString(EventDefinitionCode);
    file.WriteString(EventDump);
    file.WriteInt64(TimeGenerated);
    file.WriteUInt32(static_cast<uint32_t>(Properties.size()));
    for (const auto& property : Properties) {
        file.WriteString(property->PropertyCode);
        file.WriteString(property->PropertyValue);
    }
}

CXMLAlertLogItem::ReadResult CXMLAlertLogItem::ReadItem(CCacheFileReader& file) {
    uint32_t marker = 0;
    if (!file.ReadUInt32(&marker)) return ReadResult::Ended;
    if (marker != kMarker) return ReadResult::BadMarker;
    uint32_t propertyCount = 0;
    const bool whole = file.ReadString(&AccountName) && file.ReadString(&AccountSID) &&
                       file.ReadString(&ActionText) && file.ReadString(&ComputerDomain) &&
                       file.ReadString(&ComputerName) && file.ReadString(&EventDefinitionCode) &&
                       file.ReadString(&EventDump) && file.ReadInt64(&TimeGenerated) &&
                       file.ReadUInt32(&propertyCount);
    if (!whole) return ReadResult::Ended;
    // The count is not trusted for a reservation: each property must be in
    // the file before it is kept.
    for (uint32_t i = 0; i < propertyCount; ++i) {
        std::wstring code;
        std::wstring value;
        if (!file.ReadString(&code) || !file.ReadString(&value)) return ReadResult::Ended;
        AddProperty(code, value);
    }
    return ReadResult::Read;
}

void CXMLAlertLogItem::WriteEventElement(CXmlMemoryWriter& writer) const {
    writer.StartElement(L"WorkstationEvent");
    writer.ElementString(L"TimeGenerated", RenderTimeGenerated(TimeGenerated).c_str());
    writer.ElementString(L"ComputerDomain", ComputerDomain.c_str());
    writer.ElementString(L"ComputerName", ComputerName.c_str());
    writer.ElementString(L"AccountName", AccountName.c_str());
    writer.ElementString(L"AccountSID", AccountSID.c_str());
    writer.ElementString(L"EventDefinitionCode", EventDefinitionCode.c_str());
    writer.ElementString(L"ActionText", ActionText.c_str());
    writer.ElementString(L"EventDump", kx::Format(L"<![CDATA[%s]]>", EventDump).c_str());
    writer.StartElement(L"EventProperties");
    for (const auto& property : Properties) {
        writer.StartElement(L"EventProperty");
        writer.ElementString(L"PropertyCode", property->PropertyCode.c_str());
        writer.ElementString(L"PropertyValue", property->PropertyValue.c_str());
        writer.EndElement();
    }
    writer.EndElement();
    writer.EndElement();
}

std::size_t CXMLAlertLogItem::DocumentBytes() const {
    constexpr std::size_t kPerElement = kElementOverhead + 2 * kLongestElementName;
    std::size_t units = kEventElements * kPerElement + 19 /* time */ + 12 /* CDATA markers */ +
                        EscapedUnits(ComputerDomain) + EscapedUnits(ComputerName) +
                        EscapedUnits(AccountName) + EscapedUnits(AccountSID) +
                        EscapedUnits(EventDefinitionCode) + EscapedUnits(ActionText) +
                        EscapedUnits(EventDump);
    for (const auto& property : Properties) {
        units += kPropertyElements * kPerElement + EscapedUnits(property->PropertyCode) +
                 EscapedUnits(property->PropertyValue);
    }
    return 2 * units;
}

std::size_t CXMLAlertLogItem::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + HeldBytes(ComputerName) + HeldBytes(ComputerDomain) +
                        HeldBytes(AccountSID) + HeldBytes(AccountName) +
                        HeldBytes(EventDefinitionCode) + HeldBytes(ActionText) +
                        HeldBytes(EventDump);
    for (const auto& property : Properties) {
        bytes += sizeof(CXMLAlertLogPropertyItem) + sizeof(property) +
                 HeldBytes(property->PropertyCode) + HeldBytes(property->PropertyValue);
    }
    return bytes;
}

std::wstring CXMLAlertLogItem::RenderTimeGenerated(int64_t timeGenerated) {
    kx::SystemTime local;
    if (timeGenerated < 0 || timeGenerated > kLatestLocalTime ||
        !kx::platform::UnixSecondsToLocalTime(timeGenerated, &local))
        return L"";
    return kx::Format(L"%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day,
                      local.hour, local.minute, local.second);
}
