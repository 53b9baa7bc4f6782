#include "ProtocolConfiguration.h"

#include "OrvaneRuntimeError.h"

namespace orvane {

namespace {

// Only the presence of a top-level sing-box section counts; its content is sing-box's to judge.
bool isSingBoxConfig(const JSONValue& value) {
    if (!value.isObject()) {
        return false;
    }
    const auto& members = value.object();
    for (const char* key : {"outbounds", "inbounds", "route", "dns"}) {
        if (members.count(QString::fromLatin1(key)) != 0) {
            return true;
        }
    }
    return false;
}

// The sing-box tree of the flat part of the answer, if it has one.
std::optional<JSONValue> preferredSingBoxConfig(const APIProtocolConfigResponse& response) {
    if (response.rawConfig) {
        const JSONValue& raw = *response.rawConfig;
        if (raw.isObject() && !raw.object().empty()) {
            // Only the first spelling present is considered, even when it fails the test.
            for (const char* key : {"singBoxConfig", "sing_box_config", "singbox_config"}) {
                if (const JSONValue* inner = raw.find(QString::fromLatin1(key))) {
                    if (isSingBoxConfig(*inner)) {
                        return *inner;
                    }
                    break;
                }
            }
        }
        if (isSingBoxConfig(raw)) {
            return raw;
        }
    }
    if (response.singBoxConfig && isSingBoxConfig(*response.singBoxConfig)) {
        return response.singBoxConfig;
    }
    return std::nullopt;
}

} // namespace

ProtocolConfiguration ProtocolConfiguration::from(const APIProtocolConfigResponse& protocolResponse,
                                                  const QString& fallbackEndpointId) {
    const auto& block = protocolResponse.protocolConfigV2;
    if (!block || !block->runtime) {
        throw OrvaneRuntimeError::missingProtocolConfig();
    }
    const APIProtocolRuntimeV2& runtime = *block->runtime;

    const ProtocolKind kind = protocolKindFromAPIValue(block->protocolType.value_or(QString()));
    if (kind == ProtocolKind::unknown) {
        throw OrvaneRuntimeError::missingProtocolConfig();
    }

    // The runtime's trees are trusted as they are: the service put them there for sing-box.
    std::optional<JSONValue> tree = preferredSingBoxConfig(protocolResponse);
    if (!tree) {
        tree = runtime.singBoxConfig ? runtime.singBoxConfig : runtime.config;
    }
    if (!tree && !runtime.configText) {
        throw OrvaneRuntimeError::missingProtocolConfig();
    }

    ProtocolConfiguration out;
    out.endpointId = block->endpointId.value_or(fallbackEndpointId);
    out.protocolKind = kind;
    out.singBoxConfigText = runtime.configText;
    out.singBoxConfig = std::move(tree);
    out.rawConfig = protocolResponse.rawConfig;
    if (block->cache) {
        out.cacheKey = block->cache->cacheKey.value_or(QString());
        out.configRevision = block->cache->configRevision.value_or(0);
    }
    return out;
}

ProtocolConfiguration ProtocolConfiguration::decode(const JSONObjectReader& reader) {
    ProtocolConfiguration out;
    out.endpointId = reader.required<QString>("endpointId");
    out.protocolKind = reader.required<ProtocolKind>("protocolKind");
    out.singBoxConfigText = reader.optional<QString>({"singBoxConfigText"});
    out.singBoxConfig = reader.optional<JSONValue>({"singBoxConfig"});
    out.rawConfig = reader.optional<JSONValue>({"rawConfig"});
    out.cacheKey = reader.required<QString>("cacheKey");
    out.configRevision = reader.required<qint64>("configRevision");
    return out;
}

void ProtocolConfiguration::encode(JSONObjectWriter& writer) const {
    writer.field("endpointId", endpointId)
        .field("protocolKind", protocolKind)
        .field("singBoxConfigText", singBoxConfigText)
        .field("singBoxConfig", singBoxConfig)
        .field("rawConfig", rawConfig)
        .field("cacheKey", cacheKey)
        .field("configRevision", configRevision);
}

} // namespace orvane
