#pragma once

// A TCP proxy on 127.0.0.1 for tests of a server that stops answering: it forwards every
// connection to a target port on its own thread, and once told to stall it stops passing the
// server's bytes on after a given number of them, keeping both connections open.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <QtGlobal>

namespace qorv::test {

class tcp_proxy {
public:
    /// Listens on a free loopback port and forwards to 127.0.0.1:`target_port`.
    explicit tcp_proxy(int target_port) : target_port_(target_port)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(0);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 16) != 0)
            qFatal("tcp_proxy: cannot listen on the loopback interface");
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~tcp_proxy()
    {
        stop_ = true;
        thread_.join();
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
        ::close(listener_);
    }
    tcp_proxy(const tcp_proxy&) = delete;
    tcp_proxy& operator=(const tcp_proxy&) = delete;

    int port() const { return port_; }
    /// From now on, pass at most `bytes` more bytes from the server, then nothing.
    void stall_after(std::int64_t bytes) { allowance_ = bytes; }
    /// True once the allowance is used up.
    bool stalled() const { return allowance_ == 0; }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(std::uint16_t(port));
        return addr;
    }

    void run()
    {
        // fds_ holds pairs: client, server.
        std::vector<char> buffer(64 * 1024);
        while (!stop_) {
            std::vector<pollfd> polled{{listener_, POLLIN, 0}};
            for (std::size_t i = 0; i < fds_.size(); ++i) {
                const bool from_server = i % 2 == 1;
                const bool blocked = from_server && allowance_ == 0;
                polled.push_back({fds_[i], short(blocked ? 0 : POLLIN), 0});
            }
            if (::poll(polled.data(), polled.size(), 50) <= 0)
                continue;
            if (polled[0].revents & POLLIN) {
                const int client = ::accept(listener_, nullptr, nullptr);
                const int server = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in addr = loopback(target_port_);
                // A refused connection needs nothing here: the socket reads as closed below.
                static_cast<void>(
                    ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
                fds_.push_back(client);
                fds_.push_back(server);
            }
            for (std::size_t i = 1; i < polled.size(); ++i) {
                if (!(polled[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const std::size_t from = i - 1;
                const bool from_server = from % 2 == 1;
                std::size_t want = buffer.size();
                if (from_server && allowance_ >= 0)
                    want = std::size_t(std::min<std::int64_t>(std::int64_t(want), allowance_));
                if (want == 0)
                    continue;
                const ssize_t n = ::read(fds_[from], buffer.data(), want);
                if (n <= 0) { // a closed side is no longer polled
                    ::close(fds_[from]);
                    fds_[from] = -1;
                    continue;
                }
                if (from_server && allowance_ >= 0)
                    allowance_ -= n;
                const int to = fds_[from_server ? from - 1 : from + 1];
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(to, buffer.data() + done, std::size_t(n - done));
                    if (w <= 0)
                        break;
                    done += w;
                }
            }
        }
    }

    int target_port_;
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fds_;
    std::atomic<std::int64_t> allowance_{-1}; // -1: unlimited
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace qorv::test
