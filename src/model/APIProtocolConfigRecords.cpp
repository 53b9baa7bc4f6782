#include "APIProtocolConfigRecords.h"

#include <QStringList>

namespace orvane {

void APIProtocolConfigRequest::encode(JSONObjectWriter& w) const {
    w.field("endpoint_id", endpointId)
        .field("device_id", deviceId)
        .field("platform", platform)
        .field("outbound_mode", outboundMode)
        .field("wait_for_ready_ms", waitForReadyMs)
        .field("client_region", clientRegion)
        .field("network_type", networkType)
        .field("is_overseas", isOverseas)
        .field("attempt_id", attemptId)
        .field("request_id", requestId)
        .field("build_id", buildId)
        .field("includeRoutePolicy", includeRoutePolicy);
}

APIProtocolRuntimeV2 APIProtocolRuntimeV2::decode(const JSONObjectReader& r) {
    APIProtocolRuntimeV2 o;
    o.configText = r.optional<QString>({"configText", "config_text"});
    o.singBoxConfig = r.optional<JSONValue>({"singBoxConfig", "sing_box_config"});
    o.config = r.optional<JSONValue>({"config"});
    return o;
}

APIProtocolCache APIProtocolCache::decode(const JSONObjectReader& r) {
    APIProtocolCache o;
    o.cacheKey = r.optional<QString>({"cacheKey", "cache_key", "key"});
    o.credentialId = r.optional<QString>({"credentialId", "credential_id"});
    o.configRevision = r.optional<qint64>({"configRevision", "config_revision"});
    o.expiresAt = r.optional<QString>({"expiresAt", "expires_at"});
    o.endpointUpdatedAt = r.optional<QString>({"endpointUpdatedAt", "endpoint_updated_at"});
    return o;
}

APIProtocolLifecycle APIProtocolLifecycle::decode(const JSONObjectReader& r) {
    APIProtocolLifecycle o;
    o.nodeSyncStatus = r.optional<QString>({"nodeSyncStatus", "node_sync_status"});
    return o;
}

APIProtocolProvisioning APIProtocolProvisioning::decode(const JSONObjectReader& r) {
    APIProtocolProvisioning o;
    o.status = r.optional<QString>({"status"});
    o.message = r.optional<QString>({"message"});
    o.retryAfterMs = r.optional<qint64>({"retryAfterMs", "retry_after_ms"});
    o.maxWaitMs = r.optional<qint64>({"maxWaitMs", "max_wait_ms"});
    return o;
}

APIProtocolConfigV2 APIProtocolConfigV2::decode(const JSONObjectReader& r) {
    APIProtocolConfigV2 o;
    o.endpointId = r.optional<QString>({"endpointId", "endpoint_id"});
    o.protocolType = r.optional<QString>({"protocol", "protocol_type"});
    o.adapter = r.optional<QString>({"adapter"});
    o.runtime = r.optional<APIProtocolRuntimeV2>({"runtime"});
    o.cache = r.optional<APIProtocolCache>({"cache"});
    o.configStatus = r.optional<QString>({"configStatus", "config_status"});
    o.lifecycle = r.optional<APIProtocolLifecycle>({"lifecycle"});
    o.provisioning = r.optional<APIProtocolProvisioning>({"provisioning"});
    return o;
}

APIProtocolConfigResponse APIProtocolConfigResponse::decode(const JSONObjectReader& r) {
    APIProtocolConfigResponse o;
    o.endpointId = r.optional<QString>({"endpoint_id", "endpointId", "node_id"});
    o.protocolType = r.value<QString>({"protocol", "protocol_type", "type"}, QString());
    o.configText = r.optional<QString>({"config_text", "configText"});
    o.singBoxConfig = r.optional<JSONValue>({"singBoxConfig", "sing_box_config", "singbox_config"});

    // Older services send a bare outbound list or a single outbound instead of a whole
    // configuration; both are wrapped into the {"outbounds": [...]} shape.
    if (auto config = r.optional<JSONValue>({"config"})) {
        o.rawConfig = std::move(config);
    } else if (auto outbounds = r.optional<JSONValue>({"outbounds"})) {
        o.rawConfig = JSONValue(JSONValue::Object{{QStringLiteral("outbounds"), *outbounds}});
    } else if (auto outbound = r.optional<JSONValue>({"outbound"})) {
        o.rawConfig = JSONValue(
            JSONValue::Object{{QStringLiteral("outbounds"), JSONValue::Array{*outbound}}});
    }

    o.protocolConfigV2 =
        r.optional<APIProtocolConfigV2>({"protocolConfigV2", "protocol_config_v2"});
    o.configStatus = r.optional<QString>({"configStatus", "config_status"});
    o.message = r.optional<QString>({"message"});
    o.retryAfterMs = r.optional<qint64>({"retryAfterMs", "retry_after_ms"});
    o.maxWaitMs = r.optional<qint64>({"maxWaitMs", "max_wait_ms"});
    o.provisioning = r.optional<APIProtocolProvisioning>({"provisioning"});
    return o;
}

ProtocolConfigReadiness APIProtocolConfigResponse::readiness() const {
    const APIProtocolProvisioning noProvisioning;
    const APIProtocolProvisioning& p = provisioning ? *provisioning : noProvisioning;

    // An empty status word is still the service's answer and stops the search.
    std::optional<QString> raw = configStatus;
    if (!raw && protocolConfigV2) {
        raw = protocolConfigV2->configStatus;
    }
    if (!raw) {
        raw = p.status;
    }
    QString status = raw.value_or(QString()).toLower();

    if (status.isEmpty() && protocolConfigV2 && protocolConfigV2->lifecycle) {
        const QString sync =
            protocolConfigV2->lifecycle->nodeSyncStatus.value_or(QString()).toLower();
        if (sync == QLatin1String("synced") || sync == QLatin1String("not_required")) {
            status = QStringLiteral("ready");
        } else if (sync.contains(QLatin1String("failed"))) {
            status = QStringLiteral("failed");
        } else if (!sync.isEmpty()) {
            status = QStringLiteral("not_ready");
        }
    }
    if (status.isEmpty()) {
        status = QStringLiteral("ready");
    }

    ProtocolConfigReadiness out;
    out.status = status;
    out.message = message.value_or(p.message.value_or(QString()));
    out.retryAfterMs = retryAfterMs.value_or(p.retryAfterMs.value_or(1000));
    out.maxWaitMs = maxWaitMs.value_or(p.maxWaitMs.value_or(5000));
    return out;
}

QString APIProtocolConfigResponse::runtimeDebugSummary() const {
    const auto flag = [](bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); };
    const auto* v2 = protocolConfigV2 ? &*protocolConfigV2 : nullptr;
    const auto* runtime = v2 && v2->runtime ? &*v2->runtime : nullptr;
    const QString proto = v2 && v2->protocolType ? *v2->protocolType : protocolType;

    const QStringList items{
        QStringLiteral("v2=") + flag(v2 != nullptr),
        QStringLiteral("proto=") + proto,
        QStringLiteral("runtime=") + flag(runtime != nullptr),
        QStringLiteral("rtText=") + flag(runtime && runtime->configText),
        QStringLiteral("rtSB=") + flag(runtime && runtime->singBoxConfig),
        QStringLiteral("rtConfig=") + flag(runtime && runtime->config),
        QStringLiteral("topSB=") + flag(singBoxConfig.has_value()),
        QStringLiteral("topRaw=") + flag(rawConfig.has_value()),
    };
    return items.join(QLatin1Char(' '));
}

} // namespace orvane
