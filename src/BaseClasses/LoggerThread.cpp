#include "BaseClasses/LoggerThread.h"

#include "platform/Com.h"

namespace {

constexpr uint32_t kQuitMessage = 0x0012;  // WM_QUIT

}  // namespace

CLoggerThread::CLoggerThread(LineHandler handler) : handler_(std::move(handler)) {}

CLoggerThread::~CLoggerThread() {
    Quit();
}

bool CLoggerThread::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return true;
    if (thread_.joinable()) return false;  // a quit is under way
    running_ = true;
    thread_ = std::thread(&CLoggerThread::Run, this);
    return true;
}

bool CLoggerThread::PostLine(std::wstring text, uint32_t threadId) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return false;
        queue_.push_back(Message{kLogLineMessage, std::move(text), threadId});
        ++posted_;
    }
    arrived_.notify_one();
    return true;
}

void CLoggerThread::WaitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t target = posted_;
    handled_.wait(lock, [&] { return done_ >= target || !running_; });
}

void CLoggerThread::Quit() {
    std::thread ending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) {
            queue_.push_back(Message{kQuitMessage, std::wstring(), 0});
            ++posted_;
            running_ = false;
        }
        ending.swap(thread_);
    }
    arrived_.notify_one();
    if (ending.joinable()) ending.join();
}

// A line that cannot be written (memory runs out while it is formatted or
// converted) is lost; the thread, and the process with it, goes on.
void CLoggerThread::HandleLine(const Message& message) noexcept {
    try {
        handler_(message.text, message.threadId);
    } catch (...) {
    }
}

void CLoggerThread::Run() {
    kx::platform::ComInitializeMultithreaded();
    for (;;) {
        Message message;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            arrived_.wait(lock, [&] { return !queue_.empty(); });
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        if (message.id == kLogLineMessage) HandleLine(message);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++done_;
        }
        handled_.notify_all();
        if (message.id == kQuitMessage) break;
    }
    kx::platform::ComUninitialize();
}
