#include "StateEnumerations.h"

#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONValue.h"

namespace orvane {

namespace {

template <typename E>
std::optional<E> fromRaw(const QList<E>& all, const QString& raw) {
    for (E value : all) {
        if (rawValue(value) == raw) {
            return value;
        }
    }
    return std::nullopt;
}

template <typename E>
E decodeRaw(const QList<E>& all, const QJsonValue& value, const QStringList& path, const char* type) {
    const QString raw = json::decode<QString>(value, path);
    if (const auto found = fromRaw(all, raw)) {
        return *found;
    }
    throw DecodingError(DecodingError::Kind::dataCorrupted, path,
                        QStringLiteral("Cannot initialize %1 from invalid String value %2")
                            .arg(QString::fromLatin1(type), raw));
}

const QList<NodeStatus>& allNodeStatuses() {
    static const QList<NodeStatus> all{NodeStatus::online, NodeStatus::checking, NodeStatus::offline};
    return all;
}

} // namespace

QString rawValue(AppPage value) {
    switch (value) {
    case AppPage::home:
        return QStringLiteral("home");
    case AppPage::routes:
        return QStringLiteral("routes");
    case AppPage::plans:
        return QStringLiteral("plans");
    case AppPage::invite:
        return QStringLiteral("invite");
    case AppPage::settings:
        break;
    }
    return QStringLiteral("settings");
}

QString rawValue(OutboundMode value) {
    switch (value) {
    case OutboundMode::smart:
        return QStringLiteral("smart");
    case OutboundMode::global:
        return QStringLiteral("global");
    case OutboundMode::direct:
        return QStringLiteral("direct");
    case OutboundMode::enhanced:
        break;
    }
    return QStringLiteral("enhanced");
}

QString rawValue(RouteRegionChoice value) {
    switch (value) {
    case RouteRegionChoice::automatic:
        return QStringLiteral("automatic");
    case RouteRegionChoice::sg:
        return QStringLiteral("sg");
    case RouteRegionChoice::jp:
        return QStringLiteral("jp");
    case RouteRegionChoice::us:
        break;
    }
    return QStringLiteral("us");
}

QString rawValue(NodeStatus value) {
    switch (value) {
    case NodeStatus::online:
        return QStringLiteral("在线");
    case NodeStatus::checking:
        return QStringLiteral("检查中");
    case NodeStatus::offline:
        break;
    }
    return QStringLiteral("离线");
}

const QList<AppPage>& allAppPages() {
    static const QList<AppPage> all{AppPage::home, AppPage::routes, AppPage::plans, AppPage::invite,
                                    AppPage::settings};
    return all;
}

const QList<OutboundMode>& allOutboundModes() {
    static const QList<OutboundMode> all{OutboundMode::smart, OutboundMode::global,
                                         OutboundMode::direct, OutboundMode::enhanced};
    return all;
}

const QList<RouteRegionChoice>& allRouteRegionChoices() {
    static const QList<RouteRegionChoice> all{RouteRegionChoice::automatic, RouteRegionChoice::sg,
                                              RouteRegionChoice::jp, RouteRegionChoice::us};
    return all;
}

std::optional<AppPage> appPageFromRawValue(const QString& raw) { return fromRaw(allAppPages(), raw); }
std::optional<OutboundMode> outboundModeFromRawValue(const QString& raw) {
    return fromRaw(allOutboundModes(), raw);
}
std::optional<RouteRegionChoice> routeRegionChoiceFromRawValue(const QString& raw) {
    return fromRaw(allRouteRegionChoices(), raw);
}
std::optional<NodeStatus> nodeStatusFromRawValue(const QString& raw) {
    return fromRaw(allNodeStatuses(), raw);
}

OutboundMode jsonDecode(const QJsonValue& value, const QStringList& path, OutboundMode*) {
    return decodeRaw(allOutboundModes(), value, path, "OutboundMode");
}
RouteRegionChoice jsonDecode(const QJsonValue& value, const QStringList& path, RouteRegionChoice*) {
    return decodeRaw(allRouteRegionChoices(), value, path, "RouteRegionChoice");
}
void jsonEncode(QByteArray& out, OutboundMode value) { json::appendString(out, rawValue(value)); }
void jsonEncode(QByteArray& out, RouteRegionChoice value) { json::appendString(out, rawValue(value)); }

} // namespace orvane
