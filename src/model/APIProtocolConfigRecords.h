#pragma once

#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "JSONValue.h"

#include <QString>

#include <optional>

namespace orvane {

// Body of the per-device protocol-configuration call.
struct APIProtocolConfigRequest {
    QString endpointId;
    QString deviceId;
    QString platform;
    QString outboundMode;
    qint64 waitForReadyMs = 0;
    QString clientRegion;
    QString networkType;
    std::optional<bool> isOverseas;
    QString attemptId;
    QString requestId;
    QString buildId;
    bool includeRoutePolicy = false;

    void encode(JSONObjectWriter& w) const;
};

struct APIProtocolRuntimeV2 {
    std::optional<QString> configText;
    std::optional<JSONValue> singBoxConfig;
    std::optional<JSONValue> config;

    static APIProtocolRuntimeV2 decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolRuntimeV2&, const APIProtocolRuntimeV2&) = default;
};

struct APIProtocolCache {
    std::optional<QString> cacheKey;
    std::optional<QString> credentialId;
    std::optional<qint64> configRevision;
    std::optional<QString> expiresAt;
    std::optional<QString> endpointUpdatedAt;

    static APIProtocolCache decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolCache&, const APIProtocolCache&) = default;
};

struct APIProtocolLifecycle {
    std::optional<QString> nodeSyncStatus;

    static APIProtocolLifecycle decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolLifecycle&, const APIProtocolLifecycle&) = default;
};

struct APIProtocolProvisioning {
    std::optional<QString> status;
    std::optional<QString> message;
    std::optional<qint64> retryAfterMs;
    std::optional<qint64> maxWaitMs;

    static APIProtocolProvisioning decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolProvisioning&,
                           const APIProtocolProvisioning&) = default;
};

// The nested version-2 configuration block.
struct APIProtocolConfigV2 {
    std::optional<QString> endpointId;
    std::optional<QString> protocolType;
    std::optional<QString> adapter;
    std::optional<APIProtocolRuntimeV2> runtime;
    std::optional<APIProtocolCache> cache;
    std::optional<QString> configStatus;
    std::optional<APIProtocolLifecycle> lifecycle;
    std::optional<APIProtocolProvisioning> provisioning;

    static APIProtocolConfigV2 decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolConfigV2&, const APIProtocolConfigV2&) = default;
};

// Whether a configuration can be used yet, and how long to keep asking.
struct ProtocolConfigReadiness {
    QString status;
    QString message;
    qint64 retryAfterMs = 0;
    qint64 maxWaitMs = 0;

    friend bool operator==(const ProtocolConfigReadiness&,
                           const ProtocolConfigReadiness&) = default;
};

struct APIProtocolConfigResponse {
    std::optional<QString> endpointId;
    QString protocolType;
    std::optional<QString> configText;
    std::optional<JSONValue> singBoxConfig;
    std::optional<JSONValue> rawConfig;
    std::optional<APIProtocolConfigV2> protocolConfigV2;
    std::optional<QString> configStatus;
    std::optional<QString> message;
    std::optional<qint64> retryAfterMs;
    std::optional<qint64> maxWaitMs;
    std::optional<APIProtocolProvisioning> provisioning;

    static APIProtocolConfigResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIProtocolConfigResponse&,
                           const APIProtocolConfigResponse&) = default;

    ProtocolConfigReadiness readiness() const;
    // One line for the connection log: which configuration shapes the answer carried.
    QString runtimeDebugSummary() const;
};

} // namespace orvane
