#pragma once

#include "ProtocolKind.h"
#include "StateEnumerations.h"

#include <QList>
#include <QString>

#include <optional>

namespace orvane {

struct APIEndpoint;
struct APINode;

// One node as the window shows it and the connect flow uses it.
struct Endpoint {
    QString id;
    QString region;
    QString name;
    std::optional<QString> host;
    qint64 latencyMs = 0; // 0 or less: unknown
    qint64 loadPercent = 0;
    NodeStatus status = NodeStatus::offline;
    QList<ProtocolKind> supportedProtocols; // never empty
    ProtocolKind preferredProtocol = ProtocolKind::vless;

    // A bootstrap endpoint: unknown protocols dropped, [vless] when none is left.
    static Endpoint fromAPI(const APIEndpoint& api);
    // A node of the public list: no host, vless only.
    static Endpoint fromNode(const APINode& node);

    // "HK", "SG", "JP", "US", "TW" or empty, from region, name and id.
    QString regionCode() const;

    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// The service's status words, exact and case-sensitive; anything else is offline.
NodeStatus nodeStatusFromAPIValue(const QString& apiValue);

// Shown before the first node list arrives.
const QList<Endpoint>& placeholderEndpoints();

} // namespace orvane
