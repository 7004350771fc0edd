#include "definitions/XMLEventDefinitionProperty.h"

#include <stdexcept>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/LookupCache.h"
#include "common/Format.h"
#include "common/Text.h"

namespace {

// Insertion string number (1-based); a number the record does not have names
// an empty string.
std::wstring StringOf(CEventLogEntry& record, int32_t number, bool expanded) {
    if (number < 1 || number > record.GetStringCount()) return L"";
    return record.GetString(static_cast<uint16_t>(number - 1), expanded);
}

std::wstring AccountValue(CEventLogEntry& record, const std::wstring& numbers) {
    const std::size_t separator = numbers.find_first_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) return L"";
    return kx::Format(L"%s\\%s",
                      StringOf(record, kx::ParseDecimal(numbers.substr(0, separator)), true),
                      StringOf(record, kx::ParseDecimal(numbers.substr(separator + 1)), true));
}

std::wstring WithoutLeadingPercent(std::wstring text) {
    if (!text.empty() && text[0] == L'%') text.erase(0, 1);
    return text;
}

// The insertion-string numbers before and after the first bar.
std::pair<int32_t, int32_t> NumbersAroundBar(const std::wstring& value) {
    const std::size_t bar = value.find(L'|');
    if (bar == std::wstring::npos) return {kx::ParseDecimal(value), 0};
    return {kx::ParseDecimal(value.substr(0, bar)), kx::ParseDecimal(value.substr(bar + 1))};
}

std::wstring WithBlanksForBreaks(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
    return text;
}

}  // namespace

std::wstring CXMLEventDefinitionProperty::CleanValue(const std::wstring& text) {
    std::wstring value = kx::Trim(text);
    const std::size_t lineFeed = value.find(L'\n');
    if (lineFeed != std::wstring::npos) value = kx::Trim(value.substr(0, lineFeed));
    return value;
}

void CXMLEventDefinitionProperty::EmitStandard(const std::wstring& value) {
    Emit(kx::Format(L"%c|%s|%s", StoreInDatabase ? L'1' : L'0', PropertyCode, value));
}

void CXMLEventDefinitionProperty::Evaluate(CEventLogEntry& record) {
    try {
        EvaluateKind(record);
    } catch (...) {
        // The item goes without what this rule could not find.
    }
}

void CXMLEventDefinitionProperty::EvaluateKind(CEventLogEntry& record) {
    const int32_t n = kx::ParseDecimal(PropertyValue);
    if (kx::EqualsNoCase(PropertyType, L"Normal")) {
        EmitStandard(CleanValue(StringOf(record, n, true)));
    } else if (kx::EqualsNoCase(PropertyType, L"Raw")) {
        EmitStandard(WithoutLeadingPercent(CleanValue(StringOf(record, n, false))));
    } else if (kx::EqualsNoCase(PropertyType, L"Strip")) {
        EmitStandard(WithBlanksForBreaks(CleanValue(StringOf(record, n, true))));
    } else if (kx::EqualsNoCase(PropertyType, L"Account")) {
        EmitStandard(AccountValue(record, PropertyValue));
    } else if (kx::EqualsNoCase(PropertyType, L"Special")) {
        EvaluateSpecial(record);
    } else {
        EmitStandard(CleanValue(StringOf(record, n, true)));
    }
}

void CXMLEventDefinitionProperty::EvaluateSpecial(CEventLogEntry& record) {
    const std::wstring& code = PropertyCode;
    if (kx::EqualsNoCase(code, L"FCCO") || kx::EqualsNoCase(code, L"FCGPO") ||
        kx::EqualsNoCase(code, L"FDCO")) {
        EvaluateObjectFinder(record);
    } else if (kx::EqualsNoCase(code, L"GPONAME")) {
        EvaluateGpoName(record);
    } else if (kx::EqualsNoCase(code, L"FDO")) {
        EvaluateDeletedByGuid(record);
    } else if (kx::EqualsNoCase(code, L"ParentOU:SID")) {
        EvaluateParentOfSid(record);
    } else if (kx::EqualsNoCase(code, L"ParentOU:GUID")) {
        EvaluateParentOfGuid(record);
    } else if (kx::EqualsNoCase(code, L"ParentOU:DN")) {
        EvaluateParentOfDn(record);
    } else if (!kx::EqualsNoCase(code, L"Before") && !kx::EqualsNoCase(code, L"After")) {
        EvaluateList(record);
    }
}

// FCCO and FCGPO find the object created at the record's time, FDCO the one
// deleted then; only the exact upper-case "FC" searches among created ones.
void CXMLEventDefinitionProperty::EvaluateObjectFinder(CEventLogEntry& record) {
    const auto [classNumber, baseNumber] = NumbersAroundBar(PropertyValue);
    const std::wstring objectClass = StringOf(record, classNumber, true);
    const std::wstring& computer = record.GetComputerName();
    // The instant itself: the finders search by its UTC clock reading, the
    // one the alert item shows.
    int64_t time = 0;
    try {
        time = record.GetTimeGenerated(true);
    } catch (const std::runtime_error&) {
        return;  // no time to search by: nothing found
    }
    CLookupCache& lookups = record.GetLookups();
    const std::wstring answer =
        PropertyCode.rfind(L"FC", 0) == 0
            ? lookups.FindCreatedObject(computer, StringOf(record, baseNumber, true), objectClass,
                                        time)
            : lookups.FindDeletedObject(computer, objectClass, time);
    if (answer.empty()) return;
    const std::size_t bar = answer.find(L'|');
    const std::wstring dn = bar == std::wstring::npos ? std::wstring() : answer.substr(bar + 1);
    if (kx::EqualsNoCase(PropertyCode, L"FCGPO")) {
        Emit(L"0|GPONAME|" + lookups.GetDisplayName(computer, dn));
        Emit(L"1|OBJNAME|" + dn);
        Emit(L"1|OBJTYP|groupPolicyContainer");
    } else {
        Emit(L"0|OBJNAME|" + dn);
        Emit(L"1|OBJTYP|" + objectClass);
    }
    const std::wstring parent = pathname_.ParentOf(dn);
    if (!parent.empty()) Emit(kx::Format(L"1|ParentOU|%s", parent));
}

void CXMLEventDefinitionProperty::EvaluateGpoName(CEventLogEntry& record) {
    const std::wstring path = StringOf(record, kx::ParseDecimal(PropertyValue), true);
    Emit(L"1|OBJNAME|" + path);
    Emit(L"0|GPONAME|" + record.GetLookups().GetDisplayName(record.GetComputerName(), path));
}

void CXMLEventDefinitionProperty::EvaluateDeletedByGuid(CEventLogEntry& record) {
    const std::wstring raw = StringOf(record, kx::ParseDecimal(PropertyValue), false);
    const std::wstring guid = raw.empty() ? raw : raw.substr(1);
    const std::wstring name =
        record.GetLookups().FindDeletedObjectByGuid(record.GetComputerName(), guid);
    if (!name.empty()) Emit(L"0|OBJNAME|" + name);
}

void CXMLEventDefinitionProperty::EvaluateParentOfSid(CEventLogEntry& record) {
    std::wstring sid = StringOf(record, kx::ParseDecimal(PropertyValue), false);
    if (kx::StartsWithNoCase(sid, L"%{")) sid = sid.substr(2, sid.size() - 3);
    const std::wstring dn = record.GetLookups().SidToDn(record.GetComputerName(), sid);
    if (!dn.empty()) Emit(kx::Format(L"1|ParentOU|%s", pathname_.ParentOf(dn)));
}

void CXMLEventDefinitionProperty::EvaluateParentOfGuid(CEventLogEntry& record) {
    std::wstring guid = StringOf(record, kx::ParseDecimal(PropertyValue), false);
    if (!guid.empty() && guid[0] == L'%') guid.erase(0, 1);
    const std::wstring name = record.GetLookups().GuidToName(record.GetComputerName(), guid);
    if (!kx::EqualsNoCase(name, guid)) Emit(kx::Format(L"1|ParentOU|%s", pathname_.ParentOf(name)));
}

void CXMLEventDefinitionProperty::EvaluateParentOfDn(CEventLogEntry& record) {
    const std::wstring dn = StringOf(record, kx::ParseDecimal(PropertyValue), true);
    Emit(kx::Format(L"1|ParentOU|%s", pathname_.ParentOf(dn)));
}

// Any other code: one result for each tab-separated piece, always stored.
void CXMLEventDefinitionProperty::EvaluateList(CEventLogEntry& record) {
    const std::wstring text = StringOf(record, kx::ParseDecimal(PropertyValue), true);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t tab = text.find(L'\t', start);
        if (tab == std::wstring::npos) tab = text.size();
        if (tab > start)
            Emit(kx::Format(L"1|%s|%s", PropertyCode, text.substr(start, tab - start)));
        start = tab + 1;
    }
}
