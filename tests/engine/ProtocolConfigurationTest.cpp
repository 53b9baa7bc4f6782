#include "ProtocolConfiguration.h"
#include "APIProtocolConfigRecords.h"
#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "OrvaneRuntimeError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

using namespace orvane;

namespace {

std::optional<JSONValue> tree(const char* json) {
    if (json == nullptr) {
        return std::nullopt;
    }
    return JSONValue::parse(QByteArray(json));
}

std::string show(const std::optional<JSONValue>& value) {
    return value ? value->toJson().toStdString() : std::string("<absent>");
}

// A response with a usable version-2 block; the cases change what they test.
APIProtocolConfigResponse response() {
    APIProtocolRuntimeV2 runtime;
    runtime.configText = QStringLiteral("{\"outbounds\":[]}");
    APIProtocolConfigV2 block;
    block.protocolType = QStringLiteral("vless");
    block.runtime = runtime;
    APIProtocolConfigResponse out;
    out.protocolConfigV2 = block;
    return out;
}

void expectMissingProtocolConfig(const APIProtocolConfigResponse& answer, const char* label) {
    try {
        ProtocolConfiguration::from(answer, QStringLiteral("fallback"));
        ADD_FAILURE() << label << ": built";
    } catch (const OrvaneRuntimeError& error) {
        EXPECT_EQ(error, OrvaneRuntimeError::missingProtocolConfig()) << label;
        EXPECT_EQ(error.localizedDescription(), QStringLiteral("服务端没有返回可用协议配置。"));
    }
}

ProtocolConfiguration decodeStored(const QByteArray& json) {
    return json::decodeBody<ProtocolConfiguration>(json);
}

ProtocolConfiguration full() {
    ProtocolConfiguration c;
    c.endpointId = QStringLiteral("ep-7");
    c.protocolKind = ProtocolKind::hysteria2;
    c.singBoxConfigText = QStringLiteral("{\"dns\":{}}");
    c.singBoxConfig = tree(R"({"outbounds":[{"type":"hysteria2","server_port":443,"up":0.5}]})");
    c.rawConfig = tree(R"({"singBoxConfig":{"route":{}},"note":null,"list":[true,"x"]})");
    c.cacheKey = QStringLiteral("k-1");
    c.configRevision = 9007199254740993; // above 2^53: must not pass through a double
    return c;
}

} // namespace

TEST(ProtocolConfigurationTest, ChoosesTheSingBoxTree) {
    struct Case {
        const char* label;
        const char* rawConfig;
        const char* flatSingBoxConfig;
        const char* runtimeSingBoxConfig;
        const char* runtimeConfig;
        const char* expected;
    };
    const Case cases[] = {
        {"inner tree under the first spelling", R"({"singBoxConfig":{"dns":{}}})", nullptr, nullptr,
         nullptr, R"({"dns":{}})"},
        {"inner tree under the second spelling", R"({"sing_box_config":{"outbounds":[]}})", nullptr,
         nullptr, nullptr, R"({"outbounds":[]})"},
        {"inner value fails, outer passes", R"({"singBoxConfig":{"log":{}},"outbounds":[]})",
         nullptr, nullptr, nullptr, R"({"singBoxConfig":{"log":{}},"outbounds":[]})"},
        {"an earlier spelling hides a later one",
         R"({"sing_box_config":{"log":{}},"singbox_config":{"route":{}}})", R"({"route":{"x":1}})",
         nullptr, nullptr, R"({"route":{"x":1}})"},
        {"a null under the key still stops the search",
         R"({"singBoxConfig":null,"sing_box_config":{"dns":{}}})", nullptr, R"({"r":1})", nullptr,
         R"({"r":1})"},
        {"raw configuration beats the flat tree", R"({"route":{}})", R"({"dns":{}})", nullptr,
         nullptr, R"({"route":{}})"},
        {"an empty raw object counts for nothing", "{}", R"({"inbounds":5})", nullptr, nullptr,
         R"({"inbounds":5})"},
        {"flat tree that fails the test", nullptr, R"({"log":{}})", R"({"log":{"level":"warn"}})",
         nullptr, R"({"log":{"level":"warn"}})"},
        {"runtime tree beats runtime config", R"(["outbounds"])", nullptr, R"({"a":1})",
         R"({"b":2})", R"({"a":1})"},
        {"runtime config as text", nullptr, nullptr, nullptr, R"("{\"outbounds\":[]}")",
         R"("{\"outbounds\":[]}")"},
        {"runtime config as a list", nullptr, nullptr, nullptr, "[1,2]", "[1,2]"},
        {"nothing but the text", R"({"log":{}})", nullptr, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        APIProtocolConfigResponse answer = response();
        answer.rawConfig = tree(c.rawConfig);
        answer.singBoxConfig = tree(c.flatSingBoxConfig);
        answer.protocolConfigV2->runtime->singBoxConfig = tree(c.runtimeSingBoxConfig);
        answer.protocolConfigV2->runtime->config = tree(c.runtimeConfig);
        const ProtocolConfiguration built = ProtocolConfiguration::from(answer, QString());
        EXPECT_EQ(show(built.singBoxConfig), show(tree(c.expected))) << c.label;
        // The raw configuration is kept as received, whichever tree was chosen.
        EXPECT_EQ(show(built.rawConfig), show(tree(c.rawConfig))) << c.label;
    }
}

TEST(ProtocolConfigurationTest, FailsWithMissingProtocolConfig) {
    APIProtocolConfigResponse noBlock;
    noBlock.protocolType = QStringLiteral("vless");
    noBlock.singBoxConfig = tree(R"({"outbounds":[],"route":{}})");
    noBlock.rawConfig = tree(R"({"outbounds":[]})");
    expectMissingProtocolConfig(noBlock, "no version-2 block");

    APIProtocolConfigResponse noRuntime = response();
    noRuntime.protocolConfigV2->runtime.reset();
    noRuntime.singBoxConfig = tree(R"({"outbounds":[]})");
    expectMissingProtocolConfig(noRuntime, "no runtime block");

    for (const char* type : {"trojan", "", " vless", "hysteria 2"}) {
        APIProtocolConfigResponse unknownType = response();
        unknownType.protocolConfigV2->protocolType = QString::fromUtf8(type);
        expectMissingProtocolConfig(unknownType, type);
    }
    APIProtocolConfigResponse noType = response();
    noType.protocolConfigV2->protocolType.reset();
    noType.protocolType = QStringLiteral("vless"); // the flat type is not consulted
    expectMissingProtocolConfig(noType, "no version-2 type");

    APIProtocolConfigResponse nothing = response();
    nothing.protocolConfigV2->runtime->configText.reset();
    nothing.rawConfig = tree(R"({"log":{}})");
    nothing.singBoxConfig = tree(R"({"experimental":{}})");
    expectMissingProtocolConfig(nothing, "neither a tree nor a text");
}

TEST(ProtocolConfigurationTest, MapsTheProtocolTypeOfTheBlock) {
    const std::pair<const char*, ProtocolKind> cases[] = {
        {"vless", ProtocolKind::vless},   {"VLESS", ProtocolKind::vless},
        {"VLess", ProtocolKind::vless},   {"hysteria2", ProtocolKind::hysteria2},
        {"HY2", ProtocolKind::hysteria2}, {"Hysteria", ProtocolKind::hysteria2},
    };
    for (const auto& [type, kind] : cases) {
        APIProtocolConfigResponse answer = response();
        answer.protocolType = QStringLiteral("trojan");
        answer.protocolConfigV2->protocolType = QString::fromLatin1(type);
        EXPECT_EQ(ProtocolConfiguration::from(answer, QString()).protocolKind, kind) << type;
    }
}

TEST(ProtocolConfigurationTest, TakesIdentityAndCacheFromTheBlock) {
    APIProtocolConfigResponse answer = response();
    answer.endpointId = QStringLiteral("flat-id");
    ProtocolConfiguration built = ProtocolConfiguration::from(answer, QStringLiteral("fallback"));
    EXPECT_EQ(built.endpointId, QStringLiteral("fallback"));
    EXPECT_EQ(built.cacheKey, QString());
    EXPECT_EQ(built.configRevision, 0);
    EXPECT_EQ(built.singBoxConfigText, QStringLiteral("{\"outbounds\":[]}"));
    EXPECT_FALSE(built.singBoxConfig.has_value());
    EXPECT_FALSE(built.rawConfig.has_value());

    answer.protocolConfigV2->endpointId = QStringLiteral("block-id");
    answer.protocolConfigV2->cache = APIProtocolCache{};
    answer.protocolConfigV2->cache->cacheKey = QStringLiteral("ck");
    built = ProtocolConfiguration::from(answer, QStringLiteral("fallback"));
    EXPECT_EQ(built.endpointId, QStringLiteral("block-id"));
    EXPECT_EQ(built.cacheKey, QStringLiteral("ck"));
    EXPECT_EQ(built.configRevision, 0);

    answer.protocolConfigV2->cache->cacheKey.reset();
    answer.protocolConfigV2->cache->configRevision = 42;
    built = ProtocolConfiguration::from(answer, QString());
    EXPECT_EQ(built.cacheKey, QString());
    EXPECT_EQ(built.configRevision, 42);
}

TEST(ProtocolConfigurationTest, BuildsFromAServiceAnswer) {
    const QByteArray body = R"({
        "endpoint_id": "flat", "protocol": "vless",
        "config": {"outbounds": [{"type": "vless", "tag": "proxy"}]},
        "protocol_config_v2": {
            "endpoint_id": "ep-9", "protocol_type": "Hysteria2",
            "runtime": {"config_text": "{}", "sing_box_config": {"log": {}}},
            "cache": {"cache_key": "abc", "config_revision": 12}
        }
    })";
    const auto answer = json::decodeBody<APIProtocolConfigResponse>(body);
    const ProtocolConfiguration built = ProtocolConfiguration::from(answer, QStringLiteral("x"));
    EXPECT_EQ(built.endpointId, QStringLiteral("ep-9"));
    EXPECT_EQ(built.protocolKind, ProtocolKind::hysteria2);
    EXPECT_EQ(show(built.singBoxConfig),
              show(tree(R"({"outbounds":[{"type":"vless","tag":"proxy"}]})")));
    EXPECT_EQ(built.singBoxConfigText, QStringLiteral("{}"));
    EXPECT_EQ(built.cacheKey, QStringLiteral("abc"));
    EXPECT_EQ(built.configRevision, 12);
}

TEST(ProtocolConfigurationTest, StoredFormRoundTrips) {
    const ProtocolConfiguration value = full();
    const QByteArray encoded = encodeJSON(value);
    EXPECT_EQ(decodeStored(encoded), value);
    EXPECT_TRUE(encoded.contains("\"configRevision\":9007199254740993")) << encoded.constData();
    EXPECT_TRUE(encoded.contains("\"protocolKind\":\"hysteria2\""));

    ProtocolConfiguration bare;
    bare.endpointId = QStringLiteral("ep");
    bare.protocolKind = ProtocolKind::unknown;
    const QByteArray bareJSON = encodeJSON(bare);
    // Absent fields write no key at all, never null.
    const QJsonObject keys = QJsonDocument::fromJson(bareJSON).object();
    EXPECT_EQ(keys.keys(),
              (QStringList{QStringLiteral("cacheKey"), QStringLiteral("configRevision"),
                           QStringLiteral("endpointId"), QStringLiteral("protocolKind")}));
    EXPECT_EQ(decodeStored(bareJSON), bare);

    // A text tree stays a text and a null inside a tree stays a null.
    ProtocolConfiguration textTree = bare;
    textTree.singBoxConfig = JSONValue(QStringLiteral("{\"dns\":{}}"));
    textTree.rawConfig = tree(R"({"a":null})");
    EXPECT_EQ(decodeStored(encodeJSON(textTree)), textTree);
}

TEST(ProtocolConfigurationTest, DecodesTheStoredForm) {
    const ProtocolConfiguration lenient = decodeStored(R"({
        "endpointId": "e", "protocolKind": "unknown", "cacheKey": "", "configRevision": 3,
        "singBoxConfigText": null, "singBoxConfig": null, "rawConfig": null, "extra": [1]
    })");
    EXPECT_EQ(lenient.protocolKind, ProtocolKind::unknown);
    EXPECT_FALSE(lenient.singBoxConfigText.has_value());
    EXPECT_FALSE(lenient.singBoxConfig.has_value());
    EXPECT_FALSE(lenient.rawConfig.has_value());
    EXPECT_EQ(lenient.configRevision, 3);

    struct Failure {
        const char* json;
        DecodingError::Kind kind;
    };
    const Failure failures[] = {
        {R"({"protocolKind":"vless","cacheKey":"","configRevision":0})",
         DecodingError::Kind::keyNotFound},
        {R"({"endpointId":"e","protocolKind":"trojan","cacheKey":"","configRevision":0})",
         DecodingError::Kind::dataCorrupted},
        {R"({"endpointId":"e","protocolKind":"VLESS","cacheKey":"","configRevision":0})",
         DecodingError::Kind::dataCorrupted},
        {R"({"endpointId":"e","protocolKind":"vless","configRevision":0})",
         DecodingError::Kind::keyNotFound},
        {R"({"endpointId":"e","protocolKind":"vless","cacheKey":null,"configRevision":0})",
         DecodingError::Kind::valueNotFound},
        {R"({"endpointId":"e","protocolKind":"vless","cacheKey":""})",
         DecodingError::Kind::keyNotFound},
        {R"({"endpointId":"e","protocolKind":"vless","cacheKey":"","configRevision":"1"})",
         DecodingError::Kind::typeMismatch},
        {R"({"endpointId":"e","protocolKind":"vless","cacheKey":"","configRevision":1.5})",
         DecodingError::Kind::dataCorrupted},
        {R"({"endpointId":7,"protocolKind":"vless","cacheKey":"","configRevision":1})",
         DecodingError::Kind::typeMismatch},
        {R"({"endpointId":"e","protocolKind":"vless","cacheKey":"","configRevision":1,
             "singBoxConfigText":{"dns":{}}})",
         DecodingError::Kind::typeMismatch},
        {R"(["endpointId"])", DecodingError::Kind::typeMismatch},
    };
    for (const Failure& f : failures) {
        try {
            decodeStored(QByteArray(f.json));
            ADD_FAILURE() << "decoded: " << f.json;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), f.kind) << f.json;
        }
    }
}

TEST(ProtocolConfigurationTest, EqualityLooksAtEveryField) {
    const ProtocolConfiguration base = full();
    EXPECT_EQ(base, full());
    const std::function<void(ProtocolConfiguration&)> changes[] = {
        [](ProtocolConfiguration& c) { c.endpointId = QStringLiteral("other"); },
        [](ProtocolConfiguration& c) { c.protocolKind = ProtocolKind::vless; },
        [](ProtocolConfiguration& c) { c.singBoxConfigText.reset(); },
        [](ProtocolConfiguration& c) { c.singBoxConfig = tree(R"({"outbounds":[]})"); },
        [](ProtocolConfiguration& c) { c.rawConfig.reset(); },
        [](ProtocolConfiguration& c) { c.cacheKey.clear(); },
        [](ProtocolConfiguration& c) { c.configRevision = 9007199254740992; },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        ProtocolConfiguration changed = full();
        changes[i](changed);
        EXPECT_FALSE(changed == base) << "field " << i;
    }
}
