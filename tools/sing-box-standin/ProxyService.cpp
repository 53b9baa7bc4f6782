#include "ProxyService.h"

#include "ProxySession.h"
#include "StandinLog.h"

#include <QHostAddress>
#include <QSet>
#include <QTcpServer>

#include <optional>

namespace orvane {

namespace {

std::optional<QHostAddress> listenAddress(const QString& listen) {
    if (listen == QLatin1String("localhost")) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    const QHostAddress address(listen);
    if (address.isNull()) {
        return std::nullopt;
    }
    return address;
}

QString endpoint(const QString& address, quint16 port) {
    return (address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']')
                                               : address) +
           QLatin1Char(':') + QString::number(port);
}

// The wording of the system call failures, which the client looks for ("bind:").
QString bindFailure(QAbstractSocket::SocketError error, const QString& fallback) {
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("address already in use");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("cannot assign requested address");
    default:
        return fallback.toLower();
    }
}

} // namespace

ProxyService::ProxyService(QObject* parent) : QObject(parent) {}

QString ProxyService::apply(std::shared_ptr<const StandinConfig> config) {
    // Every address is checked before anything changes.
    std::map<Key, StandinConfig::Inbound> wanted;
    QList<std::pair<Key, StandinConfig::Inbound>> order;
    for (const StandinConfig::Inbound& inbound : config->inbounds()) {
        const std::optional<QHostAddress> address = listenAddress(inbound.listen);
        const QString where = QStringLiteral("start service: start %1: listen tcp %2: ")
                                  .arg(inbound.name(), endpoint(inbound.listen, inbound.port));
        if (!address) {
            return where + QStringLiteral("invalid listen address");
        }
        if (!address->isLoopback()) {
            return where + QStringLiteral("refused: the stand-in listens on loopback only");
        }
        const Key key{address->toString(), inbound.port};
        if (wanted.count(key) != 0) {
            return where + QStringLiteral("bind: address already in use");
        }
        wanted.emplace(key, inbound);
        order.append({key, inbound});
    }

    m_config = std::move(config);
    for (auto it = m_listeners.begin(); it != m_listeners.end();) {
        if (wanted.count(it->first) == 0) {
            StandinLog::write(
                StandinLog::Level::Info,
                QStringLiteral("%1: tcp server closed at %2")
                    .arg(it->second.inbound.name(), endpoint(it->first.first, it->first.second)));
            it->second.server->close();
            it->second.server->deleteLater();
            it = m_listeners.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [key, inbound] : order) {
        auto kept = m_listeners.find(key);
        if (kept != m_listeners.end()) {
            kept->second.inbound = inbound;
            continue;
        }
        auto* server = new QTcpServer(this);
        if (!server->listen(QHostAddress(key.first), key.second)) {
            const QString reason = bindFailure(server->serverError(), server->errorString());
            delete server;
            return QStringLiteral("start service: start %1: listen tcp %2: bind: %3")
                .arg(inbound.name(), endpoint(key.first, key.second), reason);
        }
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
        m_listeners.emplace(key, Listener{server, inbound});
        StandinLog::write(StandinLog::Level::Info,
                          QStringLiteral("%1: tcp server started at %2")
                              .arg(inbound.name(), endpoint(key.first, key.second)));
    }
    return {};
}

void ProxyService::closeAll() {
    for (auto& [key, listener] : m_listeners) {
        listener.server->close();
        listener.server->deleteLater();
    }
    m_listeners.clear();
}

void ProxyService::accept(QTcpServer* server) {
    for (const auto& [key, listener] : m_listeners) {
        if (listener.server != server) {
            continue;
        }
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            new ProxySession(socket, listener.inbound, m_config, this);
        }
        return;
    }
}

} // namespace orvane
