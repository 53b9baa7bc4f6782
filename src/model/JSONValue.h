#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <map>
#include <variant>
#include <vector>

namespace orvane {

// A free-form JSON tree. Every number is a double; integral numbers are written back
// without a fraction, so ports and counts survive a round trip as integers.
class JSONValue {
public:
    using Object = std::map<QString, JSONValue>;
    using Array = std::vector<JSONValue>;
    enum class Type { string, number, boolean, object, array, null };

    JSONValue() = default; // null
    JSONValue(QString text) : m_value(std::move(text)) {}
    JSONValue(const char* text) : m_value(QString::fromUtf8(text)) {}
    JSONValue(double number) : m_value(number) {}
    JSONValue(int number) : m_value(static_cast<double>(number)) {}
    JSONValue(bool flag) : m_value(flag) {}
    JSONValue(Object object) : m_value(std::move(object)) {}
    JSONValue(Array array) : m_value(std::move(array)) {}

    Type type() const { return static_cast<Type>(m_value.index()); }
    bool isString() const { return type() == Type::string; }
    bool isNumber() const { return type() == Type::number; }
    bool isBool() const { return type() == Type::boolean; }
    bool isObject() const { return type() == Type::object; }
    bool isArray() const { return type() == Type::array; }
    bool isNull() const { return type() == Type::null; }

    // Accessors of the payload; each requires the matching type.
    const QString& string() const { return std::get<QString>(m_value); }
    double number() const { return std::get<double>(m_value); }
    bool boolean() const { return std::get<bool>(m_value); }
    const Object& object() const { return std::get<Object>(m_value); }
    Object& object() { return std::get<Object>(m_value); }
    const Array& array() const { return std::get<Array>(m_value); }
    Array& array() { return std::get<Array>(m_value); }

    // The member `key` of an object, or nullptr (also when this is no object).
    const JSONValue* find(const QString& key) const;

    friend bool operator==(const JSONValue& a, const JSONValue& b) { return a.m_value == b.m_value; }

    // Throws DecodingError (dataCorrupted) for text that is not JSON; any top-level value.
    static JSONValue parse(const QByteArray& json);
    // Throws DecodingError for an undefined value ("Unsupported JSON value").
    static JSONValue fromQJsonValue(const QJsonValue& value, const QStringList& codingPath = {});
    QJsonValue toQJsonValue() const;

    // `compact` has no white space; `prettySorted` indents by two spaces, one member or element
    // a line, "key" : value, keys in sorted order (objects are ordered maps already).
    enum class Format { compact, prettySorted };

    // Compact JSON text. Throws EncodingError for a NaN or an infinity.
    QByteArray toJson() const;
    QByteArray toJson(Format format) const;

private:
    std::variant<QString, double, bool, Object, Array, std::monostate> m_value{std::monostate{}};
};

// JSON text helpers shared by the writers.
namespace json {
// Any top-level JSON value. Throws DecodingError (dataCorrupted) for text that is not JSON.
QJsonValue parse(const QByteArray& json);
// A UTF-16 surrogate without its partner is written as its \uXXXX escape, so it reads back.
void appendString(QByteArray& out, QStringView text);
void appendNumber(QByteArray& out, double number); // throws EncodingError when not finite
} // namespace json

} // namespace orvane
