#include "ProtocolKind.h"

#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONValue.h"

namespace orvane {

QString rawValue(ProtocolKind kind) {
    switch (kind) {
    case ProtocolKind::hysteria2:
        return QStringLiteral("hysteria2");
    case ProtocolKind::vless:
        return QStringLiteral("vless");
    case ProtocolKind::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<ProtocolKind> protocolKindFromRawValue(const QString& raw) {
    for (ProtocolKind kind : allProtocolKinds()) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

ProtocolKind protocolKindFromAPIValue(const std::optional<QString>& apiValue) {
    const QString name = apiValue.value_or(QString()).toLower();
    if (name == QLatin1String("hy2") || name == QLatin1String("hysteria2") ||
        name == QLatin1String("hysteria")) {
        return ProtocolKind::hysteria2;
    }
    if (name == QLatin1String("vless")) {
        return ProtocolKind::vless;
    }
    return ProtocolKind::unknown;
}

const QList<ProtocolKind>& allProtocolKinds() {
    static const QList<ProtocolKind> all{ProtocolKind::hysteria2, ProtocolKind::vless,
                                         ProtocolKind::unknown};
    return all;
}

ProtocolKind jsonDecode(const QJsonValue& value, const QStringList& path, ProtocolKind*) {
    const QString raw = json::decode<QString>(value, path);
    const auto kind = protocolKindFromRawValue(raw);
    if (!kind) {
        throw DecodingError(
            DecodingError::Kind::dataCorrupted, path,
            QStringLiteral("Cannot initialize ProtocolKind from invalid String value %1").arg(raw));
    }
    return *kind;
}

void jsonEncode(QByteArray& out, ProtocolKind kind) { json::appendString(out, rawValue(kind)); }

} // namespace orvane
