#include "platform/Event.h"

#include <windows.h>

namespace kx::platform {

EventHandle CreateEventObject(bool manualReset, bool initiallySignalled) {
    return CreateEventW(nullptr, manualReset, initiallySignalled, nullptr);
}

bool SetEventObject(EventHandle event) {
    return SetEvent(event) != FALSE;
}

bool ResetEventObject(EventHandle event) {
    return ResetEvent(event) != FALSE;
}

void CloseEventObject(EventHandle event) {
    if (event) CloseHandle(event);
}

uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count, uint32_t timeoutMilliseconds) {
    DWORD result = WaitForMultipleObjects(count, events, FALSE, timeoutMilliseconds);
    if (result < WAIT_OBJECT_0 + count) return result - WAIT_OBJECT_0;
    if (result == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

uint32_t WaitForEvent(EventHandle event, uint32_t timeoutMilliseconds) {
    return WaitForAnyEvent(&event, 1, timeoutMilliseconds);
}

}  // namespace kx::platform
