#pragma once
// The diagnostic log's writer thread: receives log lines from every thread
// through its queue and hands them, in arrival order, to the line handler.
// An exception of the handler ends only the line it was handling.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CLoggerThread {
public:
    // Identity of a log-line request in the queue.
    static constexpr uint32_t kLogLineMessage = 1125;  // WM_USER + 101
    static constexpr int kInitialThreshold = 5;

    using LineHandler = std::function<void(const std::wstring& text, uint32_t threadId)>;

    explicit CLoggerThread(LineHandler handler);
    ~CLoggerThread();
    CLoggerThread(const CLoggerThread&) = delete;
    CLoggerThread& operator=(const CLoggerThread&) = delete;

    bool Start();
    bool IsRunning() const { return running_.load(std::memory_order_acquire); }
    // Queues a line; false (the line is lost) when the thread is not running.
    bool PostLine(std::wstring text, uint32_t threadId);
    // Returns once every line queued before the call has been handled.
    void WaitUntilIdle();
    // Asks the thread to quit after the lines queued before and waits for it.
    void Quit();

    int GetThreshold() const { return threshold_.load(std::memory_order_relaxed); }
    void SetThreshold(int level) { threshold_.store(level, std::memory_order_relaxed); }

private:
    struct Message {
        uint32_t id;
        std::wstring text;
        uint32_t threadId;
    };

    void Run();
    void HandleLine(const Message& message) noexcept;

    LineHandler handler_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable handled_;
    std::deque<Message> queue_;
    uint64_t posted_ = 0;
    uint64_t done_ = 0;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> threshold_{kInitialThreshold};
};
