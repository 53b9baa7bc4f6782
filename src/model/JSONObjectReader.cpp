#include "JSONObjectReader.h"

namespace orvane {

JSONObjectReader::JSONObjectReader(QJsonObject object, QStringList codingPath)
    : m_object(std::move(object)), m_codingPath(std::move(codingPath)) {}

std::optional<QString> JSONObjectReader::firstPresentKey(JSONKeys keys) const {
    for (const char* key : keys) {
        const QString name = QString::fromLatin1(key);
        const auto it = m_object.constFind(name);
        if (it != m_object.constEnd() && !it->isNull() && !it->isUndefined()) {
            return name;
        }
    }
    return std::nullopt;
}

void JSONObjectReader::fail(DecodingError::Kind kind, const QString& key,
                            const QString& description) const {
    QStringList path = m_codingPath;
    path.append(key);
    throw DecodingError(kind, path, description);
}

namespace json {

void typeMismatch(const QStringList& path, const char* expected, const QJsonValue& found) {
    const char* kind = "something else";
    switch (found.type()) {
    case QJsonValue::Null:
        kind = "null";
        break;
    case QJsonValue::Bool:
        kind = "a boolean";
        break;
    case QJsonValue::Double:
        kind = "a number";
        break;
    case QJsonValue::String:
        kind = "a string";
        break;
    case QJsonValue::Array:
        kind = "an array";
        break;
    case QJsonValue::Object:
        kind = "a dictionary";
        break;
    case QJsonValue::Undefined:
        break;
    }
    throw DecodingError(
        DecodingError::Kind::typeMismatch, path,
        QStringLiteral("Expected to decode %1 but found %2 instead.")
            .arg(QString::fromLatin1(expected), QString::fromLatin1(kind)));
}

} // namespace json

} // namespace orvane
