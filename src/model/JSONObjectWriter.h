#pragma once

#include "JSONValue.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <concepts>
#include <optional>
#include <type_traits>

namespace orvane {

class JSONObjectWriter;

// A request record writes itself with `void encode(JSONObjectWriter&) const`.
template <typename T>
concept EncodableRecord = requires(const T& record, JSONObjectWriter& writer) {
    { record.encode(writer) } -> std::same_as<void>;
};

// Writes one JSON object with its members in the order they are added; an absent optional
// is left out, never written as null.
class JSONObjectWriter {
public:
    template <typename T>
    JSONObjectWriter& field(const char* key, const T& value) {
        if constexpr (IsOptional<T>::value) {
            if (value) {
                field(key, *value);
            }
        } else {
            beginMember(key);
            append(m_out, value);
        }
        return *this;
    }

    // The finished object's JSON text.
    QByteArray finish() const { return m_out + '}'; }

    template <typename T>
    static void append(QByteArray& out, const T& value);

private:
    template <typename T>
    struct IsOptional : std::false_type {};
    template <typename U>
    struct IsOptional<std::optional<U>> : std::true_type {};

    void beginMember(const char* key);

    QByteArray m_out = "{";
    bool m_empty = true;
};

// The JSON text of a request record. Throws EncodingError.
template <EncodableRecord T>
QByteArray encodeJSON(const T& record) {
    JSONObjectWriter writer;
    record.encode(writer);
    return writer.finish();
}

template <typename T>
void JSONObjectWriter::append(QByteArray& out, const T& value) {
    if constexpr (std::is_same_v<T, QString>) {
        json::appendString(out, value);
    } else if constexpr (std::is_same_v<T, bool>) {
        out.append(value ? "true" : "false");
    } else if constexpr (std::is_integral_v<T>) {
        out.append(QByteArray::number(static_cast<qint64>(value)));
    } else if constexpr (std::is_floating_point_v<T>) {
        json::appendNumber(out, static_cast<double>(value));
    } else if constexpr (std::is_same_v<T, JSONValue>) {
        out.append(value.toJson());
    } else if constexpr (std::is_same_v<T, QMap<QString, QString>>) {
        out.append('{');
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) {
                out.append(',');
            }
            first = false;
            json::appendString(out, it.key());
            out.append(':');
            json::appendString(out, it.value());
        }
        out.append('}');
    } else if constexpr (requires { typename T::value_type; value.size(); value.begin(); }) {
        out.append('[');
        bool first = true;
        for (const auto& item : value) {
            if (!first) {
                out.append(',');
            }
            first = false;
            append(out, item);
        }
        out.append(']');
    } else if constexpr (requires { jsonEncode(out, value); }) {
        jsonEncode(out, value); // enumerations bring their own, found by ADL
    } else {
        static_assert(EncodableRecord<T>, "no JSON encoding for this type");
        out.append(encodeJSON(value));
    }
}

} // namespace orvane
