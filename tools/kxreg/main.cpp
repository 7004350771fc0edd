#include <cstdio>
#include <string>
#include <vector>

#include "RegCommand.h"
#include "platform/CodePage.h"

namespace {

int Run(std::vector<std::wstring> args) {
    CRegCommand command;
    int result = command.Run(args);
    std::fputs(kx::platform::WideToAnsi(command.Output()).c_str(), stdout);
    std::fputs(kx::platform::WideToAnsi(command.Errors()).c_str(), stderr);
    return result;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return Run(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(kx::platform::AnsiToWide(argv[i]));
    return Run(args);
}
#endif
