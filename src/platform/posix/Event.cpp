#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Process.h"

namespace kx::platform {
namespace {

struct EventObject {
    bool manualReset;
    bool signalled;
};

// One lock and one condition for all events: signals are rare and waiters few,
// and a wait on several events needs no registration with each of them.
std::mutex g_mutex;
std::condition_variable g_changed;

EventObject* Object(EventHandle handle) {
    return static_cast<EventObject*>(handle);
}

// Index of the first signalled event, consuming an auto-reset signal.
bool TakeSignal(const EventHandle* events, uint32_t count, uint32_t* index) {
    for (uint32_t i = 0; i < count; ++i) {
        EventObject* event = Object(events[i]);
        if (event->signalled) {
            if (!event->manualReset) event->signalled = false;
            *index = i;
            return true;
        }
    }
    return false;
}

}  // namespace

EventHandle CreateEventObject(bool manualReset, bool initiallySignalled) {
    return new EventObject{manualReset, initiallySignalled};
}

bool SetEventObject(EventHandle event) {
    if (!event) return false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Object(event)->signalled = true;
    }
    g_changed.notify_all();
    return true;
}

bool ResetEventObject(EventHandle event) {
    if (!event) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    Object(event)->signalled = false;
    return true;
}

void CloseEventObject(EventHandle event) {
    delete Object(event);
}

uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count, uint32_t timeoutMilliseconds) {
    if (!events || count == 0 || count > kMaximumWaitObjects) {
        SetLastErrorCode(87);
        return kWaitFailed;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!events[i]) {
            SetLastErrorCode(6);
            return kWaitFailed;
        }
    }
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    std::unique_lock<std::mutex> lock(g_mutex);
    uint32_t index = 0;
    while (!TakeSignal(events, count, &index)) {
        if (timeoutMilliseconds == kInfinite) {
            g_changed.wait(lock);
        } else if (g_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (TakeSignal(events, count, &index)) break;
            return kWaitTimeout;
        }
    }
    return index;
}

uint32_t WaitForEvent(EventHandle event, uint32_t timeoutMilliseconds) {
    return WaitForAnyEvent(&event, 1, timeoutMilliseconds);
}

}  // namespace kx::platform
