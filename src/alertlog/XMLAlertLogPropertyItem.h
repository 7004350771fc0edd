#pragma once
// One named property of an alert item, derived by a property rule.

#include <string>

class CXMLAlertLogPropertyItem {
public:
    std::wstring PropertyCode;
    std::wstring PropertyValue;
};
