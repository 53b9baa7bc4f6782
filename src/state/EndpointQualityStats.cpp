#include "EndpointQualityStats.h"

#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "JSONValue.h"

namespace orvane {

namespace {

QByteArray encodeEntry(const EndpointQualityStats& entry) {
    JSONObjectWriter writer;
    writer.field("successfulConnections", entry.successfulConnections)
        .field("failedConnections", entry.failedConnections)
        .field("consecutiveFailures", entry.consecutiveFailures)
        .field("lastSuccessAt", entry.lastSuccessAt)
        .field("lastFailureAt", entry.lastFailureAt)
        .field("averageLatencyMs", entry.averageLatencyMs);
    return writer.finish();
}

EndpointQualityStats decodeEntry(const JSONObjectReader& reader) {
    EndpointQualityStats entry;
    entry.successfulConnections = reader.required<qint64>("successfulConnections");
    entry.failedConnections = reader.required<qint64>("failedConnections");
    entry.consecutiveFailures = reader.required<qint64>("consecutiveFailures");
    entry.lastSuccessAt = reader.optional<double>({"lastSuccessAt"});
    entry.lastFailureAt = reader.optional<double>({"lastFailureAt"});
    entry.averageLatencyMs = reader.optional<double>({"averageLatencyMs"});
    return entry;
}

} // namespace

QByteArray encodeEndpointQualityStats(const EndpointQualityStatsMap& stats) {
    QByteArray out = "{";
    for (auto it = stats.begin(); it != stats.end(); ++it) {
        if (it != stats.begin()) {
            out.append(',');
        }
        json::appendString(out, it.key());
        out.append(':');
        out.append(encodeEntry(it.value()));
    }
    out.append('}');
    return out;
}

std::optional<EndpointQualityStatsMap> decodeEndpointQualityStats(const QByteArray& data) {
    try {
        const QJsonValue root = json::parse(data);
        if (!root.isObject()) {
            return std::nullopt;
        }
        const QJsonObject members = root.toObject();
        EndpointQualityStatsMap stats;
        for (auto it = members.begin(); it != members.end(); ++it) {
            const QJsonValue value = it.value();
            if (!value.isObject()) {
                return std::nullopt;
            }
            stats.insert(it.key(), decodeEntry(JSONObjectReader(value.toObject(), {it.key()})));
        }
        return stats;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

} // namespace orvane
