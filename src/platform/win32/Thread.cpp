#include "platform/Thread.h"

#include <windows.h>

namespace kx::platform {
namespace {

struct Launch {
    CNativeThread::Procedure procedure;
    void* parameter;
};

DWORD WINAPI ThreadEntry(LPVOID argument) {
    Launch launch = *static_cast<Launch*>(argument);
    delete static_cast<Launch*>(argument);
    launch.procedure(launch.parameter);
    return 0;
}

}  // namespace

struct CNativeThread::State {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

CNativeThread::CNativeThread() : state_(std::make_unique<State>()) {}

CNativeThread::~CNativeThread() {
    Close();
}

bool CNativeThread::Start(Procedure procedure, void* parameter, int priority) {
    if (state_->handle) return false;
    auto* launch = new Launch{procedure, parameter};
    HANDLE handle = CreateThread(nullptr, 0, ThreadEntry, launch, CREATE_SUSPENDED, &state_->id);
    if (!handle) {
        delete launch;
        return false;
    }
    state_->handle = handle;
    SetThreadPriority(handle, priority);
    ResumeThread(handle);
    return true;
}

bool CNativeThread::IsStarted() const {
    return state_->handle != nullptr;
}

uint32_t CNativeThread::GetId() const {
    return state_->id;
}

bool CNativeThread::SetPriority(int priority) {
    return state_->handle && SetThreadPriority(state_->handle, priority);
}

bool CNativeThread::ForceEnd() {
    DWORD exitCode = 0;
    if (!GetExitCodeThread(state_->handle, &exitCode)) return false;
    if (!TerminateThread(state_->handle, exitCode)) return false;
    return true;
}

void CNativeThread::Close() {
    if (!state_->handle) return;
    if (GetCurrentThreadId() != state_->id) WaitForSingleObject(state_->handle, INFINITE);
    CloseHandle(state_->handle);
    state_->handle = nullptr;
    state_->id = 0;
}

}  // namespace kx::platform
