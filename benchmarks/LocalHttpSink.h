#pragma once
// An HTTP sink on 127.0.0.1 that answers every request at once with an empty
// 200, so that a benchmark of posting measures the client and not a server.
// Linux only, as the benchmarks are.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class CLocalHttpSink {
public:
    CLocalHttpSink();  // listens on a free port
    ~CLocalHttpSink();
    CLocalHttpSink(const CLocalHttpSink&) = delete;
    CLocalHttpSink& operator=(const CLocalHttpSink&) = delete;

    bool Listening() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    uint64_t Requests() const { return requests_; }
    uint64_t BodyBytes() const { return bodyBytes_; }

private:
    void AcceptLoop();
    void Serve(int connection);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> bodyBytes_{0};
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};
