#include "platform/WineDetection.h"

namespace kx::platform {

bool IsRunningUnderWine() {
    return false;
}

}  // namespace kx::platform
