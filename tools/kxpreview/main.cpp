// kxpreview: the agent's pieces that exist today, run end to end on this
// machine. It refreshes the event definitions from the server named by the
// policy (KFSServer, KFSPort), reads the Security log with the collector from
// the first record of the last 14 days (or the oldest), and prints each record that a
// definition's event code selects. It writes the diagnostic log
// "BWAgentSvc.log" next to itself at the configured LoggingLevel.

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "PreviewRun.h"
#include "ToolMain.h"
#include "common/Text.h"
#include "platform/CodePage.h"

namespace {

constexpr const char* kUsage =
    "usage: kxpreview [--seconds N] [--from-oldest]\n"
    "  Refreshes the event definitions from the server, reads the Security log\n"
    "  from the first record of the last 14 days (--from-oldest: from the oldest\n"
    "  record) to the newest, and prints the records that a definition selects.\n"
    "  --seconds limits the wait (default 60).\n";

}  // namespace

int RunTool(const std::vector<std::wstring>& args) {
    uint32_t seconds = 60;
    int32_t limitDays = 14;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--from-oldest") {
            limitDays = -1;
        } else if (args[i] == L"--seconds" && i + 1 < args.size() &&
                   kx::ParseDecimal(args[i + 1]) > 0) {
            seconds = static_cast<uint32_t>(kx::ParseDecimal(args[++i]));
        } else {
            std::fputs(kUsage, args[i] == L"--help" ? stdout : stderr);
            return args[i] == L"--help" ? 0 : 2;
        }
    }
    return CPreviewRun(seconds, limitDays).Run();
}
