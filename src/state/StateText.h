#pragma once

#include <QString>

#include <optional>

namespace orvane {

// Texts and checks the state shows or applies, the same everywhere.
class StateText {
public:
    // Remaining traffic in MB: "未知", "不限量", "512MB", "1.5GB".
    static QString trafficText(std::optional<qint64> megabytes);
    // "MM-dd" (local) of an RFC 3339 date-time, its first 10 characters otherwise, "-" when empty.
    static QString shortDateText(const std::optional<QString>& text);
    // Bytes per second: "1.5 MB/s", "2 KB/s", "512 B/s".
    static QString formattedSpeed(double bytesPerSecond);
    // Trimmed, lower-cased address; throws OrvaneRuntimeError::invalidEmail.
    static QString normalizedEmail(const QString& identity);
    // printf-style "%.Nf" with round-half-to-even, as the system's formats do.
    static QString fixed(double value, int decimals);
};

} // namespace orvane
