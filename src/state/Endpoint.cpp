#include "Endpoint.h"

#include "APINodeRecords.h"

#include <array>

namespace orvane {

Endpoint Endpoint::fromAPI(const APIEndpoint& api) {
    Endpoint endpoint;
    endpoint.id = api.id;
    endpoint.region = api.region;
    endpoint.name = api.name;
    endpoint.host = api.host;
    endpoint.latencyMs = api.latencyMs;
    endpoint.loadPercent = api.loadPercent;
    endpoint.status = nodeStatusFromAPIValue(api.status);
    for (const QString& protocol : api.protocols) {
        const ProtocolKind kind = protocolKindFromAPIValue(protocol);
        if (kind != ProtocolKind::unknown) {
            endpoint.supportedProtocols.append(kind);
        }
    }
    if (endpoint.supportedProtocols.isEmpty()) {
        endpoint.supportedProtocols.append(ProtocolKind::vless);
    }
    const ProtocolKind preferred = protocolKindFromAPIValue(api.preferredProtocol);
    endpoint.preferredProtocol =
        preferred == ProtocolKind::unknown ? endpoint.supportedProtocols.first() : preferred;
    return endpoint;
}

Endpoint Endpoint::fromNode(const APINode& node) {
    Endpoint endpoint;
    endpoint.id = node.id;
    endpoint.region = node.region;
    endpoint.name = node.name;
    endpoint.latencyMs = node.latencyMs;
    endpoint.loadPercent = node.loadPercent;
    endpoint.status = nodeStatusFromAPIValue(node.status);
    endpoint.supportedProtocols = {ProtocolKind::vless};
    endpoint.preferredProtocol = ProtocolKind::vless;
    return endpoint;
}

QString Endpoint::regionCode() const {
    struct Row {
        const char* code;
        std::array<const char*, 3> keys;
    };
    static const std::array<Row, 5> rows{{
        {"HK", {"香港", "hk", "hong kong"}},
        {"SG", {"新加坡", "sg", "singapore"}},
        {"JP", {"日本", "jp", "japan"}},
        {"US", {"美国", "us", "united states"}},
        {"TW", {"台湾", "tw", "taiwan"}},
    }};
    const QString text = (region + u' ' + name + u' ' + id).toLower();
    for (const Row& row : rows) {
        for (const char* key : row.keys) {
            if (text.contains(QString::fromUtf8(key))) {
                return QString::fromLatin1(row.code);
            }
        }
    }
    return {};
}

NodeStatus nodeStatusFromAPIValue(const QString& apiValue) {
    if (apiValue == u"online" || apiValue == u"active" || apiValue == u"healthy" ||
        apiValue == u"available") {
        return NodeStatus::online;
    }
    if (apiValue == u"checking" || apiValue == u"retrying" || apiValue == u"maintenance") {
        return NodeStatus::checking;
    }
    return NodeStatus::offline;
}

const QList<Endpoint>& placeholderEndpoints() {
    static const QList<Endpoint> endpoints = [] {
        const auto placeholder = [](const char* id, const char* region, const char* name,
                                    qint64 latencyMs, qint64 loadPercent) {
            Endpoint endpoint;
            endpoint.id = QString::fromUtf8(id);
            endpoint.region = QString::fromUtf8(region);
            endpoint.name = QString::fromUtf8(name);
            endpoint.latencyMs = latencyMs;
            endpoint.loadPercent = loadPercent;
            endpoint.status = NodeStatus::online;
            endpoint.supportedProtocols = {ProtocolKind::vless};
            endpoint.preferredProtocol = ProtocolKind::vless;
            return endpoint;
        };
        return QList<Endpoint>{placeholder("hk-01", "香港", "HK Premium 01", 38, 42),
                               placeholder("sg-01", "新加坡", "SG Stable 01", 55, 35)};
    }();
    return endpoints;
}

} // namespace orvane
