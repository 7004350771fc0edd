#pragma once

#include "common/Clock.h"

// The operating system's clock.
class CRealClock : public IClock {
public:
    uint32_t GetTickCount() override;
    void Sleep(uint32_t milliseconds) override;
    kx::SystemTime GetSystemTime() override;
    kx::SystemTime GetLocalTime() override;
};
