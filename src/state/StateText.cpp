#include "StateText.h"

#include "OrvaneRuntimeError.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvane {

QString StateText::trafficText(std::optional<qint64> megabytes) {
    if (!megabytes) {
        return QStringLiteral("未知");
    }
    if (*megabytes < 0) {
        return QStringLiteral("不限量");
    }
    if (*megabytes < 1024) {
        return QString::number(*megabytes) + QStringLiteral("MB");
    }
    return fixed(static_cast<double>(*megabytes) / 1024.0, 1) + QStringLiteral("GB");
}

QString StateText::shortDateText(const std::optional<QString>& text) {
    if (!text || text->isEmpty()) {
        return QStringLiteral("-");
    }
    // Qt's ISO parser also takes a blank for "T", bare dates and missing zones; those are no
    // internet date-times and keep their raw prefix.
    static const QRegularExpression internetDateTime(QRegularExpression::anchoredPattern(
        QStringLiteral("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]+)?"
                       "(Z|[+-][0-9]{2}:[0-9]{2})")));
    if (internetDateTime.match(*text).hasMatch()) {
        const QDateTime parsed = QDateTime::fromString(*text, Qt::ISODate);
        if (parsed.isValid()) {
            return parsed.toLocalTime().toString(QStringLiteral("MM-dd"));
        }
    }
    qsizetype length = 10;
    // A character outside the BMP counts whole rather than leaving half a surrogate pair.
    if (text->size() > length && text->at(length - 1).isHighSurrogate() &&
        text->at(length).isLowSurrogate()) {
        ++length;
    }
    return text->left(length);
}

QString StateText::formattedSpeed(double bytesPerSecond) {
    // The sampler never reports these; a broken counter must not show "nan MB/s".
    const double speed = std::isfinite(bytesPerSecond) && bytesPerSecond > 0 ? bytesPerSecond : 0.0;
    if (speed >= 1048576.0) {
        return fixed(speed / 1048576.0, 1) + QStringLiteral(" MB/s");
    }
    if (speed >= 1024.0) {
        return fixed(speed / 1024.0, 0) + QStringLiteral(" KB/s");
    }
    return QString::number(static_cast<qint64>(speed)) + QStringLiteral(" B/s");
}

QString StateText::normalizedEmail(const QString& identity) {
    static const QRegularExpression address(
        QRegularExpression::anchoredPattern(QStringLiteral("[^\\s@]+@[^\\s@]+\\.[^\\s@]+")),
        QRegularExpression::UseUnicodePropertiesOption);
    const QString normalized = identity.trimmed().toLower();
    if (!address.match(normalized).hasMatch()) {
        throw OrvaneRuntimeError::invalidEmail();
    }
    return normalized;
}

QString StateText::fixed(double value, int decimals) {
    constexpr int maxDecimals = 20;
    char buffer[384]; // 309 integer digits of the largest double, sign, point, decimals
    const int precision = std::clamp(decimals, 0, maxDecimals);
    const int written = std::snprintf(buffer, sizeof buffer, "%.*f", precision, value);
    if (written < 0) {
        return {};
    }
    QByteArray text(buffer,
                    std::min<qsizetype>(written, static_cast<qsizetype>(sizeof buffer) - 1));
    // QCoreApplication adopts the user's LC_NUMERIC; the texts always use a point.
    if (precision > 0 && std::isfinite(value)) {
        const qsizetype integerEnd = text.size() - precision;
        qsizetype separatorStart = integerEnd;
        while (separatorStart > 0 &&
               (text.at(separatorStart - 1) < '0' || text.at(separatorStart - 1) > '9')) {
            --separatorStart;
        }
        if (separatorStart > 0) {
            text.replace(separatorStart, integerEnd - separatorStart, ".");
        }
    }
    return QString::fromLatin1(text);
}

} // namespace orvane
