#pragma once
// The first record of the recorded log "pwd_reset_4724_4738.evtx": a 4624
// logon whose 27 insertion strings are these EventData values, in order, as
// evtxexport shows them.

#include <string>
#include <vector>

inline const std::vector<std::wstring>& RecordedLogonStrings() {
    static const std::vector<std::wstring> strings = {
        L"S-1-0-0",
        L"-",
        L"-",
        L"0x0000000000000000",
        L"S-1-5-21-4230534742-2542757381-3142984815-1111",
        L"admmig",
        L"OFFSEC.LAN",
        L"0x000000010e6e8ef8",
        L"3",
        L"Kerberos",
        L"Kerberos",
        L"-",
        L"{4A99FB41-3D1C-317C-6C30-6C1A1706259B}",
        L"-",
        L"-",
        L"0",
        L"0x0000000000000000",
        L"-",
        L"10.23.23.9",
        L"59450",
        L"%%1840",
        L"-",
        L"-",
        L"-",
        L"%%1843",
        L"0x0000000000000000",
        L"%%1842"};
    return strings;
}
