#include "service/App.h"

#include "service/KXWkstnSvc.h"
#include "service/NTServiceCommandLineInfo.h"

bool CApp::InitInstance(const std::vector<std::wstring>& arguments) {
    CNTServiceCommandLineInfo info;
    CKXWkstnSvc service;
    service.SetProcessArguments(arguments);
    service.AddDependency(L"lanmanworkstation");
    service.SetStartType(kx::platform::kServiceAutoStart);
    service.SetServiceType(kx::platform::kServiceWin32OwnProcess |
                           kx::platform::kServiceInteractiveProcess);
    service.ParseCommandLine(info);
    exitCode_ = service.ProcessCommand(info);
    return false;
}
