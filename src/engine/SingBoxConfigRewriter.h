#pragma once

#include "JSONValue.h"
#include "ProtocolConfiguration.h"
#include "StateEnumerations.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// Turns a node's sing-box configuration into the one this machine runs: local mixed inbounds
// for the system proxy (and AI tools), DNS defaults, a direct outbound, the final outbound of
// the outbound mode and the fixed route rules ahead of the node's own. Pure functions; keys
// it does not name pass through untouched.
class SingBoxConfigRewriter {
public:
    static QString systemProxyInboundTag() { return QStringLiteral("orvane-system-proxy"); }
    static QString aiProxyInboundTag() { return QStringLiteral("orvane-ai-proxy"); }

    // The configuration bytes a protocol configuration offers: its tree, else its text, else
    // its raw configuration. Throws TunnelCoordinatorError::missingProtocolConfig.
    static QByteArray sourceBytes(const ProtocolConfiguration& configuration);

    // A text value is a configuration sent as text: its UTF-8 bytes. Anything else is written
    // as compact JSON. Throws EncodingError.
    static QByteArray configData(const JSONValue& value);

    // The rewrite. Gives back the very input bytes when nothing changes (or the top level is
    // no object), else pretty-printed JSON with sorted keys. Bytes that are not JSON throw
    // DecodingError.
    static QByteArray rewrite(const QByteArray& source, OutboundMode mode, int localProxyPort,
                              bool aiEnhancedModeEnabled, int aiProxyPort,
                              const QStringList& aiDomainSuffixes);

    // Deletes the per-node files of older versions ("orvane-ep_…") in `folder`; never fails.
    static void cleanupLegacyEndpointConfigFiles(const QString& folder);

    // Steps of the rewrite; a rule is a JSON object, a list of rules a JSON array of them.
    static QString uniqueOutboundTag(const QString& base, const QSet<QString>& existingTags);
    // The tag of the first direct outbound, or of one it appends (setting `changed`).
    static QString ensureDirectOutboundTag(JSONValue::Object& config, bool& changed);
    static std::optional<QString> proxyOutboundTag(const JSONValue::Object& config);
    static JSONValue::Array
    requiredProxyRules(const QString& proxyTag, const std::optional<QString>& aiProxyTag,
                       const QString& finalOutboundTag, const QString& directOutboundTag,
                       OutboundMode outboundMode, const QStringList& aiDomainSuffixes);
    // Binds the node's rules to the system-proxy inbound. Rules already bound to the AI
    // inbound stay when it is in use, so a rewritten configuration rewrites to itself.
    static JSONValue::Array
    normalizedProxyRouteRules(JSONValue::Array rules, const QString& proxyTag,
                              const std::optional<QString>& aiProxyTag = std::nullopt);
    static JSONValue::Array mergeRequiredRules(const JSONValue::Array& requiredRules,
                                               JSONValue::Array existingRules);

    SingBoxConfigRewriter() = delete;
};

} // namespace orvane
