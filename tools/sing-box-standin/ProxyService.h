#pragma once

#include "StandinConfig.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <utility>

class QTcpServer;

namespace orvane {

// The listening side: one server per inbound, brought in line with each configuration so a
// reload keeps the ports that stay and only opens and closes the ones that change.
class ProxyService : public QObject {
    Q_OBJECT
public:
    explicit ProxyService(QObject* parent = nullptr);

    // Empty on success; otherwise the log line that says why an inbound could not start.
    QString apply(std::shared_ptr<const StandinConfig> config);
    void closeAll();

private:
    struct Listener {
        QTcpServer* server = nullptr;
        StandinConfig::Inbound inbound;
    };
    using Key = std::pair<QString, quint16>;

    void accept(QTcpServer* server);

    std::map<Key, Listener> m_listeners;
    std::shared_ptr<const StandinConfig> m_config;
};

} // namespace orvane
