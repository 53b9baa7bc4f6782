#include "DevService.h"
#include "ServiceClient.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using orvane::dev::DevService;
using orvane::test::ServiceClient;
using Kind = DevService::FaultKind;
using Body = DevService::ErrorBody;

namespace {

DevService::Fault fault(const char* method, const char* path, Kind kind, int times = 1) {
    DevService::Fault f;
    f.method = QString::fromLatin1(method);
    f.path = QString::fromLatin1(path);
    f.kind = kind;
    f.times = times;
    return f;
}

DevService::Fault status(const char* path, int code, Body body = Body::errorAndMessage) {
    DevService::Fault f = fault("", path, Kind::status);
    f.status = code;
    f.body = body;
    return f;
}

class DevServiceFaultsTest : public ::testing::Test {
protected:
    DevServiceFaultsTest() {
        m_service.start();
        m_client = std::make_unique<ServiceClient>(m_service.port());
    }

    int statusOf(const char* method, const char* path, const QString& token = {}) {
        return m_client->send(method, QString::fromLatin1(path), {}, token).status;
    }

    DevService m_service;
    std::unique_ptr<ServiceClient> m_client;
};

TEST_F(DevServiceFaultsTest, StatusFaultsWriteEachErrorBody) {
    const struct {
        int code;
        Body body;
        QByteArray expected;
        const char* contentType;
    } rows[] = {
        {503, Body::errorAndMessage,
         R"({"error":"服务暂时不可用","message":"服务暂时不可用，请稍后重试。"})",
         "application/json"},
        {500, Body::errorOnly, R"({"error":"服务暂时不可用"})", "application/json"},
        {502, Body::messageOnly, R"({"message":"服务暂时不可用，请稍后重试。"})",
         "application/json"},
        {500, Body::errorEmpty, R"({"error":""})", "application/json"},
        {500, Body::messageEmpty, R"({"message":""})", "application/json"},
        {500, Body::empty, "", ""},
        {500, Body::notJSON, "<html>oops</html>", "text/html"},
        {401, Body::errorOnly, R"({"error":"登录已过期，请重新登录。"})", "application/json"},
        {429, Body::errorOnly, R"({"error":"请求过于频繁，请稍后再试。"})", "application/json"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        m_service.addFault(status("/plans", row.code, row.body));
        const auto answer = m_client->get(QStringLiteral("/api/plans"));
        EXPECT_EQ(answer.status, row.code);
        EXPECT_EQ(QString::fromUtf8(answer.body), QString::fromUtf8(row.expected));
        EXPECT_EQ(answer.contentType, QLatin1String(row.contentType));
    }
    EXPECT_EQ(statusOf("GET", "/api/plans"), 200);
}

TEST_F(DevServiceFaultsTest, FaultsMatchMethodAndPathAndAreConsumedInOrder) {
    const QString token = m_service.demoToken();
    m_service.addFault([] {
        auto f = status("/devices", 502);
        f.method = QStringLiteral("POST");
        f.times = 2;
        return f;
    }());
    m_service.addFault(status("/devices", 503));

    EXPECT_EQ(statusOf("GET", "/api/nodes"), 200);
    EXPECT_EQ(statusOf("POST", "/api/devices", token), 502);
    // The second fault, added later, takes the GET first: faults are tried in their order.
    EXPECT_EQ(statusOf("GET", "/api/devices", token), 503);
    EXPECT_EQ(statusOf("GET", "/api/devices", token), 200);
    EXPECT_EQ(statusOf("POST", "/api/devices", token), 502);
    // Both used up; the path is matched without its query.
    EXPECT_EQ(statusOf("GET", "/api/devices?x=1", token), 200);

    m_service.addFault(status("", 500, Body::empty));
    EXPECT_EQ(statusOf("GET", "/api/versions"), 500);
    EXPECT_EQ(statusOf("GET", "/api/versions"), 200);
}

TEST_F(DevServiceFaultsTest, EndlessFaultsLastUntilCleared) {
    m_service.addFault(fault("GET", "/nodes", Kind::malformedJSON, -1));
    for (int i = 0; i < 3; ++i) {
        const auto answer = m_client->get(QStringLiteral("/api/nodes"));
        EXPECT_EQ(answer.status, 200);
        EXPECT_FALSE(answer.body.isEmpty());
        EXPECT_FALSE(answer.isJSON()) << answer.body.toStdString();
    }
    m_service.clearFaults();
    EXPECT_TRUE(m_client->get(QStringLiteral("/api/nodes")).isJSON());
}

TEST_F(DevServiceFaultsTest, FaultsComeBeforeTheTokenCheck) {
    m_service.addFault(status("/me", 503));
    EXPECT_EQ(statusOf("GET", "/api/me"), 503);
    EXPECT_EQ(statusOf("GET", "/api/me"), 401);
}

TEST_F(DevServiceFaultsTest, WrongTypesChangeOneFieldOfTheNormalAnswer) {
    const QString token = m_service.demoToken();
    const QJsonObject normal = m_client->get(QStringLiteral("/api/nodes")).json();

    m_service.addFault(fault("GET", "/nodes", Kind::wrongTypes));
    const auto answer = m_client->get(QStringLiteral("/api/nodes"));
    EXPECT_EQ(answer.status, 200);
    const QJsonArray nodes = answer.json().value(QStringLiteral("nodes")).toArray();
    const QJsonArray normalNodes = normal.value(QStringLiteral("nodes")).toArray();
    ASSERT_EQ(nodes.size(), normalNodes.size());
    QJsonObject first = nodes[0].toObject();
    EXPECT_EQ(first.take(QStringLiteral("latency_ms")), QJsonValue(QStringLiteral("38")));
    QJsonObject normalFirst = normalNodes[0].toObject();
    normalFirst.remove(QStringLiteral("latency_ms"));
    EXPECT_EQ(first, normalFirst);
    EXPECT_EQ(nodes[1], normalNodes[1]);

    // Records without a latency lose the text type of their id; flat answers a typed member.
    m_service.addFault(fault("GET", "/me", Kind::wrongTypes));
    const QJsonObject user = m_client->get(QStringLiteral("/api/me"), token)
                                 .json()
                                 .value(QStringLiteral("user"))
                                 .toObject();
    EXPECT_TRUE(user.value(QStringLiteral("id")).isDouble());
    m_service.addFault(fault("GET", "/devices", Kind::wrongTypes));
    const QJsonObject devices = m_client->get(QStringLiteral("/api/devices"), token).json();
    EXPECT_TRUE(devices.value(QStringLiteral("active_device_count")).isString());

    // An answer that is not a success is passed on unchanged.
    m_service.addFault(fault("GET", "/me", Kind::wrongTypes));
    EXPECT_EQ(statusOf("GET", "/api/me"), 401);
}

TEST_F(DevServiceFaultsTest, DelayedAnswersComeLateButComplete) {
    auto f = fault("GET", "/plans", Kind::delay);
    f.delayMs = 300;
    m_service.addFault(f);
    const auto started = std::chrono::steady_clock::now();
    const auto answer = m_client->get(QStringLiteral("/api/plans"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.json().contains(QStringLiteral("plans")));
}

TEST_F(DevServiceFaultsTest, HeldRequestsAreAnsweredAsThingsStandAtTheRelease) {
    const int port = m_service.port();
    auto later = [port](const char* path, const QString& token) {
        return std::async(std::launch::async, [port, path = QString::fromLatin1(path), token] {
            return ServiceClient(port).get(path, token).status;
        });
    };
    auto heldReaches = [this](int count) {
        for (int i = 0; i < 3000 && m_service.heldCount() != count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_service.heldCount() == count;
    };

    // The session ends while the request waits: it is answered 401, not with the account.
    const QString token = m_service.demoToken();
    m_service.addFault(fault("GET", "/me", Kind::hold));
    auto me = later("/api/me", token);
    ASSERT_TRUE(heldReaches(1));
    EXPECT_EQ(m_client->send("POST", QStringLiteral("/api/auth/logout"), {}, token).status, 200);
    EXPECT_EQ(me.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    m_service.releaseHeld();
    EXPECT_EQ(me.get(), 401);
    EXPECT_EQ(m_service.heldCount(), 0);

    // The same over the knobs.
    m_client->send("POST", QStringLiteral("/__dev/faults"), R"({"path":"/plans","kind":"hold"})");
    auto plans = later("/api/plans", {});
    ASSERT_TRUE(heldReaches(1));
    EXPECT_EQ(m_client->get(QStringLiteral("/__dev/held")).json().value(QStringLiteral("held")),
              1);
    EXPECT_EQ(m_client->send("DELETE", QStringLiteral("/__dev/held")).status, 200);
    EXPECT_EQ(plans.get(), 200);

    // Stopping the service ends a request still held.
    m_service.addFault(fault("GET", "/nodes", Kind::hold));
    auto nodes = later("/api/nodes", {});
    ASSERT_TRUE(heldReaches(1));
    m_service.stop();
    EXPECT_NE(nodes.get(), 200);
}

// Held requests are listed in the order they came and go one at a time, as answered or failed.
TEST_F(DevServiceFaultsTest, HeldRequestsGoOneAtATime) {
    const int port = m_service.port();
    auto later = [port](const char* path) {
        return std::async(std::launch::async, [port, path = QString::fromLatin1(path)] {
            return ServiceClient(port).get(path).status;
        });
    };
    auto heldReaches = [this](int count) {
        for (int i = 0; i < 3000 && m_service.heldCount() != count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_service.heldCount() == count;
    };
    m_service.addFault(fault("GET", "", Kind::hold, -1));
    auto plans = later("/api/plans");
    ASSERT_TRUE(heldReaches(1));
    auto nodes = later("/api/nodes");
    ASSERT_TRUE(heldReaches(2));
    const QList<DevService::HeldRequest> held = m_service.heldRequests();
    ASSERT_EQ(held.size(), 2);
    EXPECT_EQ(held[0].path, QStringLiteral("/plans"));
    EXPECT_EQ(held[1].path, QStringLiteral("/nodes"));
    EXPECT_EQ(held[1].method, QStringLiteral("GET"));
    EXPECT_LT(held[0].id, held[1].id);

    // The later one first, failed; it stops counting at once, and the other still waits.
    EXPECT_TRUE(m_service.releaseHeld(held[1].id, 500));
    EXPECT_FALSE(m_service.releaseHeld(held[1].id));
    EXPECT_EQ(m_service.heldCount(), 1);
    EXPECT_EQ(nodes.get(), 500);
    EXPECT_EQ(plans.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_TRUE(m_service.releaseHeld(held[0].id));
    EXPECT_EQ(plans.get(), 200);
    EXPECT_TRUE(m_service.heldRequests().isEmpty());
}

TEST_F(DevServiceFaultsTest, ClosedConnectionsCarryNoAnswer) {
    m_service.addFault(fault("GET", "/nodes", Kind::closeConnection));
    const auto dropped = m_client->get(QStringLiteral("/api/nodes"));
    EXPECT_FALSE(dropped.answered) << dropped.status;
    EXPECT_EQ(m_client->get(QStringLiteral("/api/nodes")).status, 200);
    // The dropped request was still received and recorded.
    EXPECT_EQ(m_service.requests().size(), 2);
}

TEST_F(DevServiceFaultsTest, KnobsOverHTTPSetAndClearFaults) {
    const QByteArray wrongTypes =
        R"({"method":"GET","path":"/nodes","times":-1,"kind":"wrong_types"})";
    EXPECT_EQ(m_client->send("POST", QStringLiteral("/__dev/faults"), wrongTypes).status, 200);
    const QJsonObject node = m_client->get(QStringLiteral("/api/nodes"))
                                 .json()
                                 .value(QStringLiteral("nodes"))
                                 .toArray()
                                 .first()
                                 .toObject();
    EXPECT_TRUE(node.value(QStringLiteral("latency_ms")).isString());
    EXPECT_EQ(m_client->send("DELETE", QStringLiteral("/__dev/faults")).status, 200);
    EXPECT_EQ(statusOf("GET", "/api/nodes"), 200);

    const QByteArray statusFault =
        R"({"path":"/plans","kind":"status","status":418,"body":"error_only"})";
    m_client->send("POST", QStringLiteral("/__dev/faults"), statusFault);
    EXPECT_EQ(m_client->get(QStringLiteral("/api/plans")).body,
              QByteArray(R"({"error":"请求无效。"})"));
    const QByteArray delay = R"({"path":"/plans","kind":"delay","delayMs":200})";
    m_client->send("POST", QStringLiteral("/__dev/faults"), delay);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(statusOf("GET", "/api/plans"), 200);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    m_client->send("POST", QStringLiteral("/__dev/faults"), R"({"kind":"close_connection"})");
    EXPECT_FALSE(m_client->get(QStringLiteral("/api/versions")).answered);

    for (const QByteArray& bad : {QByteArray(R"({"kind":"explode"})"),
                                  QByteArray(R"({"body":"loud"})"), QByteArray("[]")}) {
        EXPECT_EQ(m_client->send("POST", QStringLiteral("/__dev/faults"), bad).status, 400)
            << bad.toStdString();
    }
    EXPECT_EQ(statusOf("GET", "/api/versions"), 200);
}

TEST_F(DevServiceFaultsTest, RecordsEveryRequestAsReceived) {
    const QString token = m_service.demoToken();
    m_client->send("DELETE", QStringLiteral("/api/devices/a%2Fb?clientPlatform=macos"), {}, token,
                   {{"X-Request-Id", "req_1"}});
    m_client->send("POST", QStringLiteral("/api/auth/login"), R"({"identity":"x"})");
    const auto probe = m_client->get(QStringLiteral("/generate_204"));
    EXPECT_EQ(probe.status, 204);
    EXPECT_TRUE(probe.body.isEmpty());

    const auto recorded = m_service.requests();
    ASSERT_EQ(recorded.size(), 3);
    EXPECT_EQ(recorded[0].method, QStringLiteral("DELETE"));
    EXPECT_EQ(recorded[0].path, QStringLiteral("/api/devices/a%2Fb"));
    EXPECT_EQ(recorded[0].query, QStringLiteral("clientPlatform=macos"));
    EXPECT_EQ(recorded[0].headers.value(QStringLiteral("authorization")),
              QStringLiteral("Bearer ") + token);
    EXPECT_EQ(recorded[0].headers.value(QStringLiteral("x-request-id")), QStringLiteral("req_1"));
    EXPECT_TRUE(recorded[0].body.isEmpty());
    for (const QString& name : recorded[0].headers.keys()) {
        EXPECT_EQ(name, name.toLower());
        EXPECT_NE(name, QStringLiteral("remote_addr"));
    }
    EXPECT_EQ(recorded[1].body, QByteArray(R"({"identity":"x"})"));
    EXPECT_EQ(recorded[1].headers.value(QStringLiteral("content-type")),
              QStringLiteral("application/json"));
    EXPECT_EQ(recorded[2].path, QStringLiteral("/generate_204"));

    // The knob interface lists the same and is not recorded itself.
    const QJsonArray listed = m_client->get(QStringLiteral("/__dev/requests"))
                                  .json()
                                  .value(QStringLiteral("requests"))
                                  .toArray();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed[1].toObject().value(QStringLiteral("body")).toString(),
              QStringLiteral(R"({"identity":"x"})"));
    EXPECT_EQ(m_service.requests().size(), 3);
    m_service.clearRequests();
    EXPECT_TRUE(m_service.requests().isEmpty());
}

TEST(DevServiceLifecycleTest, StopEndsIdleAndDelayedConnections) {
    DevService service;
    service.start();
    httplib::Client keptAlive("127.0.0.1", service.port());
    keptAlive.set_keep_alive(true);
    ASSERT_TRUE(keptAlive.Get("/api/nodes"));

    auto f = DevService::Fault{};
    f.kind = Kind::delay;
    f.delayMs = 60000;
    service.addFault(f);
    auto slow = std::async(std::launch::async, [port = service.port()] {
        httplib::Client client("127.0.0.1", port);
        const auto result = client.Get("/api/plans");
        return result ? result->status : 0;
    });
    while (service.requests().size() < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto started = std::chrono::steady_clock::now();
    service.stop();
    // Generous bound: what matters is not waiting for the delay or the keep-alive time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    slow.get();

    // A stopped service can start again and keeps its state.
    service.start();
    EXPECT_EQ(ServiceClient(service.port()).get(QStringLiteral("/api/nodes")).status, 200);
    EXPECT_EQ(service.requests().size(), 3);
}

TEST(DevServiceLifecycleTest, StartFailsOnAPortInUse) {
    DevService first;
    first.start();
    DevService::Options options;
    options.port = first.port();
    DevService second(options);
    EXPECT_THROW(second.start(), std::runtime_error);
    EXPECT_EQ(first.baseURL(), QStringLiteral("http://127.0.0.1:%1/api").arg(first.port()));
}

} // namespace
