// A printer on a local port for the label tests: what a CUPS raw queue
// (socket://127.0.0.1:PORT) sends it, byte for byte.
#pragma once

#include <QByteArray>
#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bms::test {

// Listens on a free port of 127.0.0.1; each take() is one connection.
class SocketPrinter {
public:
    SocketPrinter()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t n = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
    }
    ~SocketPrinter() { ::close(fd_); }
    int port() const { return port_; }
    // The bytes of the next connection, read until its end; given `release`,
    // the connection is held open unread until it is set.
    std::future<QByteArray> take(std::shared_future<void> release = {})
    {
        return std::async(std::launch::async, [this, release] {
            const int c = ::accept(fd_, nullptr, nullptr);
            QByteArray got;
            if (release.valid())
                release.wait();
            char buffer[4096];
            ssize_t n;
            while (c >= 0 && (n = ::read(c, buffer, sizeof buffer)) > 0)
                got.append(buffer, n);
            ::close(c);
            return got;
        });
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace bms::test
