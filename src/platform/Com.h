#pragma once
// COM apartment initialisation for threads that use COM on Windows; nothing on Linux.

namespace kx::platform {

bool ComInitializeApartmentThreaded();  // CoInitialize(nullptr)
bool ComInitializeMultithreaded();      // CoInitializeEx(nullptr, COINIT_MULTITHREADED)
void ComUninitialize();

}  // namespace kx::platform
