#pragma once

#include "DecodingError.h"
#include "JSONValue.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <concepts>
#include <initializer_list>
#include <optional>
#include <type_traits>

namespace orvane {

class JSONObjectReader;

// A record reads itself with `static T decode(const JSONObjectReader&)`.
template <typename T>
concept DecodableRecord = requires(const JSONObjectReader& reader) {
    { T::decode(reader) } -> std::same_as<T>;
};

using JSONKeys = std::initializer_list<const char*>;

// Reads the members of one JSON object the way every response record does: a key that is
// absent or null counts as absent; several spellings are tried in order and the first present
// one wins; a present value of the wrong JSON type fails the whole decode.
class JSONObjectReader {
public:
    JSONObjectReader(QJsonObject object, QStringList codingPath);

    const QJsonObject& object() const { return m_object; }
    const QStringList& codingPath() const { return m_codingPath; }

    // The first key of `keys` that is present and not null, or nothing.
    std::optional<QString> firstPresentKey(JSONKeys keys) const;

    // Absent or null fails (key not found, value not found).
    template <typename T>
    T required(const char* key) const;

    // Absent or null under every key gives nothing.
    template <typename T>
    std::optional<T> optional(JSONKeys keys) const {
        const auto key = firstPresentKey(keys);
        if (!key) {
            return std::nullopt;
        }
        return decodeMember<T>(*key);
    }

    // Absent or null under every key gives `fallback`.
    template <typename T>
    T value(JSONKeys keys, T fallback) const {
        auto found = optional<T>(keys);
        return found ? std::move(*found) : std::move(fallback);
    }

    template <typename T>
    T decodeMember(const QString& key) const;

    [[noreturn]] void fail(DecodingError::Kind kind, const QString& key,
                           const QString& description) const;

private:
    QJsonObject m_object;
    QStringList m_codingPath;
};

namespace json {

[[noreturn]] void typeMismatch(const QStringList& path, const char* expected,
                               const QJsonValue& found);

template <typename T>
struct IsQList : std::false_type {};
template <typename U>
struct IsQList<QList<U>> : std::true_type {};

// Decodes one JSON value as T, with the coding path for error messages.
template <typename T>
T decode(const QJsonValue& value, const QStringList& path) {
    if constexpr (std::is_same_v<T, QString>) {
        if (!value.isString()) {
            typeMismatch(path, "String", value);
        }
        return value.toString();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!value.isBool()) {
            typeMismatch(path, "Bool", value);
        }
        return value.toBool();
    } else if constexpr (std::is_same_v<T, qint64>) {
        if (!value.isDouble()) {
            typeMismatch(path, "Int", value);
        }
        // Qt keeps integer literals exact; a fraction or an out-of-range number fails.
        const qint64 whole = value.toInteger(0);
        if (whole == 0 && value.toDouble() != 0) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, path,
                                QStringLiteral("Parsed JSON number <%1> does not fit in Int.")
                                    .arg(value.toDouble()));
        }
        return whole;
    } else if constexpr (std::is_same_v<T, double>) {
        if (!value.isDouble()) {
            typeMismatch(path, "Double", value);
        }
        return value.toDouble();
    } else if constexpr (std::is_same_v<T, JSONValue>) {
        return JSONValue::fromQJsonValue(value, path);
    } else if constexpr (IsQList<T>::value) {
        using Element = typename T::value_type;
        if (!value.isArray()) {
            typeMismatch(path, "Array", value);
        }
        const QJsonArray items = value.toArray();
        T out;
        out.reserve(items.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            QStringList itemPath = path;
            itemPath.append(QStringLiteral("Index %1").arg(i));
            out.append(decode<Element>(items.at(i), itemPath));
        }
        return out;
    } else if constexpr (std::is_same_v<T, QMap<QString, QString>>) {
        if (!value.isObject()) {
            typeMismatch(path, "Dictionary", value);
        }
        const QJsonObject members = value.toObject();
        T out;
        for (auto it = members.begin(); it != members.end(); ++it) {
            QStringList memberPath = path;
            memberPath.append(it.key());
            out.insert(it.key(), decode<QString>(it.value(), memberPath));
        }
        return out;
    } else if constexpr (requires { jsonDecode(value, path, static_cast<T*>(nullptr)); }) {
        // Value types outside this file (enumerations) bring their own, found by ADL.
        return jsonDecode(value, path, static_cast<T*>(nullptr));
    } else {
        static_assert(DecodableRecord<T>, "no JSON decoding for this type");
        if (!value.isObject()) {
            typeMismatch(path, "Dictionary", value);
        }
        return T::decode(JSONObjectReader(value.toObject(), path));
    }
}

// Decodes a whole response body as the record T. Throws DecodingError.
template <typename T>
T decodeBody(const QByteArray& body) {
    return decode<T>(parse(body), {});
}

} // namespace json

template <typename T>
T JSONObjectReader::decodeMember(const QString& key) const {
    QStringList path = m_codingPath;
    path.append(key);
    return json::decode<T>(m_object.value(key), path);
}

template <typename T>
T JSONObjectReader::required(const char* key) const {
    const QString name = QString::fromLatin1(key);
    const auto it = m_object.constFind(name);
    if (it == m_object.constEnd()) {
        fail(DecodingError::Kind::keyNotFound, name,
             QStringLiteral("No value associated with key \"%1\".").arg(name));
    }
    if (it->isNull()) {
        fail(DecodingError::Kind::valueNotFound, name,
             QStringLiteral("Expected a value for key \"%1\" but found null instead.").arg(name));
    }
    return decodeMember<T>(name);
}

} // namespace orvane
