#include "APIProtocolConfigRecords.h"
#include "DecodingError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

using namespace orvane;

namespace {

APIProtocolConfigResponse decode(const char* body) {
    return json::decodeBody<APIProtocolConfigResponse>(QByteArray(body));
}

std::optional<DecodingError> decodeFailure(const char* body) {
    try {
        decode(body);
    } catch (const DecodingError& error) {
        return error;
    }
    return std::nullopt;
}

std::string text(const std::optional<QString>& value) {
    return value ? value->toStdString() : std::string("<absent>");
}

std::string text(const std::optional<qint64>& value) {
    return value ? std::to_string(*value) : std::string("<absent>");
}

// Keys of an encoded object in the order they were written.
QStringList keysInOrder(const QByteArray& encoded) {
    const QJsonObject object = QJsonDocument::fromJson(encoded).object();
    QStringList keys = object.keys();
    std::sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) {
        return encoded.indexOf("\"" + a.toUtf8() + "\":") <
               encoded.indexOf("\"" + b.toUtf8() + "\":");
    });
    return keys;
}

struct SpellingCase {
    const char* name;
    const char* body;
    std::function<std::string(const APIProtocolConfigResponse&)> field;
    std::string expected;
};

TEST(APIProtocolConfigRecordsTest, KeySpellingsAreTriedInOrder) {
    const auto endpointId = [](const APIProtocolConfigResponse& r) { return text(r.endpointId); };
    const auto protocolType = [](const APIProtocolConfigResponse& r) {
        return r.protocolType.toStdString();
    };
    const auto configText = [](const APIProtocolConfigResponse& r) { return text(r.configText); };
    const auto status = [](const APIProtocolConfigResponse& r) { return text(r.configStatus); };
    const auto retry = [](const APIProtocolConfigResponse& r) { return text(r.retryAfterMs); };
    const auto maxWait = [](const APIProtocolConfigResponse& r) { return text(r.maxWaitMs); };
    const auto v2Endpoint = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->endpointId);
    };
    const auto v2Protocol = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->protocolType);
    };
    const auto v2Status = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->configStatus);
    };
    const auto rtText = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->runtime->configText);
    };
    const auto cacheKey = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->cache->cacheKey);
    };
    const auto revision = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->cache->configRevision);
    };
    const auto syncStatus = [](const APIProtocolConfigResponse& r) {
        return text(r.protocolConfigV2->lifecycle->nodeSyncStatus);
    };
    const auto provRetry = [](const APIProtocolConfigResponse& r) {
        return text(r.provisioning->retryAfterMs);
    };

    const SpellingCase cases[] = {
        {"only node_id", R"({"node_id":"n"})", endpointId, "n"},
        {"endpoint_id beats endpointId", R"({"endpointId":"b","endpoint_id":"a","node_id":"n"})",
         endpointId, "a"},
        {"null endpoint_id falls through", R"({"endpoint_id":null,"endpointId":"b"})", endpointId,
         "b"},
        {"no endpoint key", R"({})", endpointId, "<absent>"},
        {"protocol beats later spellings", R"({"type":"t","protocol_type":"p","protocol":"vless"})",
         protocolType, "vless"},
        {"bare type is the last resort", R"({"type":"hy2"})", protocolType, "hy2"},
        {"null protocol gives empty text", R"({"protocol":null})", protocolType, ""},
        {"config_text beats configText", R"({"configText":"b","config_text":"a"})", configText,
         "a"},
        {"configText alone", R"({"configText":"b"})", configText, "b"},
        {"config_status", R"({"config_status":"ready"})", status, "ready"},
        {"camel status beats snake", R"({"config_status":"b","configStatus":"a"})", status, "a"},
        {"retry_after_ms", R"({"retry_after_ms":250})", retry, "250"},
        {"max_wait_ms", R"({"max_wait_ms":9000})", maxWait, "9000"},
        {"v2 endpointId beats endpoint_id",
         R"({"protocolConfigV2":{"endpoint_id":"a","endpointId":"b"}})", v2Endpoint, "b"},
        {"v2 in snake case", R"({"protocol_config_v2":{"endpoint_id":"a"}})", v2Endpoint, "a"},
        {"v2 protocol_type", R"({"protocolConfigV2":{"protocol_type":"vless"}})", v2Protocol,
         "vless"},
        {"v2 config_status", R"({"protocolConfigV2":{"config_status":"queued"}})", v2Status,
         "queued"},
        {"runtime config_text", R"({"protocolConfigV2":{"runtime":{"config_text":"a"}}})", rtText,
         "a"},
        {"cache key is the last resort", R"({"protocolConfigV2":{"cache":{"key":"k"}}})", cacheKey,
         "k"},
        {"cache_key beats key", R"({"protocolConfigV2":{"cache":{"key":"k","cache_key":"c"}}})",
         cacheKey, "c"},
        {"config_revision", R"({"protocolConfigV2":{"cache":{"config_revision":7}}})", revision,
         "7"},
        {"node_sync_status", R"({"protocolConfigV2":{"lifecycle":{"node_sync_status":"synced"}}})",
         syncStatus, "synced"},
        {"provisioning retry_after_ms", R"({"provisioning":{"retry_after_ms":250}})", provRetry,
         "250"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.field(decode(c.body)), c.expected);
    }
}

TEST(APIProtocolConfigRecordsTest, EmptyObjectDecodesWithEverythingAbsent) {
    EXPECT_EQ(decode("{}"), APIProtocolConfigResponse{});
    EXPECT_EQ(decode(R"({"protocolConfigV2":{}})").protocolConfigV2, APIProtocolConfigV2{});
}

TEST(APIProtocolConfigRecordsTest, DecodesAFullAnswer) {
    const auto r = decode(R"({
        "endpoint_id": "ep-1", "protocol": "vless", "config_text": "vless://x",
        "singbox_config": {"outbounds": [{"type": "vless", "server_port": 443}]},
        "protocolConfigV2": {
            "endpointId": "ep-1", "protocol": "vless", "adapter": "sing-box",
            "runtime": {"configText": "t", "sing_box_config": {"a": 1}, "config": [1, "x"]},
            "cache": {"cacheKey": "ck", "credential_id": "cr", "configRevision": 3,
                      "expires_at": "2030-01-01T00:00:00Z", "endpointUpdatedAt": "u"},
            "configStatus": "ready",
            "lifecycle": {"nodeSyncStatus": "synced"},
            "provisioning": {"status": "done"}
        },
        "message": "ok", "retryAfterMs": 10, "maxWaitMs": 20,
        "provisioning": {"status": "s", "message": "m", "retryAfterMs": 1, "max_wait_ms": 2},
        "unknown_key": {"ignored": true}
    })");

    APIProtocolConfigResponse expected;
    expected.endpointId = QStringLiteral("ep-1");
    expected.protocolType = QStringLiteral("vless");
    expected.configText = QStringLiteral("vless://x");
    expected.singBoxConfig =
        JSONValue::parse(R"({"outbounds": [{"type": "vless", "server_port": 443}]})");
    expected.protocolConfigV2 = APIProtocolConfigV2{
        .endpointId = QStringLiteral("ep-1"),
        .protocolType = QStringLiteral("vless"),
        .adapter = QStringLiteral("sing-box"),
        .runtime = APIProtocolRuntimeV2{.configText = QStringLiteral("t"),
                                        .singBoxConfig = JSONValue::parse(R"({"a":1})"),
                                        .config = JSONValue::parse(R"([1,"x"])")},
        .cache = APIProtocolCache{.cacheKey = QStringLiteral("ck"),
                                  .credentialId = QStringLiteral("cr"),
                                  .configRevision = 3,
                                  .expiresAt = QStringLiteral("2030-01-01T00:00:00Z"),
                                  .endpointUpdatedAt = QStringLiteral("u")},
        .configStatus = QStringLiteral("ready"),
        .lifecycle = APIProtocolLifecycle{.nodeSyncStatus = QStringLiteral("synced")},
        .provisioning = APIProtocolProvisioning{.status = QStringLiteral("done")},
    };
    expected.message = QStringLiteral("ok");
    expected.retryAfterMs = 10;
    expected.maxWaitMs = 20;
    expected.provisioning = APIProtocolProvisioning{.status = QStringLiteral("s"),
                                                    .message = QStringLiteral("m"),
                                                    .retryAfterMs = 1,
                                                    .maxWaitMs = 2};
    EXPECT_EQ(r, expected);
}

TEST(APIProtocolConfigRecordsTest, RawConfigTakesConfigOrWrapsOutbounds) {
    struct Case {
        const char* name;
        const char* body;
        const char* expected; // nullptr: absent
    };
    const Case cases[] = {
        {"config as it is", R"({"config":{"log":{}},"outbounds":[1]})", R"({"log":{}})"},
        {"config of any kind", R"({"config":"text"})", R"("text")"},
        {"null config falls to outbounds", R"({"config":null,"outbounds":[{"type":"vless"}]})",
         R"({"outbounds":[{"type":"vless"}]})"},
        {"outbounds beats outbound", R"({"outbound":{"type":"b"},"outbounds":[{"type":"a"}]})",
         R"({"outbounds":[{"type":"a"}]})"},
        {"outbounds kept as sent", R"({"outbounds":{"type":"a"}})",
         R"({"outbounds":{"type":"a"}})"},
        {"single outbound becomes a list", R"({"outbound":{"type":"hysteria2"}})",
         R"({"outbounds":[{"type":"hysteria2"}]})"},
        {"nothing", R"({"outbounds":null,"outbound":null})", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto raw = decode(c.body).rawConfig;
        if (c.expected) {
            ASSERT_TRUE(raw.has_value());
            EXPECT_EQ(*raw, JSONValue::parse(c.expected));
        } else {
            EXPECT_FALSE(raw.has_value());
        }
    }
}

TEST(APIProtocolConfigRecordsTest, SingBoxConfigSpellings) {
    EXPECT_EQ(decode(R"({"singbox_config":{"x":1}})").singBoxConfig, JSONValue::parse("{\"x\":1}"));
    EXPECT_EQ(decode(R"({"sing_box_config":[2],"singbox_config":[3]})").singBoxConfig,
              JSONValue::parse("[2]"));
    // The whole configuration is kept, integers intact.
    const auto r = decode(R"({"singBoxConfig":{"inbounds":[{"listen_port":19090}]}})");
    ASSERT_TRUE(r.singBoxConfig.has_value());
    EXPECT_EQ(r.singBoxConfig->toJson(), QByteArray(R"({"inbounds":[{"listen_port":19090}]})"));
}

TEST(APIProtocolConfigRecordsTest, WrongTypeFailsTheWholeAnswer) {
    struct Case {
        const char* name;
        const char* body;
        DecodingError::Kind kind;
        QStringList path;
    };
    using K = DecodingError::Kind;
    const Case cases[] = {
        {"text retry", R"({"retry_after_ms":"250"})", K::typeMismatch, {"retry_after_ms"}},
        {"no fall-through past a bad first key",
         R"({"endpoint_id":5,"endpointId":"ok"})",
         K::typeMismatch,
         {"endpoint_id"}},
        {"number as protocol", R"({"protocol":1})", K::typeMismatch, {"protocol"}},
        {"fractional wait", R"({"maxWaitMs":1.5})", K::dataCorrupted, {"maxWaitMs"}},
        {"provisioning not an object",
         R"({"provisioning":"x"})",
         K::typeMismatch,
         {"provisioning"}},
        {"deep in the runtime",
         R"({"protocolConfigV2":{"runtime":{"configText":1}}})",
         K::typeMismatch,
         {"protocolConfigV2", "runtime", "configText"}},
        {"cache revision as text",
         R"({"protocolConfigV2":{"cache":{"configRevision":"3"}}})",
         K::typeMismatch,
         {"protocolConfigV2", "cache", "configRevision"}},
        {"bad lifecycle status",
         R"({"protocolConfigV2":{"lifecycle":{"nodeSyncStatus":true}}})",
         K::typeMismatch,
         {"protocolConfigV2", "lifecycle", "nodeSyncStatus"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = decodeFailure(c.body);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->kind(), c.kind);
        EXPECT_EQ(error->codingPath(), c.path);
    }
}

TEST(APIProtocolConfigRecordsTest, Readiness) {
    struct Case {
        const char* name;
        const char* body;
        const char* status;
        const char* message;
        qint64 retryAfterMs;
        qint64 maxWaitMs;
    };
    const Case cases[] = {
        {"empty answer", "{}", "ready", "", 1000, 5000},
        {"service word lower-cased", R"({"configStatus":"Provisioning"})", "provisioning", "", 1000,
         5000},
        {"any service word passes", R"({"config_status":"Warming_Up"})", "warming_up", "", 1000,
         5000},
        {"top status beats v2 and provisioning",
         R"({"configStatus":"A","protocolConfigV2":{"configStatus":"B"},
             "provisioning":{"status":"C"}})",
         "a", "", 1000, 5000},
        {"v2 status beats provisioning",
         R"({"protocolConfigV2":{"configStatus":"B"},"provisioning":{"status":"C"}})", "b", "",
         1000, 5000},
        {"provisioning status last", R"({"provisioning":{"status":"FAILED"}})", "failed", "", 1000,
         5000},
        {"empty top status stops the search",
         R"({"configStatus":"","provisioning":{"status":"failed"}})", "ready", "", 1000, 5000},
        {"empty v2 status stops the search",
         R"({"protocolConfigV2":{"configStatus":""},"provisioning":{"status":"failed"}})", "ready",
         "", 1000, 5000},
        {"sync failed",
         R"({"configStatus":"","protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"SYNC_FAILED"}}})",
         "failed", "", 1000, 5000},
        {"synced",
         R"({"configStatus":"","protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"Synced"}}})",
         "ready", "", 1000, 5000},
        {"not required", R"({"protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"NOT_REQUIRED"}}})",
         "ready", "", 1000, 5000},
        {"queued",
         R"({"configStatus":"","protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"queued"}}})",
         "not_ready", "", 1000, 5000},
        {"failed anywhere in the word",
         R"({"protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"partially-failed-2"}}})", "failed",
         "", 1000, 5000},
        {"empty sync status", R"({"protocolConfigV2":{"lifecycle":{"nodeSyncStatus":""}}})",
         "ready", "", 1000, 5000},
        {"service word beats lifecycle",
         R"({"configStatus":"Pending","protocolConfigV2":{"lifecycle":{"nodeSyncStatus":"synced"}}})",
         "pending", "", 1000, 5000},
        {"provisioning fills the rest",
         R"({"provisioning":{"message":"稍候","retryAfterMs":250,"maxWaitMs":8000}})", "ready",
         "稍候", 250, 8000},
        {"top level beats provisioning",
         R"({"message":"","retry_after_ms":100,"max_wait_ms":200,
             "provisioning":{"message":"m","retryAfterMs":250,"maxWaitMs":8000}})",
         "ready", "", 100, 200},
        {"provisioning without numbers", R"({"provisioning":{"status":"queued"}})", "queued", "",
         1000, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProtocolConfigReadiness r = decode(c.body).readiness();
        EXPECT_EQ(r.status.toStdString(), c.status);
        EXPECT_EQ(r.message.toStdString(), c.message);
        EXPECT_EQ(r.retryAfterMs, c.retryAfterMs);
        EXPECT_EQ(r.maxWaitMs, c.maxWaitMs);
    }
}

TEST(APIProtocolConfigRecordsTest, RuntimeDebugSummary) {
    struct Case {
        const char* body;
        const char* summary;
    };
    const Case cases[] = {
        {"{}", "v2=false proto= runtime=false rtText=false rtSB=false rtConfig=false topSB=false "
               "topRaw=false"},
        {R"({"protocol":"vless","protocolConfigV2":{"runtime":{"configText":"x"}}})",
         "v2=true proto=vless runtime=true rtText=true rtSB=false rtConfig=false topSB=false "
         "topRaw=false"},
        {R"({"protocol":"vless","singBoxConfig":{},"outbound":{},
             "protocolConfigV2":{"protocol":"hysteria2",
                                 "runtime":{"singBoxConfig":{},"config":{}}}})",
         "v2=true proto=hysteria2 runtime=true rtText=false rtSB=true rtConfig=true topSB=true "
         "topRaw=true"},
        {R"({"type":"hy2","config":{},"protocolConfigV2":{"adapter":"a"}})",
         "v2=true proto=hy2 runtime=false rtText=false rtSB=false rtConfig=false topSB=false "
         "topRaw=true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(decode(c.body).runtimeDebugSummary().toStdString(), c.summary);
    }
}

TEST(APIProtocolConfigRecordsTest, RequestWritesEveryKeyInOrder) {
    APIProtocolConfigRequest request{
        .endpointId = QStringLiteral("ep"),
        .deviceId = QStringLiteral("dev"),
        .platform = QStringLiteral("macos"),
        .outboundMode = QStringLiteral("rule"),
        .waitForReadyMs = 4000,
        .clientRegion = QStringLiteral("CN"),
        .networkType = QStringLiteral("wifi"),
        .isOverseas = std::nullopt,
        .attemptId = QStringLiteral("att"),
        .requestId = QStringLiteral("req"),
        .buildId = QStringLiteral("b1"),
        .includeRoutePolicy = true,
    };
    QByteArray encoded = encodeJSON(request);
    EXPECT_EQ(keysInOrder(encoded),
              QStringList({"endpoint_id", "device_id", "platform", "outbound_mode",
                           "wait_for_ready_ms", "client_region", "network_type", "attempt_id",
                           "request_id", "build_id", "includeRoutePolicy"}));
    QJsonObject object = QJsonDocument::fromJson(encoded).object();
    EXPECT_EQ(object.value("wait_for_ready_ms").toInteger(-1), 4000);
    EXPECT_EQ(object.value("includeRoutePolicy").toBool(false), true);
    EXPECT_EQ(object.value("outbound_mode").toString(), QStringLiteral("rule"));

    request.isOverseas = false;
    encoded = encodeJSON(request);
    EXPECT_EQ(keysInOrder(encoded).indexOf("is_overseas"), 7);
    object = QJsonDocument::fromJson(encoded).object();
    ASSERT_TRUE(object.value("is_overseas").isBool());
    EXPECT_FALSE(object.value("is_overseas").toBool(true));
}

} // namespace
