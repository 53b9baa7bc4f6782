#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <httplib.h>

#include <thread>

namespace orvane::test {

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
inline int freeLocalPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

// An HTTP server on a thread of its own, on a free loopback port; register handlers on
// `server()` before the first request arrives.
class LocalHTTPServer {
public:
    LocalHTTPServer() {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        // The socket already listens: connections wait in its backlog until the loop runs.
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() before the loop runs is ignored, and the join would then wait for ever.
        while (!m_server.is_running()) {
            std::this_thread::yield();
        }
    }
    ~LocalHTTPServer() {
        m_server.stop();
        m_thread.join();
    }
    LocalHTTPServer(const LocalHTTPServer&) = delete;
    LocalHTTPServer& operator=(const LocalHTTPServer&) = delete;

    httplib::Server& server() { return m_server; }
    int port() const { return m_port; }
    QUrl url(const char* path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path)));
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace orvane::test
