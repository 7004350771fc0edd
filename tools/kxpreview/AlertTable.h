#pragma once
// The alerts of a preview as a table for people: one line per alert (code,
// local time, account, computer, action text), its properties indented
// below it.

#include <memory>
#include <string>
#include <vector>

class CXMLAlertLogItem;

class CAlertTable {
public:
    static std::wstring Render(const std::vector<std::unique_ptr<CXMLAlertLogItem>>& alerts);

private:
    static std::wstring Pad(const std::wstring& text, std::size_t width);
};
