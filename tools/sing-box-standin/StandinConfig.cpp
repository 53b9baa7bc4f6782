#include "StandinConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <cmath>

namespace orvane {

namespace {

struct Invalid {
    QString text;
};

[[noreturn]] void fail(const QString& text) {
    throw Invalid{text};
}

QString shown(const QJsonValue& value) {
    if (value.isString()) {
        return value.toString();
    }
    QJsonArray wrapper{value};
    const QByteArray compact = QJsonDocument(wrapper).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(compact.mid(1, compact.size() - 2));
}

// A list of objects; absent counts as empty.
QJsonArray objects(const QJsonObject& parent, const QString& key, const QString& where) {
    const QJsonValue value = parent.value(key);
    if (value.isUndefined() || value.isNull()) {
        return {};
    }
    if (!value.isArray()) {
        fail(QStringLiteral("%1: not a list").arg(where));
    }
    const QJsonArray list = value.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list.at(i).isObject()) {
            fail(QStringLiteral("%1[%2]: not an object").arg(where).arg(i));
        }
    }
    return list;
}

// A text or a list of texts, as rules write their conditions.
QStringList texts(const QJsonValue& value, const QString& where) {
    if (value.isUndefined()) {
        return {};
    }
    if (value.isString()) {
        return {value.toString()};
    }
    if (value.isArray()) {
        QStringList result;
        for (const QJsonValue& item : value.toArray()) {
            if (!item.isString()) {
                fail(QStringLiteral("%1: not a text: %2").arg(where, shown(item)));
            }
            result.append(item.toString());
        }
        return result;
    }
    fail(QStringLiteral("%1: not a text or list of texts: %2").arg(where, shown(value)));
}

std::optional<int> portOf(const QJsonValue& value) {
    qint64 port = -1;
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::floor(number) != number) {
            return std::nullopt;
        }
        port = value.toInteger(-1);
    } else if (value.isString()) {
        bool ok = false;
        port = value.toString().toLongLong(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<int>(port);
}

// "domain_resolver" and "default_domain_resolver" name a DNS server directly or in an object.
QString resolverServer(const QJsonValue& value) {
    if (value.isString()) {
        return value.toString();
    }
    return value.toObject().value(QStringLiteral("server")).toString();
}

StandinConfig::Knobs readKnobs(const QJsonObject& root) {
    StandinConfig::Knobs knobs;
    const QJsonValue value = root.value(QStringLiteral("_standin"));
    if (value.isUndefined()) {
        return knobs;
    }
    if (!value.isObject()) {
        fail(QStringLiteral("_standin: not an object"));
    }
    const QJsonObject object = value.toObject();
    const auto text = [&](const char* key) -> std::optional<QString> {
        const QJsonValue item = object.value(QLatin1String(key));
        if (item.isUndefined()) {
            return std::nullopt;
        }
        if (!item.isString()) {
            fail(QStringLiteral("_standin.%1: not a text").arg(QLatin1String(key)));
        }
        return item.toString();
    };
    const auto flag = [&](const char* key) {
        const QJsonValue item = object.value(QLatin1String(key));
        if (!item.isUndefined() && !item.isBool()) {
            fail(QStringLiteral("_standin.%1: not a Boolean").arg(QLatin1String(key)));
        }
        return item.toBool(false);
    };
    const auto milliseconds = [&](const char* key) -> std::optional<int> {
        const QJsonValue item = object.value(QLatin1String(key));
        if (item.isUndefined()) {
            return std::nullopt;
        }
        const qint64 ms = item.toInteger(-1);
        if (!item.isDouble() || ms < 0 || ms > 3600 * 1000) {
            fail(QStringLiteral("_standin.%1: not a number of milliseconds")
                     .arg(QLatin1String(key)));
        }
        return static_cast<int>(ms);
    };
    knobs.failCheck = text("failCheck");
    knobs.exitAfterMs = milliseconds("exitAfterMs");
    knobs.exitLog = text("exitLog").value_or(QString());
    knobs.ignoreSigterm = flag("ignoreSigterm");
    knobs.dieOnSighup = flag("dieOnSighup");
    knobs.ansiLog = flag("ansiLog");
    knobs.startDelayMs = milliseconds("startDelayMs").value_or(0);
    return knobs;
}

} // namespace

QString StandinConfig::Inbound::name() const {
    return QStringLiteral("inbound/%1[%2]").arg(type, tag.isEmpty() ? type : tag);
}

StandinConfig StandinConfig::load(const QString& path) {
    StandinConfig config;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        config.m_error = QStringLiteral("read config at %1: %2").arg(path, file.errorString());
        return config;
    }
    const QByteArray bytes = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    const QString prefix = QStringLiteral("decode config at %1: ").arg(path);
    if (parseError.error != QJsonParseError::NoError) {
        config.m_error =
            prefix +
            QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return config;
    }
    if (!document.isObject()) {
        config.m_error = prefix + QStringLiteral("the top level is not an object");
        return config;
    }
    const QJsonObject root = document.object();

    try {
        config.m_knobs = readKnobs(root);
        if (config.m_knobs.failCheck) {
            config.m_error = *config.m_knobs.failCheck;
            config.m_errorVerbatim = true;
            return config;
        }

        QSet<QString> inboundTags;
        const QJsonArray inbounds =
            objects(root, QStringLiteral("inbounds"), QStringLiteral("inbound"));
        for (qsizetype i = 0; i < inbounds.size(); ++i) {
            const QJsonObject object = inbounds.at(i).toObject();
            const QString where = QStringLiteral("inbound[%1]").arg(i);
            Inbound inbound;
            const QJsonValue type = object.value(QStringLiteral("type"));
            if (!type.isString() || type.toString().isEmpty()) {
                fail(where + QStringLiteral(": missing type"));
            }
            inbound.type = type.toString();
            if (inbound.type != QLatin1String("mixed") && inbound.type != QLatin1String("socks") &&
                inbound.type != QLatin1String("http")) {
                fail(where + QStringLiteral(": unsupported inbound type: ") + inbound.type);
            }
            const QJsonValue tag = object.value(QStringLiteral("tag"));
            if (!tag.isUndefined() && !tag.isString()) {
                fail(where + QStringLiteral(": tag is not a text"));
            }
            inbound.tag = tag.toString();
            if (!inbound.tag.isEmpty()) {
                if (inboundTags.contains(inbound.tag)) {
                    fail(where + QStringLiteral(": duplicate inbound tag: ") + inbound.tag);
                }
                inboundTags.insert(inbound.tag);
            }
            const QJsonValue listen = object.value(QStringLiteral("listen"));
            if (!listen.isUndefined() && !listen.isString()) {
                fail(where + QStringLiteral(": listen is not a text"));
            }
            inbound.listen = listen.toString(QStringLiteral("127.0.0.1"));
            const QJsonValue port = object.value(QStringLiteral("listen_port"));
            if (port.isUndefined()) {
                fail(where + QStringLiteral(": missing listen_port"));
            }
            const std::optional<int> number = portOf(port);
            if (!number) {
                fail(where + QStringLiteral(": invalid listen_port: ") + shown(port));
            }
            inbound.port = static_cast<quint16>(*number);
            config.m_inbounds.append(inbound);
        }

        const QJsonArray outbounds =
            objects(root, QStringLiteral("outbounds"), QStringLiteral("outbound"));
        for (qsizetype i = 0; i < outbounds.size(); ++i) {
            const QJsonObject object = outbounds.at(i).toObject();
            const QString where = QStringLiteral("outbound[%1]").arg(i);
            const QJsonValue type = object.value(QStringLiteral("type"));
            if (!type.isString() || type.toString().isEmpty()) {
                fail(where + QStringLiteral(": missing type"));
            }
            const QJsonValue tagValue = object.value(QStringLiteral("tag"));
            if (!tagValue.isUndefined() && !tagValue.isString()) {
                fail(where + QStringLiteral(": tag is not a text"));
            }
            // An outbound without a tag is known by its type.
            const QString tag = tagValue.toString(type.toString());
            if (tagValue.isString() && config.m_outboundTypes.contains(tag)) {
                fail(where + QStringLiteral(": duplicate outbound tag: ") + tag);
            }
            if (!config.m_outboundTypes.contains(tag)) {
                config.m_outboundTypes.insert(tag, type.toString().toLower());
            }
            if (i == 0) {
                config.m_defaultOutbound = tag;
            }
        }

        QSet<QString> dnsServers;
        const QJsonValue dnsValue = root.value(QStringLiteral("dns"));
        if (!dnsValue.isUndefined() && !dnsValue.isObject()) {
            fail(QStringLiteral("dns: not an object"));
        }
        const QJsonObject dns = dnsValue.toObject();
        const QJsonArray servers =
            objects(dns, QStringLiteral("servers"), QStringLiteral("dns server"));
        for (const QJsonValue& server : servers) {
            const QString tag = server.toObject().value(QStringLiteral("tag")).toString();
            if (!tag.isEmpty()) {
                dnsServers.insert(tag);
            }
        }
        for (qsizetype i = 0; i < servers.size(); ++i) {
            const QJsonValue resolver =
                servers.at(i).toObject().value(QStringLiteral("domain_resolver"));
            if (!resolver.isUndefined() && !dnsServers.contains(resolverServer(resolver))) {
                fail(QStringLiteral("dns server[%1]: domain_resolver not found: %2")
                         .arg(i)
                         .arg(resolverServer(resolver)));
            }
        }
        const QJsonArray dnsRules =
            objects(dns, QStringLiteral("rules"), QStringLiteral("dns rule"));
        for (qsizetype i = 0; i < dnsRules.size(); ++i) {
            const QJsonValue server = dnsRules.at(i).toObject().value(QStringLiteral("server"));
            if (!server.isUndefined() && !dnsServers.contains(server.toString())) {
                fail(
                    QStringLiteral("dns rule[%1]: server not found: %2").arg(i).arg(shown(server)));
            }
        }
        const QJsonValue dnsFinal = dns.value(QStringLiteral("final"));
        if (!dnsFinal.isUndefined() && !dnsServers.contains(dnsFinal.toString())) {
            fail(QStringLiteral("dns: final server not found: ") + shown(dnsFinal));
        }

        const QJsonValue routeValue = root.value(QStringLiteral("route"));
        if (!routeValue.isUndefined() && !routeValue.isObject()) {
            fail(QStringLiteral("route: not an object"));
        }
        const QJsonObject route = routeValue.toObject();
        const QJsonArray rules =
            objects(route, QStringLiteral("rules"), QStringLiteral("route rule"));
        for (qsizetype i = 0; i < rules.size(); ++i) {
            const QJsonObject object = rules.at(i).toObject();
            const QString where = QStringLiteral("route rule[%1]").arg(i);
            Rule rule;
            const QJsonValue outbound = object.value(QStringLiteral("outbound"));
            if (!outbound.isUndefined() && !config.m_outboundTypes.contains(outbound.toString())) {
                fail(where + QStringLiteral(": outbound not found: ") + shown(outbound));
            }
            rule.outbound = outbound.toString();
            rule.inbounds =
                texts(object.value(QStringLiteral("inbound")), where + QStringLiteral(": inbound"));
            for (const QString& tag : std::as_const(rule.inbounds)) {
                if (!inboundTags.contains(tag)) {
                    fail(where + QStringLiteral(": inbound not found: ") + tag);
                }
            }
            rule.domains =
                texts(object.value(QStringLiteral("domain")), where + QStringLiteral(": domain"));
            rule.suffixes = texts(object.value(QStringLiteral("domain_suffix")),
                                  where + QStringLiteral(": domain_suffix"));
            const QStringList cidrs =
                texts(object.value(QStringLiteral("ip_cidr")), where + QStringLiteral(": ip_cidr"));
            for (const QString& cidr : cidrs) {
                const auto subnet = QHostAddress::parseSubnet(cidr);
                if (subnet.first.isNull()) {
                    fail(where + QStringLiteral(": invalid ip_cidr: ") + cidr);
                }
                rule.subnets.append(subnet);
            }
            // Only the conditions above are understood; a rule with others never matches.
            static const QSet<QString> known = {
                QStringLiteral("outbound"), QStringLiteral("inbound"),
                QStringLiteral("domain"),   QStringLiteral("domain_suffix"),
                QStringLiteral("ip_cidr"),  QStringLiteral("action")};
            for (const QString& key : object.keys()) {
                if (!known.contains(key)) {
                    rule.usable = false;
                }
            }
            const QString action =
                object.value(QStringLiteral("action")).toString(QStringLiteral("route"));
            if (action != QLatin1String("route") || rule.outbound.isEmpty()) {
                rule.usable = false;
            }
            config.m_rules.append(rule);
        }
        const QJsonValue final = route.value(QStringLiteral("final"));
        if (!final.isUndefined()) {
            if (!config.m_outboundTypes.contains(final.toString())) {
                fail(QStringLiteral("route: final outbound not found: ") + shown(final));
            }
            config.m_defaultOutbound = final.toString();
        }
        const QJsonValue resolver = route.value(QStringLiteral("default_domain_resolver"));
        if (!resolver.isUndefined() && !dnsServers.contains(resolverServer(resolver))) {
            fail(QStringLiteral("route: default_domain_resolver not found: ") +
                 resolverServer(resolver));
        }
    } catch (const Invalid& invalid) {
        config.m_error = prefix + invalid.text;
        config.m_inbounds.clear();
    }
    return config;
}

std::pair<QString, bool> StandinConfig::route(const QString& inboundTag,
                                              const QString& host) const {
    QString tag = m_defaultOutbound;
    for (const Rule& rule : m_rules) {
        if (rule.usable && matches(rule, inboundTag, host)) {
            tag = rule.outbound;
            break;
        }
    }
    if (tag.isEmpty()) {
        return {QStringLiteral("direct"), false};
    }
    return {tag, m_outboundTypes.value(tag) == QLatin1String("block")};
}

bool StandinConfig::matches(const Rule& rule, const QString& inboundTag,
                            const QString& host) const {
    if (!rule.inbounds.isEmpty() && !rule.inbounds.contains(inboundTag)) {
        return false;
    }
    if (rule.domains.isEmpty() && rule.suffixes.isEmpty() && rule.subnets.isEmpty()) {
        return true;
    }
    const QString name = host.toLower();
    if (rule.domains.contains(name, Qt::CaseInsensitive)) {
        return true;
    }
    for (QString suffix : rule.suffixes) {
        if (suffix.startsWith(QLatin1Char('.'))) {
            suffix.remove(0, 1);
        }
        suffix = suffix.toLower();
        if (name == suffix || name.endsWith(QLatin1Char('.') + suffix)) {
            return true;
        }
    }
    const QHostAddress address(host);
    if (!address.isNull()) {
        for (const auto& subnet : rule.subnets) {
            if (address.isInSubnet(subnet)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace orvane
