#pragma once

#include "ProtocolConfiguration.h"
#include "StateEnumerations.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// The last configuration that connected, kept for a quick reconnect.
struct QuickConnectCacheRecord {
    std::optional<QString> userId;
    QString deviceId;
    QString endpointId;
    OutboundMode outboundMode = OutboundMode::smart;
    ProtocolConfiguration protocolConfiguration;
    double cachedAt = 0; // seconds since 1970
    double successfulAt = 0;

    // Compact JSON; no "userId" key when there is none. Throws EncodingError for a NaN or an
    // infinity in a time or in the configuration.
    QByteArray encode() const;
    // Nothing when the text is not such a record (every key but "userId" required).
    static std::optional<QuickConnectCacheRecord> decode(const QByteArray& data);

    friend bool operator==(const QuickConnectCacheRecord&,
                           const QuickConnectCacheRecord&) = default;
};

} // namespace orvane
