#include "JSONValue.h"

#include "DecodingError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace orvane {

const JSONValue* JSONValue::find(const QString& key) const {
    if (!isObject()) {
        return nullptr;
    }
    const auto& members = object();
    const auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

JSONValue JSONValue::parse(const QByteArray& json) { return fromQJsonValue(json::parse(json)); }

QJsonValue json::parse(const QByteArray& json) {
    const auto invalid = [] {
        return DecodingError(DecodingError::Kind::dataCorrupted, {},
                             QStringLiteral("The given data was not valid JSON."));
    };
    QJsonParseError error{};
    // QJsonDocument takes only objects and arrays at the top. Those it parses as they are; a
    // large configuration is not copied just to be wrapped.
    const auto first = std::find_if(json.begin(), json.end(), [](char c) {
        return c != ' ' && c != '\t' && c != '\n' && c != '\r';
    });
    if (first != json.end() && (*first == '{' || *first == '[')) {
        const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
        if (error.error != QJsonParseError::NoError) {
            throw invalid();
        }
        return doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    }
    // Any other value is parsed as the one element of a list.
    QByteArray wrapped;
    wrapped.reserve(json.size() + 2);
    wrapped.append('[').append(json).append(']');
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1) {
        throw invalid();
    }
    return doc.array().at(0);
}

namespace {

// Where a value sits, as a chain on the stack: the coding path is spelled out only for an
// error, not copied for every member of a large tree.
struct PathStep {
    const PathStep* parent;
    const QString* key; // nullptr for a list index
    qsizetype index;
};

QStringList spellPath(const QStringList& base, const PathStep* step) {
    QStringList tail;
    for (; step != nullptr; step = step->parent) {
        tail.prepend(step->key ? *step->key : QStringLiteral("Index %1").arg(step->index));
    }
    return base + tail;
}

JSONValue convert(const QJsonValue& value, const QStringList& base, const PathStep* step) {
    switch (value.type()) {
    case QJsonValue::Null:
        return {};
    case QJsonValue::Bool:
        return JSONValue(value.toBool());
    case QJsonValue::Double:
        return JSONValue(value.toDouble());
    case QJsonValue::String:
        return JSONValue(value.toString());
    case QJsonValue::Object: {
        JSONValue::Object members;
        const QJsonObject source = value.toObject();
        for (auto it = source.begin(); it != source.end(); ++it) {
            const QString key = it.key();
            const PathStep next{step, &key, 0};
            members.emplace_hint(members.end(), key, convert(it.value(), base, &next));
        }
        return JSONValue(std::move(members));
    }
    case QJsonValue::Array: {
        JSONValue::Array items;
        const QJsonArray source = value.toArray();
        items.reserve(static_cast<size_t>(source.size()));
        for (qsizetype i = 0; i < source.size(); ++i) {
            const PathStep next{step, nullptr, i};
            items.push_back(convert(source.at(i), base, &next));
        }
        return JSONValue(std::move(items));
    }
    case QJsonValue::Undefined:
        break;
    }
    throw DecodingError(DecodingError::Kind::dataCorrupted, spellPath(base, step),
                        QStringLiteral("Unsupported JSON value"));
}

} // namespace

JSONValue JSONValue::fromQJsonValue(const QJsonValue& value, const QStringList& codingPath) {
    return convert(value, codingPath, nullptr);
}

QJsonValue JSONValue::toQJsonValue() const {
    switch (type()) {
    case Type::string:
        return string();
    case Type::number:
        return number();
    case Type::boolean:
        return boolean();
    case Type::object: {
        QJsonObject out;
        for (const auto& [key, member] : object()) {
            out.insert(key, member.toQJsonValue());
        }
        return out;
    }
    case Type::array: {
        QJsonArray out;
        for (const auto& item : array()) {
            out.append(item.toQJsonValue());
        }
        return out;
    }
    case Type::null:
        break;
    }
    return QJsonValue(QJsonValue::Null);
}

namespace {

void appendValue(QByteArray& out, const JSONValue& value) {
    switch (value.type()) {
    case JSONValue::Type::string:
        json::appendString(out, value.string());
        return;
    case JSONValue::Type::number:
        json::appendNumber(out, value.number());
        return;
    case JSONValue::Type::boolean:
        out.append(value.boolean() ? "true" : "false");
        return;
    case JSONValue::Type::object: {
        out.append('{');
        bool first = true;
        for (const auto& [key, member] : value.object()) {
            if (!first) {
                out.append(',');
            }
            first = false;
            json::appendString(out, key);
            out.append(':');
            appendValue(out, member);
        }
        out.append('}');
        return;
    }
    case JSONValue::Type::array: {
        out.append('[');
        bool first = true;
        for (const auto& item : value.array()) {
            if (!first) {
                out.append(',');
            }
            first = false;
            appendValue(out, item);
        }
        out.append(']');
        return;
    }
    case JSONValue::Type::null:
        out.append("null");
        return;
    }
}

void appendIndent(QByteArray& out, int depth) {
    out.append('\n');
    out.append(2 * depth, ' ');
}

void appendPretty(QByteArray& out, const JSONValue& value, int depth) {
    switch (value.type()) {
    case JSONValue::Type::object: {
        const auto& members = value.object();
        if (members.empty()) {
            out.append("{}");
            return;
        }
        out.append('{');
        bool first = true;
        for (const auto& [key, member] : members) {
            if (!first) {
                out.append(',');
            }
            first = false;
            appendIndent(out, depth + 1);
            json::appendString(out, key);
            out.append(" : ");
            appendPretty(out, member, depth + 1);
        }
        appendIndent(out, depth);
        out.append('}');
        return;
    }
    case JSONValue::Type::array: {
        const auto& items = value.array();
        if (items.empty()) {
            out.append("[]");
            return;
        }
        out.append('[');
        bool first = true;
        for (const auto& item : items) {
            if (!first) {
                out.append(',');
            }
            first = false;
            appendIndent(out, depth + 1);
            appendPretty(out, item, depth + 1);
        }
        appendIndent(out, depth);
        out.append(']');
        return;
    }
    default:
        appendValue(out, value);
        return;
    }
}

} // namespace

QByteArray JSONValue::toJson() const {
    QByteArray out;
    appendValue(out, *this);
    return out;
}

QByteArray JSONValue::toJson(Format format) const {
    if (format == Format::compact) {
        return toJson();
    }
    QByteArray out;
    appendPretty(out, *this, 0);
    return out;
}

namespace json {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The UTF-8 of a text free of lone surrogates, escaped. Copies the runs between escapes in one
// piece: large configurations are mostly text.
void appendEscapedUtf8(QByteArray& out, QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    const char* run = utf8.constData();
    const char* const end = run + utf8.size();
    for (const char* p = run; p != end; ++p) {
        const char c = *p;
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        default:
            out.append("\\u00").append(kHex[u >> 4]).append(kHex[u & 0xF]);
        }
    }
    out.append(run, end - run);
}

} // namespace

void appendString(QByteArray& out, QStringView text) {
    out.append('"');
    // UTF-8 has no form for a surrogate without its partner (toUtf8() gives "?"), but the
    // parser keeps one that arrived as an escape: it goes back out as that escape.
    qsizetype segment = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (!QChar::isSurrogate(unit)) {
            continue;
        }
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        appendEscapedUtf8(out, text.sliced(segment, i - segment));
        out.append("\\u")
            .append(kHex[unit >> 12])
            .append(kHex[(unit >> 8) & 0xF])
            .append(kHex[(unit >> 4) & 0xF])
            .append(kHex[unit & 0xF]);
        segment = i + 1;
    }
    appendEscapedUtf8(out, text.sliced(segment));
    out.append('"');
}

void appendNumber(QByteArray& out, double number) {
    if (!std::isfinite(number)) {
        throw EncodingError(QStringLiteral("Unable to encode %1 directly in JSON.").arg(number));
    }
    constexpr double kExactIntegers = 9007199254740992.0; // 2^53
    if (number == std::trunc(number) && std::fabs(number) < kExactIntegers) {
        out.append(QByteArray::number(static_cast<qint64>(number)));
    } else {
        out.append(QByteArray::number(number, 'g', QLocale::FloatingPointShortest));
    }
}

} // namespace json

} // namespace orvane
