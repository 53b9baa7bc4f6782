#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

enum class ProtocolKind { hysteria2, vless, unknown };

QString rawValue(ProtocolKind kind);
// Exact, case-sensitive.
std::optional<ProtocolKind> protocolKindFromRawValue(const QString& raw);
// The service's spelling of a protocol, lower-cased, never trimmed; always a case.
ProtocolKind protocolKindFromAPIValue(const std::optional<QString>& apiValue);
const QList<ProtocolKind>& allProtocolKinds();

// JSON as the raw text; any other text fails to decode.
ProtocolKind jsonDecode(const QJsonValue& value, const QStringList& path, ProtocolKind*);
void jsonEncode(QByteArray& out, ProtocolKind kind);

} // namespace orvane
