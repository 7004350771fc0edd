// kxeventlog: see CEventLogTool::HelpText.
#include <cstdio>

#include "EventLogTool.h"
#include "ToolMain.h"

int RunTool(const std::vector<std::wstring>& arguments) {
    return CEventLogTool(stdout, stderr).Run(arguments);
}
