#include "APINodeRecords.h"

#include "DecodingError.h"

namespace orvane {

APINode APINode::decode(const JSONObjectReader& r) {
    APINode o;
    o.id = r.required<QString>("id");
    o.region = r.required<QString>("region");
    o.name = r.required<QString>("name");
    o.host = r.required<QString>("host");
    o.status = r.required<QString>("status");
    o.latencyMs = r.required<qint64>("latency_ms");
    o.loadPercent = r.required<qint64>("load_percent");
    o.isActive = r.required<qint64>("is_active");
    return o;
}

APINodesResponse APINodesResponse::decode(const JSONObjectReader& r) {
    APINodesResponse o;
    o.nodes = r.required<QList<APINode>>("nodes");
    return o;
}

namespace {

// Servers send the flag as a Boolean or as 0/1; anything unreadable counts as active, so a
// sloppy flag never costs the user the whole endpoint list.
bool lenientIsActive(const JSONObjectReader& r) {
    try {
        if (const auto flag = r.optional<bool>({"is_active"})) {
            return *flag;
        }
    } catch (const DecodingError&) {
    }
    try {
        if (const auto number = r.optional<qint64>({"is_active"})) {
            return *number != 0;
        }
    } catch (const DecodingError&) {
    }
    return true;
}

// A list under "protocols", else one name under "protocol" or "type".
QList<QString> endpointProtocols(const JSONObjectReader& r) {
    if (auto list = r.optional<QList<QString>>({"protocols"})) {
        return std::move(*list);
    }
    if (auto one = r.optional<QString>({"protocol", "type"})) {
        return {std::move(*one)};
    }
    return {QStringLiteral("vless")};
}

} // namespace

APIEndpoint APIEndpoint::decode(const JSONObjectReader& r) {
    APIEndpoint o;
    o.id = r.required<QString>("id");
    o.region = r.value<QString>({"region"}, QStringLiteral("自动"));
    o.name = r.value<QString>({"name"}, o.id);
    o.host = r.optional<QString>({"host"});
    o.status = r.value<QString>({"status"}, QStringLiteral("online"));
    o.latencyMs = r.value<qint64>({"latency_ms"}, 0);
    o.loadPercent = r.value<qint64>({"load_percent"}, 0);
    o.isActive = lenientIsActive(r);
    o.protocols = endpointProtocols(r);
    o.preferredProtocol = r.optional<QString>({"preferred_protocol"});
    return o;
}

APIDevice APIDevice::decode(const JSONObjectReader& r) {
    APIDevice o;
    o.id = r.required<QString>("id");
    o.deviceName = r.value<QString>({"device_name", "deviceName"}, QStringLiteral("Orvane 设备"));
    o.deviceType = r.value<QString>({"device_type", "deviceType"}, QStringLiteral("unknown"));
    o.os = r.value<QString>({"os"}, QString());
    o.appVersion = r.value<QString>({"app_version", "appVersion"}, QString());
    o.status = r.value<QString>({"status"}, QStringLiteral("active"));
    o.lastLoginAt = r.optional<QString>({"last_login_at", "lastLoginAt"});
    o.isOnline = r.value<bool>({"is_online", "isOnline"}, false);
    o.connectionStatus = r.optional<QString>({"connection_status", "connectionStatus"});
    o.latestConnectionAt = r.optional<QString>({"latest_connection_at", "latestConnectionAt"});
    return o;
}

APIClientBootstrapResponse APIClientBootstrapResponse::decode(const JSONObjectReader& r) {
    APIClientBootstrapResponse o;
    o.user = r.optional<APIUser>({"user"});
    o.endpoints = r.value<QList<APIEndpoint>>({"endpoints", "nodes"}, {});
    o.devices = r.optional<QList<APIDevice>>({"devices"});
    o.maxDevices = r.optional<qint64>({"max_devices"});
    return o;
}

APIDevicesResponse APIDevicesResponse::decode(const JSONObjectReader& r) {
    APIDevicesResponse o;
    o.devices = r.required<QList<APIDevice>>("devices");
    o.maxDevices = r.value<qint64>({"max_devices", "maxDevices"}, 0);
    o.activeDeviceCount = r.value<qint64>({"active_device_count", "activeDeviceCount"}, 0);
    return o;
}

APIDeviceResponse APIDeviceResponse::decode(const JSONObjectReader& r) {
    APIDeviceResponse o;
    o.device = r.required<APIDevice>("device");
    return o;
}

void APIBindDeviceRequest::encode(JSONObjectWriter& w) const {
    w.field("deviceId", deviceId)
        .field("deviceName", deviceName)
        .field("deviceType", deviceType)
        .field("os", os)
        .field("appVersion", appVersion);
}

} // namespace orvane
