#include "definitions/XMLEventDefinition.h"

#include "BaseClasses/EventLogEntry.h"
#include "common/Text.h"

CXMLEventDefinitionString& CXMLEventDefinition::AddStringRule() {
    StringRules.push_back(std::make_unique<CXMLEventDefinitionString>());
    return *StringRules.back();
}

CXMLEventDefinitionProperty& CXMLEventDefinition::AddPropertyRule() {
    PropertyRules.push_back(std::make_unique<CXMLEventDefinitionProperty>());
    return *PropertyRules.back();
}

CXMLEventDefinitionString* CXMLEventDefinition::LastStringRule() {
    return StringRules.empty() ? nullptr : StringRules.back().get();
}

CXMLEventDefinitionProperty* CXMLEventDefinition::LastPropertyRule() {
    return PropertyRules.empty() ? nullptr : PropertyRules.back().get();
}

bool CXMLEventDefinition::PassesStringRules(CEventLogEntry& record) const {
    for (const auto& rule : StringRules) {
        if (rule->StringNumber < 1 || rule->StringNumber > record.GetStringCount()) continue;
        const std::wstring& text =
            record.GetString(static_cast<uint16_t>(rule->StringNumber - 1), true);
        if (!CXMLEventDefinitionString::MatchStringRule(rule->StringValue, text)) return false;
    }
    return true;
}

// The definition's numbers are compared whole: a code of 70000 is no 4464.
bool CXMLEventDefinition::Selects(CEventLogEntry& record) const {
    return EventCode == int32_t{record.GetEventId()} &&
           EventTypeID == int32_t{record.GetEventType()} &&
           kx::EqualsNoCase(EventSource, record.GetSourceName()) &&
           kx::EqualsNoCase(LogName, record.GetLogName()) && PassesStringRules(record) &&
           IsEnabled != 0 && IsIncluded != 0;
}
