#include "platform/Com.h"

#include <objbase.h>

namespace kx::platform {

bool ComInitializeApartmentThreaded() {
    return SUCCEEDED(CoInitialize(nullptr));
}

bool ComInitializeMultithreaded() {
    return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void ComUninitialize() {
    CoUninitialize();
}

}  // namespace kx::platform
