// kxpreview: the offline check. Prints the alerts that the agent would send
// for a set of records, as a table and, on request, as the alert documents
// it would post. See kUsage.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "PreviewRun.h"
#include "ToolError.h"
#include "ToolMain.h"
#include "common/Text.h"

namespace {

constexpr const char* kUsage =
    "usage: kxpreview [--definitions FILE] [--evtx FILE.evtx...] [--documents]\n"
    "                 [--from-oldest] [--seconds N]\n"
    "  Prints the alerts that the agent would send, built by the agent's own\n"
    "  matching and item building: one line per alert (code, time, account,\n"
    "  computer, action text) with its properties below it.\n"
    "  --definitions FILE  the definitions document to use (UTF-8, or UTF-16LE\n"
    "                      with its byte order mark); without it the definitions\n"
    "                      are refreshed from the server that the policy names\n"
    "  --evtx FILE...      the records of recorded Windows logs (Linux only);\n"
    "                      without it the machine's Security log, from the first\n"
    "                      record of the last 14 days (--from-oldest: from the\n"
    "                      oldest record), waiting at most --seconds (default 60)\n"
    "  --documents         also print each alert document as it would be posted\n"
    "  Message texts, accounts and directory lookups come from this machine.\n";

int Usage(bool asked) {
    std::fputs(kUsage, asked ? stdout : stderr);
    return asked ? 0 : kExitUsage;
}

}  // namespace

int RunTool(const std::vector<std::wstring>& args) {
    CPreviewOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"--from-oldest") {
            options.fromOldest = true;
        } else if (arg == L"--documents") {
            options.documents = true;
        } else if (arg == L"--definitions" && hasValue) {
            options.definitionsFile = args[++i];
        } else if (arg == L"--seconds" && hasValue && kx::ParseDecimal(args[i + 1]) > 0) {
            options.timeoutSeconds = static_cast<uint32_t>(kx::ParseDecimal(args[++i]));
        } else if (arg == L"--evtx" && hasValue) {
            while (i + 1 < args.size() && args[i + 1].compare(0, 2, L"--") != 0)
                options.evtxFiles.push_back(args[++i]);
        } else {
            return Usage(arg == L"--help");
        }
    }
    try {
        return CPreviewRun(std::move(options)).Run();
    } catch (const CToolError& error) {
        std::fprintf(stderr, "kxpreview: %s\n", error.what());
        return error.ExitCode();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kxpreview: %s\n", error.what());
        return kExitFailure;
    }
}
