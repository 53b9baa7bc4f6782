#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace orvane {

// What one node did in earlier connects; ranks the candidates.
struct EndpointQualityStats {
    qint64 successfulConnections = 0;
    qint64 failedConnections = 0;
    qint64 consecutiveFailures = 0;
    std::optional<double> lastSuccessAt; // seconds since 1970
    std::optional<double> lastFailureAt;
    std::optional<double> averageLatencyMs;

    friend bool operator==(const EndpointQualityStats&, const EndpointQualityStats&) = default;
};

using EndpointQualityStatsMap = QMap<QString, EndpointQualityStats>;

// One compact JSON object keyed by node id; absent optionals are left out, never null.
// Throws EncodingError for a time or latency JSON cannot hold (NaN, infinity).
QByteArray encodeEndpointQualityStats(const EndpointQualityStatsMap& stats);
// Nothing when the data is not such an object or any entry lacks a count.
std::optional<EndpointQualityStatsMap> decodeEndpointQualityStats(const QByteArray& data);

} // namespace orvane
