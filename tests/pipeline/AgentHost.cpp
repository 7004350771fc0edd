// Runs the agent (CWorkstationAuditAgent) in a process of its own until it is
// asked to stop (SIGTERM or SIGINT), for the tests that start, stop and kill
// a real agent. It prints "running" once the agent has started and
// "stopped" once it has stopped.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "service/WorkstationAuditAgent.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

}  // namespace

int main() {
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    {
        CWorkstationAuditAgent agent;
        std::puts("running");
        std::fflush(stdout);
        while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::puts("stopped");
    std::fflush(stdout);
    return 0;
}
