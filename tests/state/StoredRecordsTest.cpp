#include "AppFolders.h"
#include "EndpointQualityStats.h"
#include "QuickConnectCacheRecord.h"
#include "StateFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace orvane;

namespace {

QuickConnectCacheRecord cacheRecord() {
    QuickConnectCacheRecord record;
    record.deviceId = QStringLiteral("dev-9");
    record.endpointId = QStringLiteral("hk-01");
    record.outboundMode = OutboundMode::enhanced;
    ProtocolConfiguration& configuration = record.protocolConfiguration;
    configuration.endpointId = QStringLiteral("hk-01");
    configuration.protocolKind = ProtocolKind::hysteria2;
    configuration.singBoxConfigText = QStringLiteral("{\"log\":{\"level\":\"warn\"}}");
    configuration.singBoxConfig = JSONValue::parse(R"({"outbounds":[{"type":"hysteria2",
        "server_port":443,"up_mbps":0.1,"tls":null,"tag":"节点 \"A\"\n"}],"route":{"rules":[]}})");
    configuration.cacheKey = QStringLiteral("k-1");
    configuration.configRevision = 9007199254740993; // 2^53 + 1
    record.cachedAt = record.successfulAt = 1741342800.123456;
    return record;
}

QByteArray withMember(const QByteArray& json, const char* key, const QJsonValue& value) {
    QJsonObject object = QJsonDocument::fromJson(json).object();
    if (value.isUndefined()) {
        object.remove(QString::fromLatin1(key));
    } else {
        object.insert(QString::fromLatin1(key), value);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
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

    stats.insert(QStringLiteral("big"), {9007199254740993, 0, 0, std::nullopt, 0.1, std::nullopt});
    EXPECT_EQ(decodeEndpointQualityStats(encodeEndpointQualityStats(stats)), stats);
    EXPECT_EQ(decodeEndpointQualityStats("{}"), EndpointQualityStatsMap{});
}

TEST(EndpointQualityStatsTest, DecodingNeedsEveryCountOfEveryEntry) {
    const QByteArray a = R"("a":{"successfulConnections":1,"failedConnections":2,)"
                         R"("consecutiveFailures":0,"lastSuccessAt":null,"extra":true})";
    const auto decoded = decodeEndpointQualityStats("{" + a + "}");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->value(QStringLiteral("a")), (EndpointQualityStats{1, 2, 0}));

    const QByteArray refused[] = {
        "{" + a + R"(,"b":{"successfulConnections":1,"failedConnections":2}})",
        "{" + a +
            R"(,"b":{"successfulConnections":1,"failedConnections":2,)"
            R"("consecutiveFailures":null}})",
        R"({"b":{"successfulConnections":1.5,"failedConnections":0,"consecutiveFailures":0}})",
        R"({"b":{"successfulConnections":1,"failedConnections":0,"consecutiveFailures":0,)"
        R"("averageLatencyMs":"fast"}})",
        R"({"b":[]})",
        "[]",
        "",
    };
    for (const QByteArray& data : refused) {
        EXPECT_EQ(decodeEndpointQualityStats(data), std::nullopt) << data.toStdString();
    }
}

TEST(QuickConnectCacheRecordTest, RoundTripsExactly) {
    QuickConnectCacheRecord record = cacheRecord();
    const QByteArray withoutUser = record.encode();
    EXPECT_FALSE(withoutUser.contains("userId"));
    EXPECT_EQ(QuickConnectCacheRecord::decode(withoutUser), record);

    record.userId = QStringLiteral("u-1");
    record.protocolConfiguration.singBoxConfigText.reset();
    record.protocolConfiguration.rawConfig = JSONValue(JSONValue::Array{1e300, -0.5, "x"});
    record.successfulAt = 0;
    EXPECT_EQ(QuickConnectCacheRecord::decode(record.encode()), record);

    // A null user id and unknown keys are tolerated.
    const QByteArray stored = withMember(withoutUser, "userId", QJsonValue::Null);
    EXPECT_EQ(QuickConnectCacheRecord::decode(withMember(stored, "version", 2)), cacheRecord());
}

TEST(QuickConnectCacheRecordTest, AnyFaultDropsTheWholeRecord) {
    const QByteArray stored = cacheRecord().encode();
    const std::pair<const char*, QJsonValue> faults[] = {
        {"outboundMode", "Smart"},
        {"userId", 42},
        {"cachedAt", "1741342800"},
        {"protocolConfiguration", QJsonObject{{"endpointId", "hk-01"}}},
        {"deviceId", QJsonValue::Null},
        {"deviceId", QJsonValue::Undefined},
        {"endpointId", QJsonValue::Undefined},
        {"outboundMode", QJsonValue::Undefined},
        {"protocolConfiguration", QJsonValue::Undefined},
        {"cachedAt", QJsonValue::Undefined},
        {"successfulAt", QJsonValue::Undefined},
    };
    for (const auto& [key, value] : faults) {
        EXPECT_EQ(QuickConnectCacheRecord::decode(withMember(stored, key, value)), std::nullopt)
            << key << " " << value.toVariant().toString().toStdString();
    }
    EXPECT_EQ(QuickConnectCacheRecord::decode("not json"), std::nullopt);
    EXPECT_EQ(QuickConnectCacheRecord::decode("[]"), std::nullopt);
}

TEST(QuickConnectCacheStore, PrivateFileDamageAndWriteFailure) {
    test::StateFixture f;
    AppState& state = f.makeState();
    EXPECT_EQ(state.quickConnectCache(), std::nullopt);
    const QString path = *AppState::quickConnectCacheLocation(false);
    EXPECT_EQ(path, AppFolders::applicationSupportDirectory() +
                        QStringLiteral("/Cache/quick-connect-cache.json"));

    const QuickConnectCacheRecord first = cacheRecord();
    state.saveQuickConnectCache(first);
    EXPECT_EQ(state.quickConnectCache(), first);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700u);
    f.state.reset();
    EXPECT_EQ(f.makeState().quickConnectCache(), first);

    // A damaged file is no record, and the next save replaces it.
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(first.encode().left(40));
    }
    f.state.reset();
    AppState& reloaded = f.makeState();
    EXPECT_EQ(reloaded.quickConnectCache(), std::nullopt);
    QuickConnectCacheRecord second = cacheRecord();
    second.endpointId = QStringLiteral("sg-01");
    reloaded.saveQuickConnectCache(second);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(QuickConnectCacheRecord::decode(file.readAll()), second);
    }
    EXPECT_EQ(modeOf(path), 0600u);

    // A write that fails keeps the record it had and says why.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/inside")));
    QuickConnectCacheRecord third = cacheRecord();
    third.endpointId = QStringLiteral("jp-01");
    reloaded.saveQuickConnectCache(third);
    EXPECT_EQ(reloaded.quickConnectCache(), second);
    EXPECT_EQ(
        f.logMessages().first(),
        QStringLiteral("快速连接缓存写入失败：无法写入文件 %1：目标是文件夹，不是文件").arg(path));
}
