// The agent's executable: the service, its installer and its controller.

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "service/App.h"

namespace {

int RunApp(const std::vector<std::wstring>& arguments) {
    CApp app;
    app.InitInstance(arguments);
    return app.ExitInstance();
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return RunApp(std::vector<std::wstring>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(kx::platform::AnsiToWide(argv[i]));
    return RunApp(arguments);
}
#endif
