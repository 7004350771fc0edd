#include "AlertTable.h"

#include <algorithm>

#include "alertlog/XMLAlertLogItem.h"

namespace {

constexpr std::size_t kTimeWidth = 19;  // "2026-12-09 10:24:53"

std::wstring AccountOf(const CXMLAlertLogItem& alert) {
    return alert.AccountName.empty() ? alert.AccountSID : alert.AccountName;
}

}  // namespace

std::wstring CAlertTable::Render(const std::vector<std::unique_ptr<CXMLAlertLogItem>>& alerts) {
    std::size_t codeWidth = 4;
    std::size_t accountWidth = 7;
    std::size_t computerWidth = 8;
    for (const auto& alert : alerts) {
        codeWidth = std::max(codeWidth, alert->EventDefinitionCode.size());
        accountWidth = std::max(accountWidth, AccountOf(*alert).size());
        computerWidth = std::max(computerWidth, alert->ComputerName.size());
    }
    std::wstring table = Pad(L"Code", codeWidth) + Pad(L"Time (UTC)", kTimeWidth) +
                         Pad(L"Account", accountWidth) + Pad(L"Computer", computerWidth) +
                         L"Action";
    for (const auto& alert : alerts) {
        table += L"\n" + Pad(alert->EventDefinitionCode, codeWidth) +
                 Pad(CXMLAlertLogItem::RenderTimeGenerated(alert->TimeGenerated), kTimeWidth) +
                 Pad(AccountOf(*alert), accountWidth) + Pad(alert->ComputerName, computerWidth) +
                 alert->ActionText;
        for (const auto& property : alert->Properties) {
            table += L"\n" + std::wstring(codeWidth + 2, L' ') + property->PropertyCode + L" = " +
                     property->PropertyValue;
        }
    }
    return table;
}

std::wstring CAlertTable::Pad(const std::wstring& text, std::size_t width) {
    return text + std::wstring(width - std::min(width, text.size()) + 2, L' ');
}
