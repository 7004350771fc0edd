#include "definitions/XMLEventDefinition.h"

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
