#include "APINodeRecords.h"
#include "DecodingError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <ostream>

using namespace orvane;

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using Kind = DecodingError::Kind;

template <typename T> T decode(const QByteArray& body) {
    return json::decodeBody<T>(body);
}

template <typename T> DecodingError decodeFailure(const QByteArray& body) {
    try {
        (void)decode<T>(body);
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoded without error: " << body.toStdString();
    return DecodingError(Kind::dataCorrupted, {}, {});
}

QByteArray nodeWith(const char* key, const QJsonValue& value) {
    QJsonObject node{{"id", "n1"},           {"region", "香港"},   {"name", "香港 01"},
                     {"host", "hk.example"}, {"status", "online"}, {"latency_ms", 40},
                     {"load_percent", 20},   {"is_active", 1}};
    if (value.isUndefined()) {
        node.remove(QString::fromLatin1(key));
    } else {
        node.insert(QString::fromLatin1(key), value);
    }
    return QJsonDocument(node).toJson();
}

APIEndpoint endpoint(const QByteArray& body) {
    return decode<APIEndpoint>(body);
}

} // namespace

TEST(APINodesResponseTest, DecodesEveryField) {
    const auto response = decode<APINodesResponse>(
        R"({"nodes":[{"id":"n1","region":"香港","name":"香港 01","host":"hk.example",
                      "status":"online","latency_ms":40,"load_percent":20,"is_active":1}]})");
    ASSERT_EQ(response.nodes.size(), 1);
    EXPECT_EQ(response.nodes[0], (APINode{"n1", QStringLiteral("香港"), QStringLiteral("香港 01"),
                                          "hk.example", "online", 40, 20, 1}));
}

TEST(APINodesResponseTest, EveryFieldIsRequired) {
    for (const char* key :
         {"id", "region", "name", "host", "status", "latency_ms", "load_percent", "is_active"}) {
        SCOPED_TRACE(key);
        const auto missing = decodeFailure<APINode>(nodeWith(key, QJsonValue::Undefined));
        EXPECT_EQ(missing.kind(), Kind::keyNotFound);
        EXPECT_EQ(missing.codingPath(), QStringList{QString::fromLatin1(key)});
        EXPECT_EQ(decodeFailure<APINode>(nodeWith(key, QJsonValue::Null)).kind(),
                  Kind::valueNotFound);
    }
    // The camel spelling of a node key does not stand in for the snake one.
    QJsonObject camel =
        QJsonDocument::fromJson(nodeWith("latency_ms", QJsonValue::Undefined)).object();
    camel.insert(QStringLiteral("latencyMs"), 40);
    EXPECT_EQ(decodeFailure<APINode>(QJsonDocument(camel).toJson()).kind(), Kind::keyNotFound);
}

TEST(APINodesResponseTest, OneMalformedNodeFailsTheList) {
    const QByteArray good = nodeWith("id", QStringLiteral("ok"));
    for (const QByteArray& bad :
         {nodeWith("host", QJsonValue::Undefined), nodeWith("is_active", true),
          nodeWith("latency_ms", QStringLiteral("40")), nodeWith("load_percent", 20.5)}) {
        SCOPED_TRACE(bad.toStdString());
        const auto error =
            decodeFailure<APINodesResponse>("{\"nodes\":[" + good + "," + bad + "]}");
        EXPECT_EQ(error.codingPath().mid(0, 2),
                  (QStringList{QStringLiteral("nodes"), QStringLiteral("Index 1")}));
    }
    EXPECT_EQ(decodeFailure<APINodesResponse>("{}").kind(), Kind::keyNotFound);
}

TEST(APIEndpointTest, DefaultsWhenOnlyTheIdIsGiven) {
    const APIEndpoint expected{
        "n1",        QStringLiteral("自动"), "n1", std::nullopt, "online", 0, 0, true, {"vless"},
        std::nullopt};
    EXPECT_EQ(endpoint(R"({"id":"n1"})"), expected);
    EXPECT_EQ(endpoint(R"({"id":"n1","region":null,"name":null,"host":null,"status":null,
                            "latency_ms":null,"load_percent":null,"is_active":null,
                            "protocols":null,"preferred_protocol":null})"),
              expected);
}

TEST(APIEndpointTest, DecodesEveryField) {
    const auto decoded = endpoint(
        R"({"id":"n2","region":"日本","name":"东京","host":"jp.example","status":"maintenance",
            "latency_ms":88,"load_percent":61,"is_active":false,
            "protocols":["hysteria2","vless"],"preferred_protocol":"hysteria2"})");
    EXPECT_EQ(decoded, (APIEndpoint{"n2",
                                    QStringLiteral("日本"),
                                    QStringLiteral("东京"),
                                    QStringLiteral("jp.example"),
                                    "maintenance",
                                    88,
                                    61,
                                    false,
                                    {"hysteria2", "vless"},
                                    QStringLiteral("hysteria2")}));
}

TEST(APIEndpointTest, IsActiveIsLenient) {
    const struct {
        const char* value;
        bool expected;
    } cases[] = {
        {"true", true},   {"false", false}, {"1", true},   {"0", false},
        {"2", true},      {"-1", true},     {"0.5", true}, {"\"0\"", true},
        {"\"no\"", true}, {"null", true},   {"[0]", true}, {"{}", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const QByteArray body = QByteArray(R"({"id":"n","is_active":)") + c.value + "}";
        EXPECT_EQ(endpoint(body).isActive, c.expected);
    }
    EXPECT_TRUE(endpoint(R"({"id":"n"})").isActive);
}

TEST(APIEndpointTest, ProtocolsFromListOrSingleName) {
    using List = QList<QString>;
    const struct {
        const char* members;
        List expected;
    } cases[] = {
        {R"("protocols":["vless","hysteria2"])", {"vless", "hysteria2"}},
        {R"("protocols":["vless"],"protocol":"hysteria2","type":"x")", {"vless"}},
        {R"("protocol":"hysteria2")", {"hysteria2"}},
        {R"("type":"hysteria2")", {"hysteria2"}},
        {R"("protocol":"vless","type":"hysteria2")", {"vless"}},
        {R"("protocols":null,"protocol":null,"type":"hysteria2")", {"hysteria2"}},
        // An empty list is a list; turning it into a usable protocol is up to the caller.
        {R"("protocols":[],"protocol":"hysteria2")", {}},
        {R"("preferred_protocol":"hysteria2")", {"vless"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.members);
        const QByteArray body = QByteArray(R"({"id":"n",)") + c.members + "}";
        EXPECT_EQ(endpoint(body).protocols, c.expected);
    }
}

TEST(APIEndpointTest, WrongTypedFieldFailsTheEndpoint) {
    for (const char* members :
         {R"("protocols":"vless")", R"("protocols":["vless",1])", R"("protocol":["vless"])",
          R"("type":3)", R"("latency_ms":"40")", R"("load_percent":true)", R"("name":1)",
          R"("host":{})", R"("preferred_protocol":1)"}) {
        SCOPED_TRACE(members);
        const QByteArray body = QByteArray(R"({"id":"n",)") + members + "}";
        EXPECT_EQ(decodeFailure<APIEndpoint>(body).kind(), Kind::typeMismatch);
    }
    EXPECT_EQ(decodeFailure<APIEndpoint>(R"({"name":"x"})").kind(), Kind::keyNotFound);
}

TEST(APIClientBootstrapResponseTest, EndpointsUnderEitherKey) {
    const auto underNodes = decode<APIClientBootstrapResponse>(R"({"nodes":[{"id":"a"}]})");
    ASSERT_EQ(underNodes.endpoints.size(), 1);
    EXPECT_EQ(underNodes.endpoints[0].id, QStringLiteral("a"));

    // "nodes" is never looked at when "endpoints" is there, not even to fail on it.
    const auto both = decode<APIClientBootstrapResponse>(
        R"({"endpoints":[{"id":"e1"},{"id":"e2"}],"nodes":[{"name":"no id"}]})");
    ASSERT_EQ(both.endpoints.size(), 2);
    EXPECT_EQ(both.endpoints[1].id, QStringLiteral("e2"));

    const auto nullEndpoints =
        decode<APIClientBootstrapResponse>(R"({"endpoints":null,"nodes":[{"id":"n"}]})");
    ASSERT_EQ(nullEndpoints.endpoints.size(), 1);
    EXPECT_EQ(nullEndpoints.endpoints[0].id, QStringLiteral("n"));

    EXPECT_EQ(decode<APIClientBootstrapResponse>("{}"), APIClientBootstrapResponse{});
}

TEST(APIClientBootstrapResponseTest, AbsentDevicesDifferFromAnEmptyList) {
    const auto absent = decode<APIClientBootstrapResponse>(R"({"endpoints":[]})");
    EXPECT_FALSE(absent.devices.has_value());
    EXPECT_FALSE(decode<APIClientBootstrapResponse>(R"({"devices":null})").devices.has_value());

    const auto empty = decode<APIClientBootstrapResponse>(R"({"devices":[]})");
    ASSERT_TRUE(empty.devices.has_value());
    EXPECT_TRUE(empty.devices->isEmpty());

    const auto one = decode<APIClientBootstrapResponse>(R"({"devices":[{"id":"d1"}]})");
    ASSERT_TRUE(one.devices.has_value());
    ASSERT_EQ(one.devices->size(), 1);
    EXPECT_EQ(one.devices->at(0).deviceName, QStringLiteral("Orvane 设备"));
}

TEST(APIClientBootstrapResponseTest, UserAndDeviceLimit) {
    const auto full = decode<APIClientBootstrapResponse>(
        R"({"user":{"id":"u","identity":"a@b.cn","role":"user","status":"active",
                    "planName":"专业版","maxDevices":3},
            "max_devices":3})");
    ASSERT_TRUE(full.user.has_value());
    EXPECT_EQ(full.user->planName, QStringLiteral("专业版"));
    EXPECT_EQ(full.maxDevices, 3);

    // Only the snake spelling carries the limit here.
    const auto camel = decode<APIClientBootstrapResponse>(R"({"maxDevices":5})");
    EXPECT_EQ(camel.maxDevices, std::nullopt);
    EXPECT_EQ(camel.user, std::nullopt);
}

TEST(APIClientBootstrapResponseTest, OneMalformedPartFailsTheAnswer) {
    for (const char* body : {
             R"({"endpoints":[{"id":"a"},{"id":"b","latency_ms":"slow"}]})",
             R"({"nodes":[{"id":"a"},{"region":"no id"}]})",
             R"({"devices":[{"id":"d"},{"id":"e","is_online":"yes"}]})",
             R"({"user":{"id":"u","identity":"i","role":"r","status":"s","maxDevices":1}})",
             R"({"endpoints":{"id":"a"}})",
             R"({"max_devices":"3"})",
         }) {
        SCOPED_TRACE(body);
        (void)decodeFailure<APIClientBootstrapResponse>(body);
    }
}

TEST(APIDeviceTest, SnakeCaseFirstThenCamelCase) {
    const auto snake = decode<APIDevice>(
        R"({"id":"d1","device_name":"MacBook","device_type":"macos","os":"macOS 14.5",
            "app_version":"1.2.0","status":"revoked","last_login_at":"2025-01-02",
            "is_online":true,"connection_status":"connected",
            "latest_connection_at":"2025-01-03"})");
    EXPECT_EQ(snake, (APIDevice{"d1", "MacBook", "macos", "macOS 14.5", "1.2.0", "revoked",
                                QStringLiteral("2025-01-02"), true, QStringLiteral("connected"),
                                QStringLiteral("2025-01-03")}));

    const auto camel = decode<APIDevice>(
        R"({"id":"d1","deviceName":"MacBook","deviceType":"macos","os":"macOS 14.5",
            "appVersion":"1.2.0","status":"revoked","lastLoginAt":"2025-01-02",
            "isOnline":true,"connectionStatus":"connected",
            "latestConnectionAt":"2025-01-03"})");
    EXPECT_EQ(camel, snake);

    const auto both = decode<APIDevice>(
        R"({"id":"d","device_name":"snake","deviceName":"camel","is_online":false,
            "isOnline":true,"app_version":null,"appVersion":"2.0"})");
    EXPECT_EQ(both.deviceName, QStringLiteral("snake"));
    EXPECT_FALSE(both.isOnline);
    EXPECT_EQ(both.appVersion, QStringLiteral("2.0"));
}

TEST(APIDeviceTest, DefaultsWhenOnlyTheIdIsGiven) {
    const APIDevice expected{"d",          QStringLiteral("Orvane 设备"),
                             "unknown",    "",
                             "",           "active",
                             std::nullopt, false,
                             std::nullopt, std::nullopt};
    EXPECT_EQ(decode<APIDevice>(R"({"id":"d"})"), expected);
    EXPECT_EQ(decode<APIDevice>(R"({"id":"d","device_name":null,"deviceName":null,"os":null,
                                    "status":null,"is_online":null,"lastLoginAt":null})"),
              expected);
}

TEST(APIDeviceTest, WrongTypedFieldFailsTheDevice) {
    for (const char* body :
         {R"({"id":"d","is_online":1})", R"({"id":"d","os":14})",
          R"({"id":"d","device_name":5,"deviceName":"ok"})", R"({"id":"d","last_login_at":0})"}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(decodeFailure<APIDevice>(body).kind(), Kind::typeMismatch);
    }
    EXPECT_EQ(decodeFailure<APIDevice>(R"({"device_name":"x"})").kind(), Kind::keyNotFound);
}

TEST(APIDevicesResponseTest, CountsUnderEitherSpelling) {
    const struct {
        const char* body;
        qint64 maxDevices;
        qint64 activeDeviceCount;
    } cases[] = {
        {R"({"devices":[]})", 0, 0},
        {R"({"devices":[],"maxDevices":5,"activeDeviceCount":2})", 5, 2},
        {R"({"devices":[],"max_devices":3,"maxDevices":5,"active_device_count":1,
             "activeDeviceCount":2})",
         3, 1},
        {R"({"devices":[],"max_devices":null,"maxDevices":4})", 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto response = decode<APIDevicesResponse>(c.body);
        EXPECT_EQ(response.maxDevices, c.maxDevices);
        EXPECT_EQ(response.activeDeviceCount, c.activeDeviceCount);
    }
}

TEST(APIDevicesResponseTest, DevicesAreRequiredAndOneBadDeviceFailsTheList) {
    EXPECT_EQ(decodeFailure<APIDevicesResponse>(R"({"maxDevices":5})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIDevicesResponse>(R"({"devices":null})").kind(), Kind::valueNotFound);
    const auto error =
        decodeFailure<APIDevicesResponse>(R"({"devices":[{"id":"a"},{"deviceName":"no id"}]})");
    EXPECT_EQ(error.codingPath(), (QStringList{QStringLiteral("devices"), QStringLiteral("Index 1"),
                                               QStringLiteral("id")}));
}

TEST(APIDeviceResponseTest, DeviceIsRequired) {
    EXPECT_EQ(decode<APIDeviceResponse>(R"({"device":{"id":"d9"}})").device.id,
              QStringLiteral("d9"));
    EXPECT_EQ(decodeFailure<APIDeviceResponse>(R"({"id":"d9"})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIDeviceResponse>(R"({"device":"d9"})").kind(), Kind::typeMismatch);
}

TEST(APIBindDeviceRequestTest, KeysInOrderAndAbsentIdLeftOut) {
    APIBindDeviceRequest request{QStringLiteral("srv-1"), QStringLiteral("Mac"),
                                 QStringLiteral("macos"), QStringLiteral("macOS 14.5"),
                                 QStringLiteral("1.0.0")};
    EXPECT_EQ(encodeJSON(request),
              QByteArray(R"({"deviceId":"srv-1","deviceName":"Mac","deviceType":"macos",)"
                         R"("os":"macOS 14.5","appVersion":"1.0.0"})"));

    request.deviceId.reset();
    request.deviceName = QStringLiteral("张三的 \"Mac\"");
    const QByteArray encoded = encodeJSON(request);
    EXPECT_TRUE(encoded.startsWith(R"({"deviceName":)")) << encoded.toStdString();
    const QJsonObject object = QJsonDocument::fromJson(encoded).object();
    EXPECT_EQ(object.keys(),
              (QStringList{QStringLiteral("appVersion"), QStringLiteral("deviceName"),
                           QStringLiteral("deviceType"), QStringLiteral("os")}));
    EXPECT_EQ(object.value(QStringLiteral("deviceName")).toString(), request.deviceName);
}
