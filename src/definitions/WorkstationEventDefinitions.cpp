#include "definitions/WorkstationEventDefinitions.h"

#include <algorithm>
#include <iterator>

#include "BaseClasses/LogData.h"
#include "common/Text.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\definitions\\WorkstationEventDefinitions.cpp";

using Field = CWorkstationEventDefinitions::Field;

struct FieldName {
    const wchar_t* name;
    Field field;
};

constexpr FieldName kFieldNames[] = {
    {L"Error", Field::Error},
    {L"Success", Field::Success},
    {L"EventDefinitionID", Field::EventDefinitionID},
    {L"DefinitionName", Field::DefinitionName},
    {L"DefinitionType", Field::DefinitionType},
    {L"EventDefinitionCode", Field::EventDefinitionCode},
    {L"ADVersion", Field::ADVersion},
    {L"LogName", Field::LogName},
    {L"EventCategory", Field::EventCategory},
    {L"EventCategoryID", Field::EventCategoryID},
    {L"EventSource", Field::EventSource},
    {L"EventType", Field::EventType},
    {L"EventTypeID", Field::EventTypeID},
    {L"EventCode", Field::EventCode},
    {L"Priority", Field::Priority},
    {L"IsIncluded", Field::IsIncluded},
    {L"IsEnabled", Field::IsEnabled},
    {L"IsHidden", Field::IsHidden},
    {L"FormatText", Field::FormatText},
    {L"StringNumber", Field::StringNumber},
    {L"StringValue", Field::StringValue},
    {L"PropertyCode", Field::PropertyCode},
    {L"PropertyValue", Field::PropertyValue},
    {L"PropertyType", Field::PropertyType},
    {L"StoreInDatabase", Field::StoreInDatabase},
};

Field FieldOf(const std::wstring& localName) {
    auto found = std::find_if(
        std::begin(kFieldNames), std::end(kFieldNames),
        [&](const FieldName& entry) { return kx::EqualsNoCase(localName, entry.name); });
    return found == std::end(kFieldNames) ? Field::None : found->field;
}

bool IsTrue(const std::wstring& text) {
    return kx::EqualsNoCase(text, L"true");
}

bool IsBlank(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return kx::IsSpace(c); });
}

// A field whose record does not exist: the parse ends here.
struct CMissingRecord {
    std::wstring element;
};

}  // namespace

int32_t CWorkstationEventDefinitions::LoadFromXml(const wchar_t* text) {
    Clear();
    int32_t result = kParsed;
    try {
        result = ParseXml(text);
    } catch (const CMissingRecord& missing) {
        LogMessage(kSourceFile, __LINE__, kLogWarning,
                   L"Event definitions: the element %s comes before the record it belongs to; "
                   L"the rest of the document is ignored.",
                   missing.element);
        result = kInvalidArgument;
    }
    RebuildCandidates();
    return result;
}

void CWorkstationEventDefinitions::Clear() {
    definitions_.clear();
    candidates_.reset();
    currentElement_.clear();
    currentField_ = Field::None;
    currentElementClosed_ = false;
    openElements_ = 0;
    complete_ = false;
}

void CWorkstationEventDefinitions::RebuildCandidates() {
    candidates_.reset();
    for (const auto& definition : definitions_) {
        if (definition->EventCode >= 0 && definition->EventCode <= 0xFFFF)
            candidates_.set(static_cast<std::size_t>(definition->EventCode));
    }
}

int32_t CWorkstationEventDefinitions::OnStartElement(const wchar_t*, const wchar_t* localName,
                                                     const CXMLAttributeList&, int32_t isEmpty) {
    currentElement_ = localName ? localName : L"";
    currentField_ = FieldOf(currentElement_);
    currentElementClosed_ = isEmpty != 0;
    if (isEmpty) {
        if (openElements_ == 0) complete_ = true;  // an empty root element
    } else {
        ++openElements_;
    }
    if (kx::EqualsNoCase(currentElement_, L"EventDefinition"))
        definitions_.push_back(std::make_unique<CXMLEventDefinition>());
    return 1;
}

int32_t CWorkstationEventDefinitions::OnEndElement(const wchar_t*, const wchar_t*) {
    currentElementClosed_ = true;
    if (openElements_ > 0 && --openElements_ == 0) complete_ = true;
    return 1;
}

int32_t CWorkstationEventDefinitions::OnText(const wchar_t* value) {
    std::wstring text = value ? value : L"";
    if (currentElementClosed_ && IsBlank(text)) return 1;
    ApplyText(text);
    return 1;
}

void CWorkstationEventDefinitions::ApplyText(const std::wstring& text) {
    switch (currentField_) {
        case Field::None:
            return;
        case Field::Error:
            errorText_ = text;
            return;
        case Field::Success:
            success_ = IsTrue(text) ? 1 : 0;
            return;
        case Field::StringNumber:
        case Field::StringValue:
        case Field::PropertyCode:
        case Field::PropertyValue:
        case Field::PropertyType:
        case Field::StoreInDatabase:
            ApplyRuleField(LastDefinition(), text);
            return;
        default:
            ApplyDefinitionField(LastDefinition(), text);
            return;
    }
}

CXMLEventDefinition& CWorkstationEventDefinitions::LastDefinition() {
    if (definitions_.empty()) throw CMissingRecord{currentElement_};
    return *definitions_.back();
}

void CWorkstationEventDefinitions::ApplyDefinitionField(CXMLEventDefinition& definition,
                                                        const std::wstring& text) {
    switch (currentField_) {
        case Field::EventDefinitionID:
            definition.EventDefinitionID = text;
            break;
        case Field::DefinitionName:
            definition.DefinitionName = text;
            break;
        case Field::DefinitionType:
            definition.DefinitionType = text;
            break;
        case Field::EventDefinitionCode:
            definition.EventDefinitionCode = text;
            break;
        case Field::ADVersion:
            definition.ADVersion = text;
            break;
        case Field::LogName:
            definition.LogName = text;
            break;
        case Field::EventCategory:
            definition.EventCategory = text;
            break;
        case Field::EventCategoryID:
            definition.EventCategoryID = kx::ParseDecimal(text);
            break;
        case Field::EventSource:
            definition.EventSource = text;
            break;
        case Field::EventType:
            definition.EventType = text;
            break;
        case Field::EventTypeID:
            definition.EventTypeID = kx::ParseDecimal(text);
            break;
        case Field::EventCode:
            definition.EventCode = kx::ParseDecimal(text);
            // A pre-test stays right even when ParseXml runs without LoadFromXml;
            // LoadFromXml rebuilds the set afterwards for overwritten codes.
            if (definition.EventCode >= 0 && definition.EventCode <= 0xFFFF)
                candidates_.set(static_cast<std::size_t>(definition.EventCode));
            break;
        case Field::Priority:
            definition.Priority = kx::ParseDecimal(text);
            break;
        case Field::IsIncluded:
            definition.IsIncluded = IsTrue(text) ? 1 : 0;
            break;
        case Field::IsEnabled:
            definition.IsEnabled = IsTrue(text) ? 1 : 0;
            break;
        case Field::IsHidden:
            definition.IsHidden = IsTrue(text) ? 1 : 0;
            break;
        case Field::FormatText:
            definition.FormatText = text;
            break;
        default:
            break;
    }
}

void CWorkstationEventDefinitions::ApplyRuleField(CXMLEventDefinition& definition,
                                                  const std::wstring& text) {
    if (currentField_ == Field::StringNumber) {
        definition.AddStringRule().StringNumber = kx::ParseDecimal(text);
        return;
    }
    if (currentField_ == Field::PropertyCode) {
        definition.AddPropertyRule().PropertyCode = text;
        return;
    }
    if (currentField_ == Field::StringValue) {
        CXMLEventDefinitionString* rule = definition.LastStringRule();
        if (!rule) throw CMissingRecord{currentElement_};
        rule->StringValue = text;
        return;
    }
    CXMLEventDefinitionProperty* rule = definition.LastPropertyRule();
    if (!rule) throw CMissingRecord{currentElement_};
    if (currentField_ == Field::PropertyValue) rule->PropertyValue = text;
    if (currentField_ == Field::PropertyType) rule->PropertyType = text;
    if (currentField_ == Field::StoreInDatabase) rule->StoreInDatabase = IsTrue(text) ? 1 : 0;
}

CXMLEventDefinition* CWorkstationEventDefinitions::FindDefinition(CEventLogEntry* record) const {
    if (!record) return nullptr;
    for (const auto& definition : definitions_)
        if (definition->Selects(*record)) return definition.get();
    return nullptr;
}
