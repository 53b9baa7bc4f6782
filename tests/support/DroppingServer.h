#pragma once

#include <QString>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace orvane::test {

// A raw TCP listener on 127.0.0.1 that never answers: it either closes each connection before
// reading anything, or reads one whole HTTP request and then resets the connection. Counts
// what it saw, so a test can tell a request that was sent again.
class DroppingServer {
public:
    enum class Mode { closeBeforeReading, readThenReset };

    explicit DroppingServer(Mode mode) : m_mode(mode) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, asGeneric(&address), length) != 0 ||
            ::listen(m_listener, 16) != 0 ||
            ::getsockname(m_listener, asGeneric(&address), &length) != 0) {
            throw std::runtime_error("DroppingServer: cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~DroppingServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    DroppingServer(const DroppingServer&) = delete;
    DroppingServer& operator=(const DroppingServer&) = delete;

    QUrl url(const char* path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path)));
    }
    int connections() const { return m_connections; }
    int requests() const { return m_requests; }

private:
    static sockaddr* asGeneric(sockaddr_in* address) {
        return reinterpret_cast<sockaddr*>(address);
    }

    static bool readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 50) > 0;
    }

    void run() {
        while (!m_stop) {
            if (!readable(m_listener)) {
                continue;
            }
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            ++m_connections;
            if (m_mode == Mode::readThenReset && readRequest(fd)) {
                ++m_requests;
                const linger abort{1, 0}; // close sends a reset, not an orderly end
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            ::close(fd);
        }
    }

    // Headers and a Content-Length body, whatever the method.
    bool readRequest(int fd) {
        std::string text;
        char buffer[4096];
        for (int idle = 0; idle < 40 && !m_stop;) {
            const std::size_t end = text.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::size_t length = 0;
                const std::size_t field = text.find("Content-Length:");
                if (field != std::string::npos && field < end) {
                    length = std::strtoul(text.c_str() + field + 15, nullptr, 10);
                }
                if (text.size() >= end + 4 + length) {
                    return true;
                }
            }
            if (!readable(fd)) {
                ++idle;
                continue;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return false;
    }

    Mode m_mode;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

} // namespace orvane::test
