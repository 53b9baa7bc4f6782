#include "EndpointQualityStats.h"
#include "QuickConnectCacheRecord.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

QuickConnectCacheRecord cacheRecord() {
    QuickConnectCacheRecord record;
    record.deviceId = QStringLiteral("dev-9");
    record.endpointId = QStringLiteral("hk-01");
    record.outboundMode = OutboundMode::enhanced;
    record.protocolConfiguration.endpointId = QStringLiteral("hk-01");
    record.protocolConfiguration.protocolKind = ProtocolKind::hysteria2;
    record.protocolConfiguration.singBoxConfigText =
        QStringLiteral("{\"log\":{\"level\":\"warn\"}}");
    record.protocolConfiguration.singBoxConfig = JSONValue::parse(
        R"({"outbounds":[{"type":"hysteria2","server_port":443,"up_mbps":0.1,"tls":null,
            "tag":"节点 \"A\"\n"}],"route":{"final":"proxy","rules":[]}})");
    record.protocolConfiguration.cacheKey = QStringLiteral("k-1");
    record.protocolConfiguration.configRevision = 9007199254740993; // 2^53 + 1
    record.cachedAt = 1741342800.123456;
    record.successfulAt = 1741342800.123456;
    return record;
}

QJsonObject objectOf(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

QByteArray textOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

TEST(EndpointQualityStatsTest, EncodesCountsAlwaysAndOptionalsOnlyWhenSet) {
    EndpointQualityStatsMap stats;
    stats.insert(QStringLiteral("fresh"), {});
    stats.insert(QStringLiteral("hk-01"), {12, 3, 1, 1741342800.5, 1741342900.0, 84.25});
    EXPECT_EQ(encodeEndpointQualityStats(stats),
              QByteArray(R"({"fresh":{"successfulConnections":0,"failedConnections":0,)"
                         R"("consecutiveFailures":0},"hk-01":{"successfulConnections":12,)"
                         R"("failedConnections":3,"consecutiveFailures":1,)"
                         R"("lastSuccessAt":1741342800.5,"lastFailureAt":1741342900,)"
                         R"("averageLatencyMs":84.25}})"));
    EXPECT_EQ(encodeEndpointQualityStats({}), QByteArray("{}"));

    stats.insert(QStringLiteral("big"), {9007199254740993, 0, 0, std::nullopt, 0.1, std::nullopt});
    EXPECT_EQ(decodeEndpointQualityStats(encodeEndpointQualityStats(stats)), stats);
}

TEST(EndpointQualityStatsTest, DecodingNeedsEveryCountOfEveryEntry) {
    const QByteArray entry = R"("a":{"successfulConnections":1,"failedConnections":2,)"
                             R"("consecutiveFailures":0,"lastSuccessAt":null,"extra":true})";
    const auto decoded = decodeEndpointQualityStats("{" + entry + "}");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->value(QStringLiteral("a")), (EndpointQualityStats{1, 2, 0}));
    EXPECT_EQ(decodeEndpointQualityStats("{}"), EndpointQualityStatsMap{});

    const QByteArray refused[] = {
        "{" + entry + R"(,"b":{"successfulConnections":1,"failedConnections":2}})",
        "{" + entry +
            R"(,"b":{"successfulConnections":1,"failedConnections":2,)"
            R"("consecutiveFailures":null}})",
        R"({"a":{"successfulConnections":1.5,"failedConnections":0,"consecutiveFailures":0}})",
        R"({"a":{"successfulConnections":"1","failedConnections":0,"consecutiveFailures":0}})",
        R"({"a":{"successfulConnections":1,"failedConnections":0,"consecutiveFailures":0,)"
        R"("averageLatencyMs":"fast"}})",
        R"({"a":[]})",
        R"([])",
        "",
        "{",
    };
    for (const QByteArray& data : refused) {
        EXPECT_EQ(decodeEndpointQualityStats(data), std::nullopt) << data.toStdString();
    }
}

TEST(QuickConnectCacheRecordTest, RoundTripsExactly) {
    QuickConnectCacheRecord record = cacheRecord();
    const QByteArray withoutUser = record.encode();
    EXPECT_FALSE(objectOf(withoutUser).contains(QStringLiteral("userId")));
    EXPECT_EQ(QuickConnectCacheRecord::decode(withoutUser), record);

    record.userId = QStringLiteral("u-1");
    record.protocolConfiguration.singBoxConfigText.reset();
    record.protocolConfiguration.rawConfig = JSONValue(JSONValue::Array{1e300, -0.5, "x"});
    record.successfulAt = 0;
    const QByteArray withUser = record.encode();
    EXPECT_EQ(objectOf(withUser).value(QStringLiteral("outboundMode")), QStringLiteral("enhanced"));
    EXPECT_EQ(QuickConnectCacheRecord::decode(withUser), record);
}

TEST(QuickConnectCacheRecordTest, AnyFaultDropsTheWholeRecord) {
    const QJsonObject stored = objectOf(cacheRecord().encode());

    QJsonObject lenient = stored;
    lenient.insert(QStringLiteral("userId"), QJsonValue::Null);
    lenient.insert(QStringLiteral("version"), 2);
    EXPECT_EQ(QuickConnectCacheRecord::decode(textOf(lenient)), cacheRecord());

    for (const char* key : {"deviceId", "endpointId", "outboundMode", "protocolConfiguration",
                            "cachedAt", "successfulAt"}) {
        QJsonObject missing = stored;
        missing.remove(QString::fromLatin1(key));
        EXPECT_EQ(QuickConnectCacheRecord::decode(textOf(missing)), std::nullopt) << key;
        missing.insert(QString::fromLatin1(key), QJsonValue::Null);
        EXPECT_EQ(QuickConnectCacheRecord::decode(textOf(missing)), std::nullopt) << key;
    }

    const std::pair<const char*, QJsonValue> wrong[] = {
        {"outboundMode", QStringLiteral("Smart")},
        {"outboundMode", QStringLiteral("auto")},
        {"userId", 42},
        {"cachedAt", QStringLiteral("1741342800")},
        {"deviceId", 7},
        {"protocolConfiguration", QJsonObject{{"endpointId", "hk-01"}}},
    };
    for (const auto& [key, value] : wrong) {
        QJsonObject changed = stored;
        changed.insert(QString::fromLatin1(key), value);
        EXPECT_EQ(QuickConnectCacheRecord::decode(textOf(changed)), std::nullopt) << key;
    }
    EXPECT_EQ(QuickConnectCacheRecord::decode("not json"), std::nullopt);
    EXPECT_EQ(QuickConnectCacheRecord::decode("[]"), std::nullopt);
}
