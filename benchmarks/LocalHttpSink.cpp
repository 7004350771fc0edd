#include "LocalHttpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

std::size_t ContentLength(const std::string& headers) {
    for (const char* name : {"Content-Length:", "content-length:"}) {
        const std::size_t at = headers.find(name);
        if (at != std::string::npos) return std::strtoull(headers.c_str() + at + 15, nullptr, 10);
    }
    return 0;
}

}  // namespace

CLocalHttpSink::CLocalHttpSink() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

CLocalHttpSink::~CLocalHttpSink() {
    stopping_ = true;
    if (listener_ >= 0) {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
    }
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& connection : connections_) connection.join();
}

void CLocalHttpSink::AcceptLoop() {
    while (!stopping_) {
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) break;
        const int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        connections_.emplace_back([this, connection] { Serve(connection); });
    }
}

// Reads requests (headers, then Content-Length bytes of body) until the
// client closes, answering each.
void CLocalHttpSink::Serve(int connection) {
    std::string pending;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::size_t total = end + 4 + ContentLength(pending.substr(0, end));
            if (pending.size() >= total) {
                bodyBytes_ += total - end - 4;
                ++requests_;
                pending.erase(0, total);
                if (send(connection, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL) < 0) break;
                continue;
            }
        }
        const ssize_t got = recv(connection, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        pending.append(buffer.data(), static_cast<std::size_t>(got));
    }
    close(connection);
}
