#include "platform/Thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

namespace kx::platform {
namespace {

// Windows priorities are relative to the process's class; nice values relative
// to the process's own nice value stand for them.
int NiceForPriority(int priority) {
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    int nice = base;
    switch (priority) {
        case kThreadPriorityIdle:
            nice = 19;
            break;
        case kThreadPriorityLowest:
            nice = base + 4;
            break;
        case kThreadPriorityBelowNormal:
            nice = base + 2;
            break;
        case kThreadPriorityAboveNormal:
            nice = base - 2;
            break;
        case kThreadPriorityHighest:
            nice = base - 4;
            break;
        case kThreadPriorityTimeCritical:
            nice = -20;
            break;
        default:
            break;
    }
    return std::clamp(nice, -20, 19);
}

bool ApplyPriority(uint32_t tid, int priority) {
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(priority)) == 0;
}

}  // namespace

struct CNativeThread::State {
    std::thread thread;
    std::atomic<uint32_t> id{0};
};

CNativeThread::CNativeThread() : state_(std::make_unique<State>()) {}

CNativeThread::~CNativeThread() {
    Close();
}

bool CNativeThread::Start(Procedure procedure, void* parameter, int priority) {
    if (state_->thread.joinable()) return false;
    std::promise<uint32_t> started;
    std::future<uint32_t> id = started.get_future();
    // The thread applies its priority to itself before it runs the procedure,
    // which is what a suspended start followed by a resume achieves on Windows.
    state_->thread = std::thread([procedure, parameter, priority, &started] {
        auto tid = static_cast<uint32_t>(syscall(SYS_gettid));
        ApplyPriority(tid, priority);
        started.set_value(tid);
        procedure(parameter);
    });
    state_->id = id.get();
    return true;
}

bool CNativeThread::IsStarted() const {
    return state_->thread.joinable();
}

uint32_t CNativeThread::GetId() const {
    return state_->id;
}

bool CNativeThread::SetPriority(int priority) {
    if (!state_->thread.joinable()) return false;
    return ApplyPriority(state_->id, priority);
}

bool CNativeThread::ForceEnd() {
    Close();
    return true;
}

void CNativeThread::Close() {
    if (state_->thread.joinable()) {
        if (state_->thread.get_id() == std::this_thread::get_id()) {
            state_->thread.detach();
        } else {
            state_->thread.join();
        }
    }
    state_->id = 0;
}

}  // namespace kx::platform
