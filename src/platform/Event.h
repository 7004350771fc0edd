#pragma once
// Waitable events (CreateEventW on Windows, a condition-variable stand-in on
// Linux) and the wait for any one of several.

#include <cstdint>

namespace kx::platform {

using EventHandle = void*;

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr uint32_t kMaximumWaitObjects = 64;

// Unnamed, no security attributes.
EventHandle CreateEventObject(bool manualReset, bool initiallySignalled);
bool SetEventObject(EventHandle event);
bool ResetEventObject(EventHandle event);
void CloseEventObject(EventHandle event);

// Waits until one of the events is signalled; returns its index (an
// auto-reset event is reset by the wait), kWaitTimeout or kWaitFailed.
// The lowest index wins when several are signalled.
uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count, uint32_t timeoutMilliseconds);
uint32_t WaitForEvent(EventHandle event, uint32_t timeoutMilliseconds);

}  // namespace kx::platform
