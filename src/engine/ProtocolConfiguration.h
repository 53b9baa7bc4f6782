#pragma once

#include "APIProtocolConfigRecords.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "JSONValue.h"
#include "ProtocolKind.h"

#include <QString>

#include <optional>

namespace orvane {

// One node's tunnel configuration in the client's own form: what the connect flow writes
// for sing-box and what the quick-connect cache keeps.
struct ProtocolConfiguration {
    QString endpointId;
    ProtocolKind protocolKind = ProtocolKind::unknown;
    std::optional<QString> singBoxConfigText;
    std::optional<JSONValue> singBoxConfig;
    std::optional<JSONValue> rawConfig;
    QString cacheKey;
    qint64 configRevision = 0;

    // Throws OrvaneRuntimeError::missingProtocolConfig when the answer holds nothing usable.
    static ProtocolConfiguration from(const APIProtocolConfigResponse& protocolResponse,
                                      const QString& fallbackEndpointId);

    // The cache's JSON form: keys named after the fields. Throws DecodingError.
    static ProtocolConfiguration decode(const JSONObjectReader& reader);
    void encode(JSONObjectWriter& writer) const;

    friend bool operator==(const ProtocolConfiguration&, const ProtocolConfiguration&) = default;
};

} // namespace orvane
