#pragma once
// The entry point of a tool: its arguments as wide texts on both platforms
// (wmain on Windows, the ANSI code page, UTF-8, on Linux), handed to the
// tool's RunTool. Included by exactly one source file of each tool.

#include <string>
#include <vector>

#include "platform/CodePage.h"

int RunTool(const std::vector<std::wstring>& arguments);

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return RunTool(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kx::platform::AnsiToWide(argv[i]));
    return RunTool(arguments);
}
#endif
