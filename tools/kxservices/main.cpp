#include <cstdio>
#include <string>
#include <vector>

#include "ServicesCommand.h"
#include "ToolMain.h"
#include "platform/CodePage.h"

int RunTool(const std::vector<std::wstring>& arguments) {
    CServicesCommand command;
    int result = command.Run(arguments);
    std::fputs(kx::platform::WideToAnsi(command.Output()).c_str(), stdout);
    std::fputs(kx::platform::WideToAnsi(command.Errors()).c_str(), stderr);
    return result;
}
