#pragma once
// The commands of kxservices, which runs the Linux machine's services the
// way Windows does at boot and shutdown:
//   boot [--timeout MS]      starts every automatic-start service (Start 2),
//                            the installed services it depends on first, and
//                            waits until each runs
//   shutdown [--timeout MS]  stops every running service that accepts a stop
//                            and waits until each has stopped
//   list                     every installed service with its state
// Output and errors are collected as text; the result is the exit code (0
// success, 1 a service failed, 2 a wrong command line).

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"

class CServicesCommand {
public:
    int Run(const std::vector<std::wstring>& arguments);
    const std::wstring& Output() const { return output_; }
    const std::wstring& Errors() const { return errors_; }

private:
    struct Service {
        std::wstring name;
        uint32_t startType = 0;
        std::vector<std::wstring> dependencies;
    };

    void ReadServices();
    int Boot();
    int Shutdown();
    int List();
    bool StartWithDependencies(const Service& service, std::set<std::wstring>& visited);
    bool StartOne(const std::wstring& name);
    bool StopOne(const std::wstring& name);
    bool WaitForState(kx::platform::ServiceHandle service, uint32_t state);
    const Service* Find(const std::wstring& name) const;
    void Fail(const std::wstring& name, const std::wstring& what, uint32_t error);

    kx::platform::IServiceControl& control_ = kx::platform::GetServiceControl();
    kx::platform::ServiceHandle manager_ = nullptr;
    std::vector<Service> services_;
    uint32_t timeout_ = 30000;
    std::wstring output_;
    std::wstring errors_;
};
