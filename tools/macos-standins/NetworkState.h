#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace orvane::standin {

// The network services that the networksetup and scutil stand-ins share through network.json:
//   {"services": [{"name", "disabled", "web", "secureWeb", "socks", "bypass"}], "knobs": {...}}
// where each proxy is {"enabled", "server", "port", "authenticated"}. Missing keys read as off,
// empty or zero; unknown keys (and "knobs") are kept as they are when the state is written back.
class NetworkState {
public:
    struct Proxy {
        bool enabled = false;
        QString server;
        qint64 port = 0;
        bool authenticated = false;
    };

    struct Service {
        QString name;
        bool disabled = false;
        Proxy web;
        Proxy secureWeb;
        Proxy socks;
        QStringList bypass;

        // "web", "secureWeb" or "socks"; nullptr for any other key.
        Proxy* proxy(const QString& key);
        const Proxy* proxy(const QString& key) const;
        bool anyProxyEnabled() const { return web.enabled || secureWeb.enabled || socks.enabled; }
    };

    // "Wi-Fi" and "Ethernet" with every proxy off and no bypass entries, and a disabled
    // "Bluetooth PAN": what a fresh machine lists.
    static QJsonObject defaultJson();

    static NetworkState fromJson(const QJsonObject& json);
    QJsonObject toJson() const;

    QList<Service>& services() { return m_services; }
    const QList<Service>& services() const { return m_services; }
    Service* find(const QString& name);

    QJsonObject knobs() const { return m_json.value(QStringLiteral("knobs")).toObject(); }
    void setKnobs(const QJsonObject& knobs) { m_json[QStringLiteral("knobs")] = knobs; }

private:
    QList<Service> m_services;
    QJsonObject m_json;
};

} // namespace orvane::standin
