#include "SingBoxConfigRewriter.h"

#include "DecodingError.h"
#include "OrvaneTrafficRules.h"
#include "TunnelCoordinatorError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace orvane {

namespace {

using Object = JSONValue::Object;
using Array = JSONValue::Array;

const QString kInbounds = QStringLiteral("inbounds");
const QString kOutbounds = QStringLiteral("outbounds");
const QString kRoute = QStringLiteral("route");
const QString kRules = QStringLiteral("rules");
const QString kDNS = QStringLiteral("dns");
const QString kType = QStringLiteral("type");
const QString kTag = QStringLiteral("tag");
const QString kInbound = QStringLiteral("inbound");
const QString kOutbound = QStringLiteral("outbound");
const QString kFinal = QStringLiteral("final");
const QString kDirect = QStringLiteral("direct");

// A list whose elements are all objects; any other shape reads as absent.
bool isObjectList(const JSONValue& value) {
    return value.isArray() && std::all_of(value.array().begin(), value.array().end(),
                                          [](const JSONValue& item) { return item.isObject(); });
}

Array* objectList(Object& object, const QString& key) {
    const auto it = object.find(key);
    return it != object.end() && isObjectList(it->second) ? &it->second.array() : nullptr;
}

const Array* objectList(const Object& object, const QString& key) {
    const auto it = object.find(key);
    return it != object.end() && isObjectList(it->second) ? &it->second.array() : nullptr;
}

std::optional<QString> textMember(const JSONValue& object, const QString& key) {
    const JSONValue* member = object.find(key);
    if (member && member->isString()) {
        return member->string();
    }
    return std::nullopt;
}

Array texts(const QStringList& list) {
    Array out;
    out.reserve(static_cast<size_t>(list.size()));
    for (const QString& text : list) {
        out.emplace_back(text);
    }
    return out;
}

JSONValue mixedInbound(const QString& tag, int port) {
    return Object{{kType, QStringLiteral("mixed")},
                  {kTag, tag},
                  {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                  {QStringLiteral("listen_port"), port},
                  {QStringLiteral("set_system_proxy"), false}};
}

JSONValue bootstrapResolver() {
    return Object{{QStringLiteral("server"), QStringLiteral("bootstrap")}};
}

JSONValue defaultDNS() {
    Array servers{
        Object{{kTag, QStringLiteral("cloudflare")},
               {kType, QStringLiteral("https")},
               {QStringLiteral("server"), QStringLiteral("1.1.1.1")},
               {QStringLiteral("domain_resolver"), QStringLiteral("bootstrap")}},
        Object{{kTag, QStringLiteral("bootstrap")},
               {kType, QStringLiteral("udp")},
               {QStringLiteral("server"), QStringLiteral("8.8.8.8")}},
    };
    return Object{{QStringLiteral("strategy"), QStringLiteral("ipv4_only")},
                  {kFinal, QStringLiteral("cloudflare")},
                  {QStringLiteral("servers"), std::move(servers)}};
}

bool isProcessRule(const JSONValue& rule) {
    return rule.find(QStringLiteral("process_name")) || rule.find(QStringLiteral("process_path")) ||
           rule.find(QStringLiteral("package_name"));
}

bool isTextList(const JSONValue& value) {
    return value.isArray() && std::all_of(value.array().begin(), value.array().end(),
                                          [](const JSONValue& item) { return item.isString(); });
}

bool listContains(const Array& list, const QString& text) {
    return std::any_of(list.begin(), list.end(),
                       [&](const JSONValue& item) { return item.string() == text; });
}

// In place, so a large rule list is not copied; true when any rule was rebound.
bool normalizeRules(Array& rules, const QString& proxyTag, const std::optional<QString>& aiTag) {
    bool changed = false;
    for (JSONValue& rule : rules) {
        if (!rule.isObject()) {
            continue;
        }
        const auto it = rule.object().find(kInbound);
        if (it == rule.object().end()) {
            continue;
        }
        JSONValue& inbound = it->second;
        if (inbound.isString()) {
            if (inbound.string() != proxyTag && !(aiTag && inbound.string() == *aiTag)) {
                inbound = JSONValue(proxyTag);
                changed = true;
            }
        } else if (isTextList(inbound)) {
            if (!listContains(inbound.array(), proxyTag) &&
                !(aiTag && listContains(inbound.array(), *aiTag))) {
                inbound = JSONValue(Array{JSONValue(proxyTag)});
                changed = true;
            }
        }
    }
    return changed;
}

// In place; true when any required rule was inserted.
bool mergeRules(const Array& required, Array& rules) {
    size_t insertion = 0;
    while (insertion < rules.size() && isProcessRule(rules[insertion])) {
        ++insertion;
    }
    bool inserted = false;
    for (auto it = required.rbegin(); it != required.rend(); ++it) {
        if (std::find(rules.begin(), rules.end(), *it) != rules.end()) {
            continue;
        }
        rules.insert(rules.begin() + static_cast<std::ptrdiff_t>(insertion), *it);
        inserted = true;
    }
    return inserted;
}

} // namespace

QByteArray SingBoxConfigRewriter::sourceBytes(const ProtocolConfiguration& configuration) {
    if (configuration.singBoxConfig) {
        return configData(*configuration.singBoxConfig);
    }
    if (configuration.singBoxConfigText) {
        return configuration.singBoxConfigText->toUtf8();
    }
    if (configuration.rawConfig) {
        return configData(*configuration.rawConfig);
    }
    throw TunnelCoordinatorError::missingProtocolConfig();
}

QByteArray SingBoxConfigRewriter::configData(const JSONValue& value) {
    if (value.isString()) {
        return value.string().toUtf8();
    }
    return value.toJson();
}

QByteArray SingBoxConfigRewriter::rewrite(const QByteArray& source, OutboundMode mode,
                                          int localProxyPort, bool aiEnhancedModeEnabled,
                                          int aiProxyPort, const QStringList& aiDomainSuffixes) {
    JSONValue root = JSONValue::parse(source);
    if (!root.isObject()) {
        return source;
    }
    Object& config = root.object();
    bool changed = false;

    const QString proxyTag = systemProxyInboundTag();
    const std::optional<QString> aiTag =
        aiEnhancedModeEnabled ? std::optional<QString>(aiProxyInboundTag()) : std::nullopt;

    Array inbounds{mixedInbound(proxyTag, localProxyPort)};
    if (aiTag) {
        inbounds.push_back(mixedInbound(*aiTag, aiProxyPort));
    }
    const Array* oldInbounds = objectList(config, kInbounds);
    if (!oldInbounds || *oldInbounds != inbounds) {
        changed = true;
    }

    const auto dns = config.find(kDNS);
    if (dns == config.end()) {
        config.emplace(kDNS, defaultDNS());
        changed = true;
    } else if (dns->second.isObject()) {
        Object& members = dns->second.object();
        changed |=
            members.try_emplace(QStringLiteral("strategy"), QStringLiteral("ipv4_only")).second;
        changed |= members.try_emplace(kFinal, QStringLiteral("cloudflare")).second;
    }

    const QString directTag = ensureDirectOutboundTag(config, changed);
    const QString finalTag =
        mode == OutboundMode::direct ? directTag : proxyOutboundTag(config).value_or(directTag);
    Array required =
        requiredProxyRules(proxyTag, aiTag, finalTag, directTag, mode, aiDomainSuffixes);

    const auto route = config.find(kRoute);
    if (mode == OutboundMode::enhanced || route == config.end()) {
        config[kRoute] = Object{{QStringLiteral("auto_detect_interface"), true},
                                {QStringLiteral("default_domain_resolver"), bootstrapResolver()},
                                {kFinal, finalTag},
                                {kRules, std::move(required)}};
        changed = true;
    } else if (route->second.isObject()) {
        Object& members = route->second.object();

        JSONValue& autoDetect = members[QStringLiteral("auto_detect_interface")];
        if (!(autoDetect.isBool() && autoDetect.boolean())) {
            autoDetect = JSONValue(true);
            changed = true;
        }
        changed |=
            members.try_emplace(QStringLiteral("default_domain_resolver"), bootstrapResolver())
                .second;

        // The list changes exactly when a rule is rebound or a required rule inserted, so the
        // node's rules are edited in place rather than compared against a copy.
        if (Array* rules = objectList(members, kRules)) {
            const bool rebound = normalizeRules(*rules, proxyTag, aiTag);
            const bool inserted = mergeRules(required, *rules);
            changed |= rebound || inserted;
        } else {
            // Absent or of another shape: read as empty, so the merge is the required rules.
            members[kRules] = JSONValue(mergeRequiredRules(required, Array{}));
            changed = true;
        }

        JSONValue& finalValue = members[kFinal];
        if (!(finalValue.isString() && finalValue.string() == finalTag)) {
            finalValue = JSONValue(finalTag);
            changed = true;
        }
    }

    if (!changed) {
        return source;
    }
    config[kInbounds] = JSONValue(std::move(inbounds));
    try {
        return root.toJson(JSONValue::Format::prettySorted);
    } catch (const EncodingError&) {
        // A number JSON cannot hold; sing-box's own check reports the file as it came.
        return source;
    }
}

void SingBoxConfigRewriter::cleanupLegacyEndpointConfigFiles(const QString& folder) {
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!entry.fileName().startsWith(QLatin1String("orvane-ep_"))) {
            continue;
        }
        // Failures are ignored: whatever stays is tried again at the next connect.
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(entry.filePath()).removeRecursively();
        } else {
            QFile::remove(entry.filePath());
        }
    }
}

QString SingBoxConfigRewriter::uniqueOutboundTag(const QString& base,
                                                 const QSet<QString>& existingTags) {
    if (!existingTags.contains(base)) {
        return base;
    }
    for (int suffix = 1; suffix <= 20; ++suffix) {
        const QString candidate = base + QLatin1Char('-') + QString::number(suffix);
        if (!existingTags.contains(candidate)) {
            return candidate;
        }
    }
    return base + QStringLiteral("-orvane");
}

QString SingBoxConfigRewriter::ensureDirectOutboundTag(JSONValue::Object& config, bool& changed) {
    Array* outbounds = objectList(config, kOutbounds);
    if (outbounds) {
        for (const JSONValue& outbound : *outbounds) {
            const auto type = textMember(outbound, kType);
            if (type && type->toLower() == kDirect) {
                return textMember(outbound, kTag).value_or(kDirect);
            }
        }
    }

    QSet<QString> tags;
    if (outbounds) {
        for (const JSONValue& outbound : *outbounds) {
            if (const auto tag = textMember(outbound, kTag)) {
                tags.insert(*tag);
            }
        }
    }
    const QString tag = uniqueOutboundTag(kDirect, tags);
    JSONValue direct = Object{{kType, kDirect}, {kTag, tag}};
    if (outbounds) {
        outbounds->push_back(std::move(direct));
    } else {
        config[kOutbounds] = Array{std::move(direct)};
    }
    changed = true;
    return tag;
}

std::optional<QString> SingBoxConfigRewriter::proxyOutboundTag(const JSONValue::Object& config) {
    const Array* outbounds = objectList(config, kOutbounds);
    if (!outbounds) {
        return std::nullopt;
    }
    for (const JSONValue& outbound : *outbounds) {
        const auto type = textMember(outbound, kType);
        if (!type) {
            continue;
        }
        const QString lower = type->toLower();
        if (lower != kDirect && lower != QLatin1String("block")) {
            return textMember(outbound, kTag);
        }
    }
    return std::nullopt;
}

JSONValue::Array SingBoxConfigRewriter::requiredProxyRules(const QString& proxyTag,
                                                           const std::optional<QString>& aiProxyTag,
                                                           const QString& finalOutboundTag,
                                                           const QString& directOutboundTag,
                                                           OutboundMode outboundMode,
                                                           const QStringList& aiDomainSuffixes) {
    const QString sniff = QStringLiteral("sniff");
    const QString action = QStringLiteral("action");
    Array rules;
    rules.push_back(Object{{kInbound, proxyTag}, {action, sniff}});
    if (aiProxyTag) {
        rules.push_back(Object{{kInbound, *aiProxyTag}, {action, sniff}});
        // Ahead of the domestic rules, so AI services go out through the proxy from either inbound.
        rules.push_back(Object{{kInbound, Array{proxyTag, *aiProxyTag}},
                               {QStringLiteral("domain_suffix"), texts(aiDomainSuffixes)},
                               {kOutbound, finalOutboundTag}});
    }
    if (outboundMode != OutboundMode::global) {
        rules.push_back(Object{
            {kInbound, proxyTag},
            {QStringLiteral("domain_suffix"), texts(OrvaneTrafficRules::domesticDomainSuffixes())},
            {kOutbound, directOutboundTag}});
        rules.push_back(
            Object{{kInbound, proxyTag},
                   {QStringLiteral("ip_cidr"), texts(OrvaneTrafficRules::directIPCIDRs())},
                   {kOutbound, directOutboundTag}});
    }
    if (aiProxyTag) {
        rules.push_back(Object{{kInbound, *aiProxyTag}, {kOutbound, finalOutboundTag}});
    }
    return rules;
}

JSONValue::Array
SingBoxConfigRewriter::normalizedProxyRouteRules(JSONValue::Array rules, const QString& proxyTag,
                                                 const std::optional<QString>& aiProxyTag) {
    normalizeRules(rules, proxyTag, aiProxyTag);
    return rules;
}

JSONValue::Array SingBoxConfigRewriter::mergeRequiredRules(const JSONValue::Array& requiredRules,
                                                           JSONValue::Array existingRules) {
    mergeRules(requiredRules, existingRules);
    return existingRules;
}

} // namespace orvane
