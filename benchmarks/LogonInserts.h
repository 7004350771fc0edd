#pragma once
// The insertion strings of a typical 4624 logon (20 of them, as Windows 7
// writes the event), shared by the benchmarks that format its message.

#include <string>
#include <vector>

inline std::vector<std::wstring> LogonInserts() {
    return {L"S-1-5-18",
            L"WKS01$",
            L"CORP",
            L"0x3e7",
            L"S-1-5-21-1004336348-1177238915-682003330-1104",
            L"alice",
            L"CORP",
            L"0x1d3a5b2",
            L"2",
            L"User32",
            L"Negotiate",
            L"WKS01",
            L"{00000000-0000-0000-0000-000000000000}",
            L"-",
            L"-",
            L"0",
            L"0x2f4",
            L"C:\\Windows\\System32\\svchost.exe",
            L"127.0.0.1",
            L"0"};
}
