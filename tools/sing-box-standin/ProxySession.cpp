#include "ProxySession.h"

#include "StandinLog.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <utility>

namespace orvane {

namespace {

constexpr qsizetype kMaxHead = 64 * 1024;

enum SocksReply : quint8 {
    kSucceeded = 0x00,
    kGeneralFailure = 0x01,
    kNotAllowed = 0x02,
    kHostUnreachable = 0x04,
    kConnectionRefused = 0x05,
    kCommandNotSupported = 0x07,
    kAddressTypeNotSupported = 0x08,
};

// Traffic never leaves this machine: names other than localhost are not even resolved.
QHostAddress loopbackAddress(const QString& host) {
    const QHostAddress address(host);
    if (!address.isNull()) {
        return address.isLoopback() ? address : QHostAddress();
    }
    const QString name = host.toLower();
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost"))) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    return {};
}

QString hostPort(const QString& host, quint16 port) {
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           QLatin1Char(':') + QString::number(port);
}

// "host:port" or "[v6]:port"; without a port `defaultPort` is taken when it is not 0.
bool splitAuthority(const QString& authority, quint16 defaultPort, QString& host, quint16& port) {
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return false;
        }
        host = authority.mid(1, close - 1);
        const QString rest = authority.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                return false;
            }
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
        host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
        }
    }
    if (host.isEmpty()) {
        return false;
    }
    if (portText.isEmpty()) {
        port = defaultPort;
        return defaultPort != 0;
    }
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number == 0 || number > 65535) {
        return false;
    }
    port = static_cast<quint16>(number);
    return true;
}

QByteArray headerName(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? QByteArray() : line.left(colon).trimmed().toLower();
}

bool hopByHop(const QByteArray& name) {
    return name == "connection" || name == "proxy-connection" || name == "keep-alive" ||
           name == "proxy-authorization";
}

} // namespace

ProxySession::ProxySession(QTcpSocket* client, StandinConfig::Inbound inbound,
                           std::shared_ptr<const StandinConfig> config, QObject* parent)
    : QObject(parent), m_client(client), m_inbound(std::move(inbound)),
      m_config(std::move(config)) {
    m_client->setParent(this);
    connect(m_client, &QTcpSocket::readyRead, this, &ProxySession::readClient);
    connect(m_client, &QTcpSocket::disconnected, this, &ProxySession::clientGone);
    connect(m_client, &QTcpSocket::errorOccurred, this, [this] {
        if (m_client->state() == QAbstractSocket::UnconnectedState) {
            clientGone();
        }
    });
    readClient();
}

void ProxySession::readClient() {
    const QByteArray bytes = m_client->readAll();
    switch (m_stage) {
    case Stage::Relaying:
        forwardRequestBytes(bytes);
        return;
    case Stage::Connecting:
        m_pending.append(bytes);
        return;
    case Stage::Done:
        return;
    default:
        m_pending.append(bytes);
        handshake();
    }
}

void ProxySession::handshake() {
    bool advanced = true;
    while (advanced && !m_pending.isEmpty()) {
        switch (m_stage) {
        case Stage::Detect: {
            const bool socks = static_cast<quint8>(m_pending.at(0)) == 0x05;
            if ((socks && m_inbound.type == QLatin1String("http")) ||
                (!socks && m_inbound.type == QLatin1String("socks"))) {
                closeBoth();
                return;
            }
            m_stage = socks ? Stage::SocksGreeting : Stage::HttpHead;
            break;
        }
        case Stage::SocksGreeting:
            advanced = socksGreeting();
            break;
        case Stage::SocksRequest:
            advanced = socksRequest();
            break;
        case Stage::HttpHead:
            advanced = httpHead();
            break;
        default:
            return;
        }
    }
}

bool ProxySession::socksGreeting() {
    if (m_pending.size() < 2) {
        return false;
    }
    const int methods = static_cast<quint8>(m_pending.at(1));
    if (m_pending.size() < 2 + methods) {
        return false;
    }
    const bool noAuth = m_pending.mid(2, methods).contains('\0');
    m_pending.remove(0, 2 + methods);
    if (!noAuth) {
        m_client->write(QByteArray("\x05\xff", 2));
        closeBoth();
        return false;
    }
    m_client->write(QByteArray("\x05\x00", 2));
    m_stage = Stage::SocksRequest;
    return true;
}

bool ProxySession::socksRequest() {
    if (m_pending.size() < 5) {
        return false;
    }
    const auto byte = [this](qsizetype i) { return static_cast<quint8>(m_pending.at(i)); };
    const quint8 command = byte(1);
    const quint8 type = byte(3);
    qsizetype length = 0;
    QString host;
    if (type == 0x01) {
        length = 4 + 4 + 2;
    } else if (type == 0x03) {
        length = 4 + 1 + byte(4) + 2;
    } else if (type == 0x04) {
        length = 4 + 16 + 2;
    } else {
        socksReply(kAddressTypeNotSupported);
        closeBoth();
        return false;
    }
    if (m_pending.size() < length) {
        return false;
    }
    if (type == 0x01) {
        host = QHostAddress(static_cast<quint32>((byte(4) << 24) | (byte(5) << 16) |
                                                 (byte(6) << 8) | byte(7)))
                   .toString();
    } else if (type == 0x03) {
        host = QString::fromUtf8(m_pending.mid(5, byte(4)));
    } else {
        host = QHostAddress(reinterpret_cast<const quint8*>(m_pending.constData() + 4)).toString();
    }
    const quint16 port = static_cast<quint16>((byte(length - 2) << 8) | byte(length - 1));
    m_pending.remove(0, length);
    if (command != 0x01) {
        socksReply(kCommandNotSupported);
        closeBoth();
        return false;
    }
    m_mode = Mode::Socks;
    startConnect(host, port);
    return false;
}

bool ProxySession::httpHead() {
    const qsizetype end = m_pending.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_pending.size() > kMaxHead) {
            httpError(431, "Request Header Fields Too Large");
        }
        return false;
    }
    const QList<QByteArray> lines = m_pending.left(end).split('\n');
    m_pending.remove(0, end + 4);
    const QList<QByteArray> parts = lines.first().trimmed().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/")) {
        httpError(400, "Bad Request");
        return false;
    }
    const QByteArray& method = parts[0];
    const QByteArray& target = parts[1];
    if (method == "CONNECT") {
        QString host;
        quint16 port = 0;
        if (!splitAuthority(QString::fromUtf8(target), 0, host, port)) {
            httpError(400, "Bad Request");
            return false;
        }
        m_mode = Mode::HttpTunnel;
        startConnect(host, port);
        return false;
    }
    if (!prepareForward(lines, method, target, parts[2])) {
        httpError(400, "Bad Request");
    }
    return false;
}

bool ProxySession::prepareForward(const QList<QByteArray>& lines, const QByteArray& method,
                                  const QByteArray& target, const QByteArray& version) {
    if (!target.toLower().startsWith("http://")) {
        return false;
    }
    const QByteArray rest = target.mid(7);
    qsizetype pathStart = rest.size();
    for (const char mark : {'/', '?', '#'}) {
        const qsizetype at = rest.indexOf(mark);
        if (at >= 0 && at < pathStart) {
            pathStart = at;
        }
    }
    QByteArray authority = rest.left(pathStart);
    authority = authority.mid(authority.lastIndexOf('@') + 1);
    QByteArray path = rest.mid(pathStart);
    if (const qsizetype fragment = path.indexOf('#'); fragment >= 0) {
        path.truncate(fragment);
    }
    if (!path.startsWith('/')) {
        path.prepend('/');
    }
    QString host;
    quint16 port = 0;
    if (!splitAuthority(QString::fromUtf8(authority), 80, host, port)) {
        return false;
    }

    // Each client connection carries one request: the origin is told to close after it.
    m_forwardHead = method + ' ' + path + ' ' + version + "\r\n";
    bool hasHost = false;
    m_bodyLeft = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const QByteArray name = headerName(line);
        if (hopByHop(name)) {
            continue;
        }
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
        if (name == "host") {
            hasHost = true;
        } else if (name == "content-length" && m_bodyLeft >= 0) {
            m_bodyLeft = value.toLongLong();
        } else if (name == "transfer-encoding") {
            m_bodyLeft = -1;
        }
        m_forwardHead += line + "\r\n";
    }
    if (!hasHost) {
        m_forwardHead += "Host: " + authority + "\r\n";
    }
    m_forwardHead += "Connection: close\r\n\r\n";
    m_mode = Mode::HttpForward;
    startConnect(host, port);
    return true;
}

void ProxySession::startConnect(const QString& host, quint16 port) {
    m_target = hostPort(host, port);
    const auto [outbound, blocked] = m_config->route(m_inbound.tag, host);
    if (blocked) {
        StandinLog::write(StandinLog::Level::Info,
                          QStringLiteral("%1: outbound/block[%2]: blocked connection to %3")
                              .arg(m_inbound.name(), outbound, m_target));
        refuse();
        return;
    }
    const QHostAddress address = loopbackAddress(host);
    if (address.isNull()) {
        StandinLog::write(StandinLog::Level::Warn,
                          QStringLiteral("%1: refused connection to %2: only loopback "
                                         "destinations are reached")
                              .arg(m_inbound.name(), m_target));
        refuse();
        return;
    }
    m_stage = Stage::Connecting;
    m_upstream = new QTcpSocket(this);
    connect(m_upstream, &QTcpSocket::connected, this, &ProxySession::upstreamConnected);
    connect(m_upstream, &QTcpSocket::readyRead, this, &ProxySession::readUpstream);
    connect(m_upstream, &QTcpSocket::disconnected, this, &ProxySession::upstreamGone);
    connect(m_upstream, &QTcpSocket::errorOccurred, this, &ProxySession::upstreamError);
    m_upstream->connectToHost(address, port);
}

void ProxySession::upstreamConnected() {
    m_stage = Stage::Relaying;
    switch (m_mode) {
    case Mode::Socks:
        socksReply(kSucceeded);
        break;
    case Mode::HttpTunnel:
        m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        break;
    case Mode::HttpForward:
        m_upstream->write(m_forwardHead);
        break;
    }
    forwardRequestBytes(std::exchange(m_pending, {}));
}

void ProxySession::upstreamError(QAbstractSocket::SocketError error) {
    if (m_stage != Stage::Connecting) {
        if (error != QAbstractSocket::RemoteHostClosedError) {
            closeBoth();
        }
        return;
    }
    m_stage = Stage::Done;
    StandinLog::write(StandinLog::Level::Warn,
                      QStringLiteral("%1: connection to %2 failed: %3")
                          .arg(m_inbound.name(), m_target, m_upstream->errorString()));
    if (m_mode == Mode::Socks) {
        socksReply(error == QAbstractSocket::ConnectionRefusedError ? kConnectionRefused
                   : error == QAbstractSocket::HostNotFoundError    ? kHostUnreachable
                                                                    : kGeneralFailure);
        closeBoth();
    } else {
        httpError(502, "Bad Gateway");
    }
}

void ProxySession::readUpstream() {
    const QByteArray bytes = m_upstream->readAll();
    if (m_mode == Mode::HttpForward && !m_responseRaw) {
        forwardResponseBytes(bytes);
    } else {
        m_client->write(bytes);
    }
}

void ProxySession::forwardRequestBytes(QByteArray bytes) {
    if (bytes.isEmpty() || !m_upstream) {
        return;
    }
    if (m_mode == Mode::HttpForward && m_bodyLeft >= 0) {
        // Anything past the body would be a further request, which this connection won't carry.
        bytes.truncate(m_bodyLeft);
        m_bodyLeft -= bytes.size();
    }
    m_upstream->write(bytes);
}

void ProxySession::forwardResponseBytes(const QByteArray& bytes) {
    m_responseHead.append(bytes);
    while (!m_responseRaw) {
        const qsizetype end = m_responseHead.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_responseHead.size() > kMaxHead) {
                m_client->write(std::exchange(m_responseHead, {}));
                m_responseRaw = true;
            }
            return;
        }
        const QByteArray head = m_responseHead.left(end);
        const QByteArray rest = m_responseHead.mid(end + 4);
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> status = lines.first().split(' ');
        if (status.size() >= 2 && status[1].startsWith('1')) {
            // Interim answers (100 Continue) pass unchanged; the final one follows.
            m_client->write(head + "\r\n\r\n");
            m_responseHead = rest;
            continue;
        }
        QByteArray rewritten;
        for (const QByteArray& raw : lines) {
            const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
            if (!hopByHop(headerName(line))) {
                rewritten += line + "\r\n";
            }
        }
        rewritten += "Connection: close\r\n\r\n";
        m_client->write(rewritten + rest);
        m_responseHead.clear();
        m_responseRaw = true;
    }
}

void ProxySession::refuse() {
    m_stage = Stage::Done;
    if (m_mode == Mode::Socks) {
        socksReply(kNotAllowed);
        closeBoth();
    } else {
        httpError(403, "Forbidden");
    }
}

void ProxySession::socksReply(quint8 code) {
    QByteArray reply("\x05", 1);
    reply.append(static_cast<char>(code));
    reply.append('\0');
    const bool bound = m_upstream && m_upstream->state() == QAbstractSocket::ConnectedState;
    const QHostAddress local =
        bound ? m_upstream->localAddress() : QHostAddress(QHostAddress::AnyIPv4);
    const quint16 port = bound ? m_upstream->localPort() : 0;
    bool isV4 = false;
    const quint32 v4 = local.toIPv4Address(&isV4);
    if (isV4) {
        reply.append('\x01');
        for (int shift = 24; shift >= 0; shift -= 8) {
            reply.append(static_cast<char>((v4 >> shift) & 0xff));
        }
    } else {
        reply.append('\x04');
        const Q_IPV6ADDR v6 = local.toIPv6Address();
        reply.append(reinterpret_cast<const char*>(v6.c), 16);
    }
    reply.append(static_cast<char>(port >> 8));
    reply.append(static_cast<char>(port & 0xff));
    m_client->write(reply);
}

void ProxySession::httpError(int status, const QByteArray& reason) {
    m_stage = Stage::Done;
    const QByteArray body = reason + '\n';
    m_client->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                    "\r\nContent-Type: text/plain\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    closeBoth();
}

void ProxySession::clientGone() {
    if (m_upstream) {
        if (m_stage == Stage::Relaying) {
            forwardRequestBytes(m_client->readAll());
            m_upstream->disconnectFromHost();
        } else {
            m_upstream->abort();
        }
    }
    m_stage = Stage::Done;
    finishIfDone();
}

void ProxySession::upstreamGone() {
    if (m_stage == Stage::Relaying) {
        readUpstream();
        if (!m_responseHead.isEmpty()) {
            m_client->write(std::exchange(m_responseHead, {}));
        }
    }
    m_stage = Stage::Done;
    m_client->disconnectFromHost();
    finishIfDone();
}

void ProxySession::closeBoth() {
    m_stage = Stage::Done;
    if (m_upstream) {
        m_upstream->disconnectFromHost();
    }
    m_client->disconnectFromHost();
    finishIfDone();
}

void ProxySession::finishIfDone() {
    const bool clientClosed = m_client->state() == QAbstractSocket::UnconnectedState;
    const bool upstreamClosed =
        !m_upstream || m_upstream->state() == QAbstractSocket::UnconnectedState;
    if (clientClosed && upstreamClosed && !m_finished) {
        m_finished = true;
        deleteLater();
    }
}

} // namespace orvane
