// kxeventlog: see CEventLogTool::HelpText.
#include <cstdio>
#include <string>
#include <vector>

#include "EventLogTool.h"
#include "common/Text.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return CEventLogTool(stdout, stderr).Run(arguments);
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kx::Utf8ToWide(argv[i]));
    return CEventLogTool(stdout, stderr).Run(arguments);
}
#endif
