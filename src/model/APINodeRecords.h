#pragma once

#include "APIAccountRecords.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"

#include <QList>
#include <QString>

#include <optional>

namespace orvane {

// One node of the public node list; unlike the bootstrap's endpoints, nothing is defaulted.
struct APINode {
    QString id;
    QString region;
    QString name;
    QString host;
    QString status;
    qint64 latencyMs = 0;
    qint64 loadPercent = 0;
    qint64 isActive = 0;

    static APINode decode(const JSONObjectReader& r);
    friend bool operator==(const APINode&, const APINode&) = default;
};

struct APINodesResponse {
    QList<APINode> nodes;

    static APINodesResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APINodesResponse&, const APINodesResponse&) = default;
};

// One connectable endpoint as the signed-in bootstrap describes it.
struct APIEndpoint {
    QString id;
    QString region;
    QString name;
    std::optional<QString> host;
    QString status;
    qint64 latencyMs = 0;
    qint64 loadPercent = 0;
    bool isActive = true;
    QList<QString> protocols;
    std::optional<QString> preferredProtocol;

    static APIEndpoint decode(const JSONObjectReader& r);
    friend bool operator==(const APIEndpoint&, const APIEndpoint&) = default;
};

struct APIDevice {
    QString id;
    QString deviceName;
    QString deviceType;
    QString os;
    QString appVersion;
    QString status;
    std::optional<QString> lastLoginAt;
    bool isOnline = false;
    std::optional<QString> connectionStatus;
    std::optional<QString> latestConnectionAt;

    static APIDevice decode(const JSONObjectReader& r);
    friend bool operator==(const APIDevice&, const APIDevice&) = default;
};

struct APIClientBootstrapResponse {
    std::optional<APIUser> user;
    QList<APIEndpoint> endpoints;
    // Absent is not the same as an empty list: absent means the answer said nothing.
    std::optional<QList<APIDevice>> devices;
    std::optional<qint64> maxDevices;

    static APIClientBootstrapResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIClientBootstrapResponse&,
                           const APIClientBootstrapResponse&) = default;
};

struct APIDevicesResponse {
    QList<APIDevice> devices;
    qint64 maxDevices = 0;
    qint64 activeDeviceCount = 0;

    static APIDevicesResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIDevicesResponse&, const APIDevicesResponse&) = default;
};

struct APIDeviceResponse {
    APIDevice device;

    static APIDeviceResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIDeviceResponse&, const APIDeviceResponse&) = default;
};

struct APIBindDeviceRequest {
    std::optional<QString> deviceId;
    QString deviceName;
    QString deviceType;
    QString os;
    QString appVersion;

    void encode(JSONObjectWriter& w) const;
    friend bool operator==(const APIBindDeviceRequest&, const APIBindDeviceRequest&) = default;
};

} // namespace orvane
