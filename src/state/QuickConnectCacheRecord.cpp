#include "QuickConnectCacheRecord.h"

#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "JSONValue.h"

namespace orvane {

QByteArray QuickConnectCacheRecord::encode() const {
    JSONObjectWriter writer;
    writer.field("userId", userId)
        .field("deviceId", deviceId)
        .field("endpointId", endpointId)
        .field("outboundMode", outboundMode)
        .field("protocolConfiguration", protocolConfiguration)
        .field("cachedAt", cachedAt)
        .field("successfulAt", successfulAt);
    return writer.finish();
}

std::optional<QuickConnectCacheRecord> QuickConnectCacheRecord::decode(const QByteArray& data) {
    try {
        const QJsonValue root = json::parse(data);
        if (!root.isObject()) {
            return std::nullopt;
        }
        const JSONObjectReader reader(root.toObject(), {});
        QuickConnectCacheRecord record;
        record.userId = reader.optional<QString>({"userId"});
        record.deviceId = reader.required<QString>("deviceId");
        record.endpointId = reader.required<QString>("endpointId");
        record.outboundMode = reader.required<OutboundMode>("outboundMode");
        record.protocolConfiguration =
            reader.required<ProtocolConfiguration>("protocolConfiguration");
        record.cachedAt = reader.required<double>("cachedAt");
        record.successfulAt = reader.required<double>("successfulAt");
        return record;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

} // namespace orvane
