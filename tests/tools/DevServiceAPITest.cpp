#include "DevService.h"
#include "ServiceClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

using orvane::dev::DevService;
using orvane::test::ServiceClient;

namespace {

const QString kExpired = QStringLiteral("登录已过期，请重新登录。");

DevService::Options readyAfter(int polls) {
    DevService::Options options;
    options.configReadyAfterPolls = polls;
    return options;
}

QJsonObject bindBody(const QString& clientDeviceId) {
    return QJsonObject{{QStringLiteral("deviceId"), clientDeviceId},
                       {QStringLiteral("deviceName"), QStringLiteral("Mac")},
                       {QStringLiteral("deviceType"), QStringLiteral("macos")},
                       {QStringLiteral("os"), QStringLiteral("Version 14.5")},
                       {QStringLiteral("appVersion"), QStringLiteral("v10.5.1")}};
}

class DevServiceAPITest : public ::testing::Test {
protected:
    explicit DevServiceAPITest(DevService::Options options = readyAfter(2)) : m_service(options) {
        m_service.start();
        m_client = std::make_unique<ServiceClient>(m_service.port());
    }

    QString bind(const QString& clientDeviceId, const QString& token) {
        const auto answer =
            m_client->post(QStringLiteral("/api/devices"), bindBody(clientDeviceId), token);
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        return answer.json()
            .value(QStringLiteral("device"))
            .toObject()
            .value(QStringLiteral("id"))
            .toString();
    }

    ServiceClient::Answer protocolConfig(const QString& deviceId, const QString& endpointId,
                                         const QString& token) {
        return m_client->post(
            QStringLiteral("/api/client/devices/%1/protocol-config").arg(deviceId),
            {{QStringLiteral("endpoint_id"), endpointId},
             {QStringLiteral("device_id"), deviceId},
             {QStringLiteral("wait_for_ready_ms"), 8000}},
            token);
    }

    DevService m_service;
    std::unique_ptr<ServiceClient> m_client;
};

// Every request the client makes, with the member its answer record requires.
TEST_F(DevServiceAPITest, ServesEveryRequestOfTheCatalogueAndGuardsTheTokenOnes) {
    const QString token = m_service.demoToken();
    const QString deviceId = bind(QStringLiteral("macos-catalogue"), token);
    const QString spareId = bind(QStringLiteral("macos-spare"), token);
    const QByteArray report = R"({"deviceId":"x","status":"connected","protocol":"vless"})";
    const struct {
        const char* method;
        QString path;
        QByteArray body;
        bool token;
        const char* key;
    } rows[] = {
        {"POST", "/api/auth/verification-code", R"({"identity":"new@orvane.dev"})", false, "ok"},
        {"POST", "/api/auth/login", R"({"identity":"demo@orvane.dev","password":"orvane-demo"})",
         false, "token"},
        {"GET", "/api/nodes", {}, false, "nodes"},
        {"GET",
         "/api/client/route-catalog?clientPlatform=macos&client_platform=macos",
         {},
         false,
         "categories"},
        {"GET", "/api/plans", {}, false, "plans"},
        {"GET", "/api/versions", {}, false, "versions"},
        {"GET", "/api/me", {}, true, "user"},
        {"GET",
         "/api/client/bootstrap?clientPlatform=macos&client_platform=macos&clientRegion=auto&"
         "client_region=auto&networkType=wired&network_type=wired",
         {},
         true,
         "endpoints"},
        {"GET",
         "/api/client/route-preferences?clientPlatform=macos&client_platform=macos",
         {},
         true,
         "preferences"},
        {"PUT", "/api/client/route-preferences?clientPlatform=macos&client_platform=macos",
         R"({"preferences":[{"categoryId":"ai","policyId":"policy_ai"}]})", true, "routeCatalog"},
        {"GET", "/api/devices", {}, true, "devices"},
        {"POST", "/api/devices",
         QJsonDocument(bindBody(QStringLiteral("macos-catalogue"))).toJson(), true, "device"},
        {"POST", "/api/client/devices/" + deviceId + "/protocol-config",
         R"({"endpoint_id":"hk-01"})", true, "configStatus"},
        {"GET", "/api/tickets", {}, true, "tickets"},
        {"POST", "/api/tickets", R"({"title":"无法连接","body":"日志"})", true, "ticket"},
        {"GET", "/api/orders", {}, true, "orders"},
        {"POST", "/api/client/connection-report", report, true, "ok"},
        {"POST", "/api/client/crash-report", R"({"clientPlatform":"macos","reason":"x"})", true,
         "ok"},
        {"DELETE", "/api/devices/" + spareId, {}, true, "ok"},
        {"POST", "/api/auth/logout", {}, true, "ok"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + row.path.toStdString());
        if (row.token) {
            for (const QString& wrong : {QString(), QStringLiteral("tok_unknown")}) {
                const auto refused = m_client->send(row.method, row.path, row.body, wrong);
                EXPECT_EQ(refused.status, 401);
                EXPECT_EQ(refused.json().value(QStringLiteral("error")).toString(), kExpired);
            }
        }
        const auto answer = m_client->send(row.method, row.path, row.body, token);
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        EXPECT_EQ(answer.contentType, QStringLiteral("application/json"));
        EXPECT_TRUE(answer.json().contains(QLatin1String(row.key))) << answer.body.toStdString();
    }
    // The logout of the last row ended the session.
    EXPECT_EQ(m_client->get(QStringLiteral("/api/me"), token).status, 401);
}

TEST_F(DevServiceAPITest, UnknownPathsAndMethodsAreRefused) {
    EXPECT_EQ(m_client->get(QStringLiteral("/api/nowhere")).status, 404);
    EXPECT_EQ(m_client->get(QStringLiteral("/nodes")).status, 404);
    EXPECT_EQ(m_client->send("DELETE", QStringLiteral("/api/nodes")).status, 405);
}

TEST_F(DevServiceAPITest, SignsTheDemoUserInAndOut) {
    const auto wrong =
        m_client->post(QStringLiteral("/api/auth/login"),
                       {{QStringLiteral("identity"), QString::fromLatin1(DevService::kDemoEmail)},
                        {QStringLiteral("password"), QStringLiteral("nope")}});
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(wrong.json().value(QStringLiteral("error")).toString(),
              QStringLiteral("邮箱或密码错误。"));

    const auto login = m_client->post(
        QStringLiteral("/api/auth/login"),
        {{QStringLiteral("identity"), QStringLiteral(" Demo@Orvane.dev ")},
         {QStringLiteral("password"), QString::fromLatin1(DevService::kDemoPassword)}});
    ASSERT_EQ(login.status, 200);
    const QString token = login.json().value(QStringLiteral("token")).toString();
    const QJsonObject user = login.json().value(QStringLiteral("user")).toObject();
    EXPECT_EQ(user.value(QStringLiteral("planName")).toString(), QStringLiteral("季度费套餐"));
    EXPECT_EQ(user.value(QStringLiteral("maxDevices")).toInt(), 3);
    EXPECT_TRUE(login.body.contains(R"("remainingTrafficMb":51200)")) << login.body.toStdString();
    EXPECT_TRUE(QDateTime::fromString(
                    user.value(QStringLiteral("subscriptionExpiredAt")).toString(), Qt::ISODate)
                    .isValid());

    EXPECT_EQ(m_client->get(QStringLiteral("/api/me"), token).status, 200);
    EXPECT_EQ(m_client->send("POST", QStringLiteral("/api/auth/logout"), {}, token).body,
              QByteArray(R"({"ok":true})"));
    EXPECT_EQ(m_client->get(QStringLiteral("/api/me"), token).status, 401);
    // Other sessions of the same user live on.
    EXPECT_EQ(m_client->get(QStringLiteral("/api/me"), m_service.demoToken()).status, 200);
}

TEST_F(DevServiceAPITest, RegistersWithTheMailedCode) {
    const QString email = QStringLiteral("new.user@orvane.dev");
    const auto mailed = m_client->post(QStringLiteral("/api/auth/verification-code"),
                                       {{QStringLiteral("identity"), email}});
    ASSERT_EQ(mailed.status, 200);
    const QString code = m_service.lastVerificationCode(email);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch())
        << code.toStdString();
    EXPECT_EQ(mailed.json().value(QStringLiteral("debugCode")).toString(), code);
    EXPECT_TRUE(mailed.json().value(QStringLiteral("expiresInMinutes")).isDouble());

    auto registration = [&](const QString& identity, const QString& verificationCode) {
        return m_client->post(QStringLiteral("/api/auth/register"),
                              {{QStringLiteral("identity"), identity},
                               {QStringLiteral("password"), QStringLiteral("secret-1")},
                               {QStringLiteral("verificationCode"), verificationCode},
                               {QStringLiteral("inviteCode"), QStringLiteral("ORVDEMO8")}});
    };
    const QString wrongCode =
        code == QLatin1String("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
    const auto wrong = registration(email, wrongCode);
    EXPECT_EQ(wrong.status, 400);
    EXPECT_EQ(wrong.json().value(QStringLiteral("error")).toString(),
              QStringLiteral("验证码错误或已过期。"));

    const auto registered = registration(email, code);
    ASSERT_EQ(registered.status, 200) << registered.body.toStdString();
    const QString token = registered.json().value(QStringLiteral("token")).toString();
    const auto me = m_client->get(QStringLiteral("/api/me"), token);
    EXPECT_EQ(me.json()
                  .value(QStringLiteral("user"))
                  .toObject()
                  .value(QStringLiteral("identity"))
                  .toString(),
              email);

    EXPECT_EQ(registration(email, code).status, 409);
    EXPECT_EQ(registration(QString::fromLatin1(DevService::kDemoEmail), code).status, 409);

    const auto login = m_client->post(QStringLiteral("/api/auth/login"),
                                      {{QStringLiteral("identity"), email},
                                       {QStringLiteral("password"), QStringLiteral("secret-1")}});
    EXPECT_EQ(login.status, 200);
}

TEST_F(DevServiceAPITest, EnforcesTheDeviceLimitAndRebindsTheSameClientDevice) {
    m_service.setDemoMaxDevices(2);
    const QString token = m_service.demoToken();
    const QString first = bind(QStringLiteral("macos-a"), token);
    const QString second = bind(QStringLiteral("macos-b"), token);
    const QRegularExpression shape(QStringLiteral("^dev_[0-9a-f]+$"));
    EXPECT_TRUE(shape.match(first).hasMatch()) << first.toStdString();
    EXPECT_NE(first, second);

    const auto refused =
        m_client->post(QStringLiteral("/api/devices"), bindBody(QStringLiteral("macos-c")), token);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.json(),
              QJsonObject({{QStringLiteral("error"), QStringLiteral("已达到设备数量上限。")},
                           {QStringLiteral("errorCode"), QStringLiteral("DEVICE_LIMIT")}}));
    // A device already bound binds again at the limit, under its old id.
    EXPECT_EQ(bind(QStringLiteral("macos-a"), token), first);

    const QJsonObject listed = m_client->get(QStringLiteral("/api/devices"), token).json();
    EXPECT_EQ(listed.value(QStringLiteral("max_devices")).toInt(), 2);
    EXPECT_EQ(listed.value(QStringLiteral("active_device_count")).toInt(), 2);
    EXPECT_EQ(listed.value(QStringLiteral("devices")).toArray().size(), 2);
    const QJsonObject device = listed.value(QStringLiteral("devices")).toArray().first().toObject();
    EXPECT_EQ(device.value(QStringLiteral("device_type")).toString(), QStringLiteral("macos"));
    EXPECT_EQ(device.value(QStringLiteral("os")).toString(), QStringLiteral("Version 14.5"));
    EXPECT_EQ(device.value(QStringLiteral("status")).toString(), QStringLiteral("active"));

    // The id is one percent-decoded segment: "_" may come escaped.
    QString escaped = second;
    escaped.replace(QLatin1Char('_'), QStringLiteral("%5F"));
    EXPECT_EQ(m_client->send("DELETE", QStringLiteral("/api/devices/") + escaped, {}, token).status,
              200);
    EXPECT_EQ(m_client->send("DELETE", QStringLiteral("/api/devices/") + second, {}, token).status,
              404);
    EXPECT_EQ(m_client
                  ->send("DELETE", QStringLiteral("/api/devices/") + first + QStringLiteral("%2Fx"),
                         {}, token)
                  .status,
              404);
    EXPECT_FALSE(bind(QStringLiteral("macos-c"), token).isEmpty());
}

TEST_F(DevServiceAPITest, ProtocolConfigurationIsNotReadyForTheFirstPollsOfEachDeviceAndNode) {
    const QString token = m_service.demoToken();
    const QString device = bind(QStringLiteral("macos-poll"), token);
    const QString other = bind(QStringLiteral("macos-other"), token);

    for (int poll = 0; poll < 2; ++poll) {
        const auto answer = protocolConfig(device, QStringLiteral("hk-01"), token);
        ASSERT_EQ(answer.status, 200);
        const QJsonObject pending = answer.json();
        EXPECT_EQ(pending.value(QStringLiteral("configStatus")).toString(),
                  QStringLiteral("provisioning"));
        EXPECT_FALSE(pending.value(QStringLiteral("message")).toString().isEmpty());
        EXPECT_TRUE(answer.body.contains(R"("retryAfterMs":200)")) << answer.body.toStdString();
        EXPECT_TRUE(answer.body.contains(R"("maxWaitMs":10000)"));
        EXPECT_FALSE(pending.contains(QStringLiteral("protocolConfigV2")));
    }
    // Another node, or another device, waits from the start.
    EXPECT_EQ(protocolConfig(device, QStringLiteral("jp-01"), token)
                  .json()
                  .value(QStringLiteral("configStatus")),
              QStringLiteral("provisioning"));
    EXPECT_EQ(protocolConfig(other, QStringLiteral("hk-01"), token)
                  .json()
                  .value(QStringLiteral("configStatus")),
              QStringLiteral("provisioning"));

    const auto ready = protocolConfig(device, QStringLiteral("hk-01"), token);
    const QJsonObject top = ready.json();
    EXPECT_EQ(top.value(QStringLiteral("configStatus")).toString(), QStringLiteral("ready"));
    EXPECT_EQ(top.value(QStringLiteral("endpoint_id")).toString(), QStringLiteral("hk-01"));
    EXPECT_EQ(top.value(QStringLiteral("protocol")).toString(), QStringLiteral("vless"));
    const QJsonObject v2 = top.value(QStringLiteral("protocolConfigV2")).toObject();
    EXPECT_EQ(v2.value(QStringLiteral("endpointId")).toString(), QStringLiteral("hk-01"));
    EXPECT_EQ(v2.value(QStringLiteral("adapter")).toString(), QStringLiteral("sing-box"));
    EXPECT_EQ(v2.value(QStringLiteral("configStatus")).toString(), QStringLiteral("ready"));
    EXPECT_EQ(v2.value(QStringLiteral("lifecycle"))
                  .toObject()
                  .value(QStringLiteral("nodeSyncStatus"))
                  .toString(),
              QStringLiteral("synced"));
    EXPECT_FALSE(v2.value(QStringLiteral("cache"))
                     .toObject()
                     .value(QStringLiteral("cacheKey"))
                     .toString()
                     .isEmpty());
    EXPECT_TRUE(ready.body.contains(R"("configRevision":1)"));
    EXPECT_TRUE(v2.value(QStringLiteral("runtime"))
                    .toObject()
                    .value(QStringLiteral("singBoxConfig"))
                    .isObject());
    // Once ready, it stays ready.
    EXPECT_EQ(protocolConfig(device, QStringLiteral("hk-01"), token)
                  .json()
                  .value(QStringLiteral("configStatus")),
              QStringLiteral("ready"));
}

TEST_F(DevServiceAPITest, ProtocolConfigurationRefusesUnknownDevicesAndNodes) {
    const QString token = m_service.demoToken();
    const QString device = bind(QStringLiteral("macos-x"), token);
    EXPECT_EQ(protocolConfig(QStringLiteral("dev_0000"), QStringLiteral("hk-01"), token).status,
              404);
    EXPECT_EQ(protocolConfig(device, QStringLiteral("mars-01"), token).status, 404);

    // A device of another account is unknown to this one.
    const QString email = QStringLiteral("second@orvane.dev");
    m_client->post(QStringLiteral("/api/auth/verification-code"),
                   {{QStringLiteral("identity"), email}});
    const auto registered = m_client->post(
        QStringLiteral("/api/auth/register"),
        {{QStringLiteral("identity"), email},
         {QStringLiteral("password"), QStringLiteral("pw")},
         {QStringLiteral("verificationCode"), m_service.lastVerificationCode(email)}});
    const QString otherToken = registered.json().value(QStringLiteral("token")).toString();
    EXPECT_EQ(protocolConfig(device, QStringLiteral("hk-01"), otherToken).status, 404);
}

class ReadyAtOnceTest : public DevServiceAPITest {
protected:
    ReadyAtOnceTest() : DevServiceAPITest(readyAfter(0)) {}
};

TEST_F(ReadyAtOnceTest, SingBoxConfigurationFollowsTheNodeProtocol) {
    const QString token = m_service.demoToken();
    const QString device = bind(QStringLiteral("macos-sb"), token);
    const struct {
        const char* node;
        const char* type;
        int port;
        const char* secretKey;
    } rows[] = {
        {"hk-01", "vless", 443, "uuid"},
        {"sg-01", "vless", 443, "uuid"},
        {"jp-01", "hysteria2", 8443, "password"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.node);
        const auto answer = protocolConfig(device, QString::fromLatin1(row.node), token);
        const QJsonObject config = answer.json()
                                       .value(QStringLiteral("protocolConfigV2"))
                                       .toObject()
                                       .value(QStringLiteral("runtime"))
                                       .toObject()
                                       .value(QStringLiteral("singBoxConfig"))
                                       .toObject();
        const QJsonArray outbounds = config.value(QStringLiteral("outbounds")).toArray();
        ASSERT_EQ(outbounds.size(), 3);
        const QJsonObject proxy = outbounds[0].toObject();
        EXPECT_EQ(proxy.value(QStringLiteral("type")).toString(), QLatin1String(row.type));
        EXPECT_EQ(proxy.value(QStringLiteral("tag")).toString(), QStringLiteral("proxy"));
        EXPECT_EQ(proxy.value(QStringLiteral("server")).toString(),
                  QStringLiteral("%1.nodes.orvane.invalid").arg(QLatin1String(row.node)));
        EXPECT_EQ(proxy.value(QStringLiteral("server_port")).toInt(), row.port);
        EXPECT_FALSE(proxy.value(QLatin1String(row.secretKey)).toString().isEmpty());
        EXPECT_TRUE(proxy.value(QStringLiteral("tls"))
                        .toObject()
                        .value(QStringLiteral("enabled"))
                        .toBool());
        EXPECT_EQ(outbounds[1].toObject(),
                  QJsonObject({{QStringLiteral("type"), QStringLiteral("direct")},
                               {QStringLiteral("tag"), QStringLiteral("direct")}}));
        EXPECT_EQ(outbounds[2].toObject(),
                  QJsonObject({{QStringLiteral("type"), QStringLiteral("block")},
                               {QStringLiteral("tag"), QStringLiteral("block")}}));

        const QJsonObject inbound =
            config.value(QStringLiteral("inbounds")).toArray().first().toObject();
        EXPECT_EQ(inbound.value(QStringLiteral("type")).toString(), QStringLiteral("mixed"));
        EXPECT_EQ(inbound.value(QStringLiteral("tag")).toString(), QStringLiteral("mixed-in"));
        EXPECT_EQ(inbound.value(QStringLiteral("listen")).toString(), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(config.value(QStringLiteral("route"))
                      .toObject()
                      .value(QStringLiteral("final"))
                      .toString(),
                  QStringLiteral("proxy"));
        EXPECT_FALSE(config.value(QStringLiteral("dns"))
                         .toObject()
                         .value(QStringLiteral("servers"))
                         .toArray()
                         .isEmpty());
        // Integers must not come out as 443.0 and the like.
        EXPECT_TRUE(
            answer.body.contains(QStringLiteral(R"("server_port":%1)").arg(row.port).toUtf8()));
        EXPECT_TRUE(answer.body.contains(R"("listen_port":2080)"));
        EXPECT_FALSE(answer.body.contains(".0,"));
    }
}

TEST_F(DevServiceAPITest, RecordsReportsWithTheirTraceHeaders) {
    const QString token = m_service.demoToken();
    const QByteArray report =
        R"({"deviceId":"dev_1","status":"failed","protocol":"vless","latencyMs":0})";
    const auto answer =
        m_client->send("POST", QStringLiteral("/api/client/connection-report"), report, token,
                       {{"X-Request-Id", "req_ABC"}, {"X-Orvane-Attempt-Id", "att_1"}});
    EXPECT_EQ(answer.body, QByteArray(R"({"ok":true})"));
    m_client->send("POST", QStringLiteral("/api/client/crash-report"),
                   R"({"clientPlatform":"macos","crashType":"macos-connection"})", token);
    EXPECT_EQ(m_client->send("POST", QStringLiteral("/api/client/crash-report"), "not json", token)
                  .status,
              400);

    ASSERT_EQ(m_service.connectionReports().size(), 1);
    QJsonObject recorded = m_service.connectionReports().first();
    EXPECT_EQ(recorded.take(QStringLiteral("_headers")).toObject(),
              QJsonObject({{QStringLiteral("x-request-id"), QStringLiteral("req_ABC")},
                           {QStringLiteral("x-orvane-attempt-id"), QStringLiteral("att_1")}}));
    EXPECT_EQ(recorded, QJsonDocument::fromJson(report).object());
    ASSERT_EQ(m_service.crashReports().size(), 1);
    EXPECT_EQ(m_service.crashReports().first().value(QStringLiteral("crashType")).toString(),
              QStringLiteral("macos-connection"));
    EXPECT_TRUE(
        m_service.crashReports().first().value(QStringLiteral("_headers")).toObject().isEmpty());
}

TEST_F(DevServiceAPITest, RoutePreferencesAreStoredAndSelectTheirPolicy) {
    const QString token = m_service.demoToken();
    const QString path =
        QStringLiteral("/api/client/route-preferences?clientPlatform=macos&client_platform=macos");
    const QJsonObject catalog = m_client->get(QStringLiteral("/api/client/route-catalog")).json();
    QStringList categoryIds;
    for (const QJsonValue& category : catalog.value(QStringLiteral("categories")).toArray()) {
        categoryIds << category.toObject().value(QStringLiteral("id")).toString();
    }
    EXPECT_TRUE(categoryIds.contains(QStringLiteral("ai")) &&
                categoryIds.contains(QStringLiteral("china")));
    bool hasAIPolicy = false;
    for (const QJsonValue& policy : catalog.value(QStringLiteral("policies")).toArray()) {
        hasAIPolicy |= policy.toObject().value(QStringLiteral("id")) == QStringLiteral("policy_ai");
    }
    EXPECT_TRUE(hasAIPolicy);

    const QByteArray saved =
        R"({"preferences":[{"category_id":"ai","policy_id":"policy_auto","endpoint_id":"sg-01"}]})";
    const auto put = m_client->send("PUT", path, saved, token);
    ASSERT_EQ(put.status, 200);
    const QJsonArray expected{
        QJsonObject{{QStringLiteral("categoryId"), QStringLiteral("ai")},
                    {QStringLiteral("policyId"), QStringLiteral("policy_auto")},
                    {QStringLiteral("endpointId"), QStringLiteral("sg-01")}}};
    EXPECT_EQ(put.json().value(QStringLiteral("preferences")).toArray(), expected);
    const QJsonObject fetched = m_client->get(path, token).json();
    EXPECT_EQ(fetched.value(QStringLiteral("preferences")).toArray(), expected);
    const QJsonObject ai = fetched.value(QStringLiteral("routeCatalog"))
                               .toObject()
                               .value(QStringLiteral("categories"))
                               .toArray()
                               .first()
                               .toObject();
    EXPECT_EQ(ai.value(QStringLiteral("selectedPolicyId")).toString(),
              QStringLiteral("policy_auto"));
    EXPECT_EQ(ai.value(QStringLiteral("defaultPolicyId")).toString(), QStringLiteral("policy_ai"));

    EXPECT_EQ(m_client->send("PUT", path, R"({"preferences":{}})", token).status, 400);
}

TEST_F(DevServiceAPITest, NodeListKeepsTheNodeRecordTypes) {
    const auto answer = m_client->get(QStringLiteral("/api/nodes"));
    const QJsonArray nodes = answer.json().value(QStringLiteral("nodes")).toArray();
    ASSERT_GE(nodes.size(), 4);
    QStringList statuses;
    for (const QJsonValue& value : nodes) {
        const QJsonObject node = value.toObject();
        for (const char* key : {"id", "region", "name", "host", "status"}) {
            EXPECT_TRUE(node.value(QLatin1String(key)).isString()) << key;
        }
        for (const char* key : {"latency_ms", "load_percent", "is_active"}) {
            EXPECT_TRUE(node.value(QLatin1String(key)).isDouble()) << key;
        }
        statuses << node.value(QStringLiteral("status")).toString();
    }
    EXPECT_TRUE(statuses.contains(QStringLiteral("maintenance")) ||
                statuses.contains(QStringLiteral("offline")));
    EXPECT_FALSE(answer.body.contains("\"is_active\":true"));
}

} // namespace
