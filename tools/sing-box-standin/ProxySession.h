#pragma once

#include "StandinConfig.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>

#include <memory>

class QTcpSocket;

namespace orvane {

// One accepted connection: the SOCKS5 or HTTP handshake, the connection to the target, then
// bytes both ways until either side closes. Deletes itself when both sockets are closed.
class ProxySession : public QObject {
    Q_OBJECT
public:
    ProxySession(QTcpSocket* client, StandinConfig::Inbound inbound,
                 std::shared_ptr<const StandinConfig> config, QObject* parent);

private:
    enum class Stage { Detect, SocksGreeting, SocksRequest, HttpHead, Connecting, Relaying, Done };
    enum class Mode { Socks, HttpTunnel, HttpForward };

    void readClient();
    void handshake();
    bool socksGreeting();
    bool socksRequest();
    bool httpHead();
    bool prepareForward(const QList<QByteArray>& lines, const QByteArray& method,
                        const QByteArray& target, const QByteArray& version);
    void startConnect(const QString& host, quint16 port);
    void upstreamConnected();
    void upstreamError(QAbstractSocket::SocketError error);
    void readUpstream();
    void forwardRequestBytes(QByteArray bytes);
    void forwardResponseBytes(const QByteArray& bytes);
    void refuse();
    void socksReply(quint8 code);
    void httpError(int status, const QByteArray& reason);
    void clientGone();
    void upstreamGone();
    void closeBoth();
    void finishIfDone();

    QTcpSocket* m_client = nullptr;
    QTcpSocket* m_upstream = nullptr;
    StandinConfig::Inbound m_inbound;
    std::shared_ptr<const StandinConfig> m_config;
    Stage m_stage = Stage::Detect;
    Mode m_mode = Mode::Socks;
    // Client bytes the handshake has not consumed yet, or that wait for the target.
    QByteArray m_pending;
    QByteArray m_forwardHead;
    // Request body bytes still to pass to the origin; -1 passes everything on.
    qint64 m_bodyLeft = 0;
    QByteArray m_responseHead;
    bool m_responseRaw = false;
    QString m_target;
    bool m_finished = false;
};

} // namespace orvane
