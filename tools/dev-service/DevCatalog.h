#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane::dev {

// The fixed, public part of the local service: nodes, plans, versions, the route catalog and
// the per-node sing-box configurations. Pure data, safe from any thread.
class DevCatalog {
public:
    struct Node {
        QString id;
        QString region;
        QString name;
        QString status;
        int latencyMs = 0;
        int loadPercent = 0;
        bool active = true;
        QStringList protocols;
        QString preferredProtocol;

        QString host() const;
    };

    static const QList<Node>& nodes();
    static std::optional<Node> node(const QString& id);

    // One entry of the public node list ("is_active" as an integer).
    static QJsonObject nodeJSON(const Node& node);
    // One connectable endpoint of the client bootstrap ("is_active" as a Boolean).
    static QJsonObject endpointJSON(const Node& node);

    static QJsonArray plansJSON();
    static QJsonArray versionsJSON();

    // Categories carry the selected policy of the given preferences when one names them.
    static QJsonObject routeCatalogJSON(const QJsonArray& preferences = {});
    static bool hasRouteCategory(const QString& id);

    // What a real node would hand this device: its own inbound, the proxy outbound for the
    // node's preferred protocol, direct and block outbounds, and rules over those tags.
    static QJsonObject singBoxConfig(const Node& node, const QString& deviceId);
};

} // namespace orvane::dev
