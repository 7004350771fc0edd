#include "platform/Com.h"

namespace kx::platform {

// COM does not exist on Linux; the calls succeed and do nothing.
bool ComInitializeApartmentThreaded() {
    return true;
}
bool ComInitializeMultithreaded() {
    return true;
}
void ComUninitialize() {}

}  // namespace kx::platform
