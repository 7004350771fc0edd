#include <cstdio>
#include <string>
#include <vector>

#include "RegCommand.h"
#include "ToolMain.h"
#include "platform/CodePage.h"

int RunTool(const std::vector<std::wstring>& args) {
    CRegCommand command;
    int result = command.Run(args);
    std::fputs(kx::platform::WideToAnsi(command.Output()).c_str(), stdout);
    std::fputs(kx::platform::WideToAnsi(command.Errors()).c_str(), stderr);
    return result;
}
