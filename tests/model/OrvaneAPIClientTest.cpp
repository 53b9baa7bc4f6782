#include "DecodingError.h"
#include "DevService.h"
#include "OrvaneAPIClient.h"
#include "OrvaneAPIError.h"
#include "RunTask.h"
#include "URLError.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>

#include <QCoro/QCoroTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

using namespace orvane;
using namespace std::chrono_literals;
using dev::DevService;

namespace {

QUrl refusingBaseURL() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/api").arg(probe.serverPort()));
}

std::unique_ptr<DevService> startService() {
    auto service = std::make_unique<DevService>();
    service->start();
    return service;
}

DevService::Fault fault(const char* method, const char* path, DevService::FaultKind kind) {
    DevService::Fault f;
    f.method = QString::fromLatin1(method);
    f.path = QString::fromLatin1(path);
    f.kind = kind;
    return f;
}

DevService::Fault delay(const char* method, const char* path, int ms) {
    DevService::Fault f = fault(method, path, DevService::FaultKind::delay);
    f.delayMs = ms;
    return f;
}

DevService::Fault status(const char* path, int code, DevService::ErrorBody body) {
    DevService::Fault f = fault("", path, DevService::FaultKind::status);
    f.status = code;
    f.body = body;
    return f;
}

OrvaneAPIClient::Options quick() {
    OrvaneAPIClient::Options options;
    options.requestTimeout = 400ms;
    return options;
}

QList<DevService::RecordedRequest> requestsTo(const DevService& service, const QString& path) {
    QList<DevService::RecordedRequest> out;
    for (const auto& r : service.requests()) {
        if (r.path == path) {
            out << r;
        }
    }
    return out;
}

APIBindDeviceRequest bindRequest(const QString& clientDeviceId) {
    APIBindDeviceRequest bind;
    bind.deviceId = clientDeviceId;
    bind.deviceName = QStringLiteral("Test Mac");
    bind.deviceType = QStringLiteral("macos");
    bind.os = QStringLiteral("Debian");
    bind.appVersion = QStringLiteral("1.0.0");
    return bind;
}

template <typename T>
OrvaneAPIError serverError(QCoro::Task<T> task) {
    try {
        test::runTask(std::move(task));
    } catch (const OrvaneAPIError& e) {
        return e;
    }
    ADD_FAILURE() << "no OrvaneAPIError";
    return OrvaneAPIError::invalidResponse();
}

} // namespace

TEST(OrvaneAPIClientURLTest, JoinsBaseAndPath) {
    const QUrl base(QStringLiteral("https://api.example.test/api"));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QStringLiteral("/nodes"), base).toString(),
              QStringLiteral("https://api.example.test/api/nodes"));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QStringLiteral("client/bootstrap?clientPlatform=macos"), base),
              OrvaneAPIClient::makeURL(QStringLiteral("/client/bootstrap?clientPlatform=macos"), base));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QStringLiteral("/client/bootstrap?clientPlatform=macos"), base)
                  .toString(QUrl::FullyEncoded),
              QStringLiteral("https://api.example.test/api/client/bootstrap?clientPlatform=macos"));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QString(), base).toString(),
              QStringLiteral("https://api.example.test/api"));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QStringLiteral("/nodes"),
                                       QUrl(QStringLiteral("https://api.example.test/api/")))
                  .toString(),
              QStringLiteral("https://api.example.test/api/nodes"));
    EXPECT_EQ(OrvaneAPIClient::makeURL(QStringLiteral("/x y"), base).toString(QUrl::FullyEncoded),
              QStringLiteral("https://api.example.test/api/x%20y"));
}

TEST(OrvaneAPIClientURLTest, DeviceIdStaysOneSegmentEscapedOnce) {
    const QUrl base(QStringLiteral("https://api.example.test/api"));
    auto pathFor = [&](const QString& id) {
        return OrvaneAPIClient::makeURL(QStringLiteral("/devices/") + OrvaneAPIClient::escapedDeviceId(id),
                                        base)
            .path(QUrl::FullyEncoded);
    };
    EXPECT_EQ(pathFor(QStringLiteral("dev_Ab-9_x")), QStringLiteral("/api/devices/dev_Ab-9_x"));
    EXPECT_EQ(pathFor(QStringLiteral("a/b")), QStringLiteral("/api/devices/a%2Fb"));
    EXPECT_EQ(pathFor(QStringLiteral("100%")), QStringLiteral("/api/devices/100%25"));
    EXPECT_EQ(pathFor(QStringLiteral("a b?c#d")), QStringLiteral("/api/devices/a%20b%3Fc%23d"));
    EXPECT_EQ(pathFor(QStringLiteral("设备")), QStringLiteral("/api/devices/%E8%AE%BE%E5%A4%87"));
    for (const char* bad : {"", ".", ".."}) {
        EXPECT_THROW(OrvaneAPIClient::escapedDeviceId(QString::fromLatin1(bad)), APIRequestError) << bad;
    }
    EXPECT_EQ(OrvaneAPIClient::escapedDeviceId(QStringLiteral("...")), QStringLiteral("..."));
}

TEST(OrvaneAPIClientURLTest, FailoverTable) {
    using C = URLError::Code;
    const struct {
        C code;
        bool get;
        bool post;
    } cases[] = {
        {C::cannotFindHost, true, true},
        {C::cannotConnectToHost, true, true},
        {C::dnsLookupFailed, true, true},
        {C::secureConnectionFailed, true, true},
        {C::serverCertificateUntrusted, true, true},
        {C::appTransportSecurityRequiresSecureConnection, true, true},
        {C::timedOut, true, false},
        {C::networkConnectionLost, true, false},
        {C::cancelled, false, false},
        {C::badServerResponse, false, false},
        {C::notConnectedToInternet, false, false},
        {C::unknown, false, false},
    };
    for (const auto& c : cases) {
        const URLError error(c.code);
        EXPECT_EQ(OrvaneAPIClient::shouldFailover(error, QStringLiteral("GET")), c.get);
        EXPECT_EQ(OrvaneAPIClient::shouldFailover(error, QStringLiteral("POST")), c.post);
        EXPECT_EQ(OrvaneAPIClient::shouldFailover(error, QStringLiteral("DELETE")), c.post);
    }
    // The method comparison is exact.
    EXPECT_FALSE(OrvaneAPIClient::shouldFailover(URLError(C::timedOut), QStringLiteral("get")));
}

TEST(OrvaneAPIClientURLTest, TraceHeadersLeaveOutEmptyValues) {
    EXPECT_EQ(OrvaneAPIClient::traceHeaders(QStringLiteral("att"), QStringLiteral("req")),
              (HTTPHeaders{{QStringLiteral("X-Request-Id"), QStringLiteral("req")},
                           {QStringLiteral("X-Orvane-Attempt-Id"), QStringLiteral("att")}}));
    EXPECT_EQ(OrvaneAPIClient::traceHeaders(QString(), QStringLiteral("req")),
              (HTTPHeaders{{QStringLiteral("X-Request-Id"), QStringLiteral("req")}}));
    EXPECT_TRUE(OrvaneAPIClient::traceHeaders(QString(), QString()).isEmpty());
}

TEST(OrvaneAPIClientTest, ProductionURLGivesThreeBaseURLsAnyOtherOne) {
    OrvaneAPIClient production(OrvaneAPIClient::productionBaseURL());
    EXPECT_EQ(production.baseURLs(), OrvaneAPIClient::productionBaseURLs());
    EXPECT_EQ(production.baseURLs().size(), 3);
    for (const QUrl& url : production.baseURLs()) {
        EXPECT_EQ(url.path(), QStringLiteral("/api"));
    }
    const QUrl other(QStringLiteral("http://127.0.0.1:9/api"));
    OrvaneAPIClient single(other);
    EXPECT_EQ(single.baseURLs(), QList<QUrl>{other});
}

TEST(OrvaneAPIClientTest, FailsOverWithOneRequestIdAndStaysOnTheURLThatAnswered) {
    auto slow = startService();
    auto healthy = startService();
    slow->addFault(delay("GET", "/nodes", 1500));
    const QUrl first(slow->baseURL());
    const QUrl second = refusingBaseURL();
    const QUrl third(healthy->baseURL());
    OrvaneAPIClient client({first, second, third}, nullptr, quick());

    const auto nodes = test::runTask(client.send<APINodesResponse>(
        QStringLiteral("/nodes"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    EXPECT_FALSE(nodes.nodes.isEmpty());

    const auto seenSlow = requestsTo(*slow, QStringLiteral("/api/nodes"));
    const auto seenHealthy = requestsTo(*healthy, QStringLiteral("/api/nodes"));
    ASSERT_EQ(seenSlow.size(), 1);
    ASSERT_EQ(seenHealthy.size(), 1);
    const QString requestId = seenHealthy[0].headers.value(QStringLiteral("x-request-id"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^req_[0-9A-F]{18}$")).match(requestId).hasMatch())
        << requestId.toStdString();
    for (const auto& r : seenSlow) {
        EXPECT_EQ(r.headers.value(QStringLiteral("x-request-id")), requestId);
    }
    EXPECT_EQ(client.baseURLs(), (QList<QUrl>{third, first, second}));

    // Later requests go to the URL that answered first.
    healthy->clearRequests();
    test::runTask(client.send<APIPlansResponse>(QStringLiteral("/plans"), QStringLiteral("GET"),
                                                std::nullopt, std::nullopt, {}));
    EXPECT_EQ(requestsTo(*healthy, QStringLiteral("/api/plans")).size(), 1);
}

TEST(OrvaneAPIClientTest, TimedOutPostIsNotSentElsewhere) {
    auto slow = startService();
    auto healthy = startService();
    slow->addFault(delay("POST", "/auth/login", 1500));
    OrvaneAPIClient client({QUrl(slow->baseURL()), QUrl(healthy->baseURL())}, nullptr, quick());
    try {
        test::runTask(client.login(QString::fromLatin1(DevService::kDemoEmail),
                                   QString::fromLatin1(DevService::kDemoPassword)));
        ADD_FAILURE() << "login did not time out";
    } catch (const URLError& e) {
        EXPECT_EQ(e.code(), URLError::Code::timedOut);
    }
    EXPECT_TRUE(requestsTo(*healthy, QStringLiteral("/api/auth/login")).isEmpty());
    EXPECT_EQ(client.baseURLs().first(), QUrl(slow->baseURL()));
}

TEST(OrvaneAPIClientTest, ServerErrorFromFallbackIsStickyAndNotRetried) {
    auto failing = startService();
    auto spare = startService();
    failing->addFault(status("/nodes", 500, DevService::ErrorBody::errorAndMessage));
    const QUrl refusing = refusingBaseURL();
    OrvaneAPIClient client({refusing, QUrl(failing->baseURL()), QUrl(spare->baseURL())}, nullptr,
                           quick());
    const OrvaneAPIError error = serverError(client.send<APINodesResponse>(
        QStringLiteral("/nodes"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    EXPECT_EQ(error.errorCase(), OrvaneAPIError::Case::server);
    EXPECT_EQ(error.statusCode(), 500);
    EXPECT_TRUE(spare->requests().isEmpty());
    EXPECT_EQ(client.baseURLs(), (QList<QUrl>{QUrl(failing->baseURL()), refusing, QUrl(spare->baseURL())}));
}

TEST(OrvaneAPIClientTest, LastTransportErrorReachesCallerUnchanged) {
    OrvaneAPIClient client({refusingBaseURL(), refusingBaseURL()}, nullptr, quick());
    try {
        test::runTask(client.send<APINodesResponse>(QStringLiteral("/nodes"), QStringLiteral("GET"),
                                                    std::nullopt, std::nullopt, {}));
        ADD_FAILURE();
    } catch (const URLError& e) {
        EXPECT_EQ(e.code(), URLError::Code::cannotConnectToHost);
    }
    OrvaneAPIClient none(QList<QUrl>{}, nullptr, quick());
    EXPECT_EQ(serverError(none.send<APINodesResponse>(QStringLiteral("/nodes"), QStringLiteral("GET"),
                                                      std::nullopt, std::nullopt, {}))
                  .errorCase(),
              OrvaneAPIError::Case::invalidResponse);
}

TEST(OrvaneAPIClientTest, ConcurrentFailoversKeepEveryBaseURLOnce) {
    auto a = startService();
    auto b = startService();
    const QUrl refusing = refusingBaseURL();
    a->addFault(delay("GET", "/plans", 1000));
    OrvaneAPIClient client({QUrl(a->baseURL()), refusing, QUrl(b->baseURL())}, nullptr, quick());

    auto many = [&]() -> QCoro::Task<void> {
        std::vector<QCoro::Task<APIPlansResponse>> tasks;
        for (int i = 0; i < 6; ++i) {
            tasks.push_back(client.send<APIPlansResponse>(QStringLiteral("/plans"), QStringLiteral("GET"),
                                                       std::nullopt, std::nullopt, {}));
        }
        for (auto& task : tasks) {
            co_await std::move(task);
        }
    };
    test::runTask(many());
    QList<QUrl> sorted = client.baseURLs();
    std::sort(sorted.begin(), sorted.end(), [](const QUrl& x, const QUrl& y) { return x.toString() < y.toString(); });
    QList<QUrl> expected{QUrl(a->baseURL()), refusing, QUrl(b->baseURL())};
    std::sort(expected.begin(), expected.end(), [](const QUrl& x, const QUrl& y) { return x.toString() < y.toString(); });
    EXPECT_EQ(sorted, expected);
}

TEST(OrvaneAPIClientTest, ErrorBodiesGiveTheMessage) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    using B = DevService::ErrorBody;
    const struct {
        B body;
        int code;
        std::optional<QString> message;
    } cases[] = {
        {B::errorAndMessage, 503, std::nullopt}, // checked below: the "error" text wins
        {B::errorEmpty, 500, QString()},
        {B::messageEmpty, 500, QString()},
        {B::empty, 502, std::nullopt},
        {B::notJSON, 500, std::nullopt},
        {B::empty, 401, std::nullopt},
    };
    for (const auto& c : cases) {
        service->addFault(status("/plans", c.code, c.body));
        const OrvaneAPIError e = serverError(client.send<APIPlansResponse>(
            QStringLiteral("/plans"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
        EXPECT_EQ(e.statusCode(), c.code);
        if (c.body == B::errorAndMessage) {
            ASSERT_TRUE(e.message().has_value());
            EXPECT_FALSE(e.message()->isEmpty());
            continue;
        }
        EXPECT_EQ(e.message(), c.message) << static_cast<int>(c.body);
        if (!c.message) {
            EXPECT_EQ(e.localizedDescription(), QStringLiteral("服务端返回错误：%1").arg(c.code));
        }
    }

    // "error" wins over "message"; "message" alone is used.
    service->addFault(status("/plans", 500, B::errorOnly));
    const OrvaneAPIError errorOnly = serverError(client.send<APIPlansResponse>(
        QStringLiteral("/plans"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    service->addFault(status("/plans", 500, B::errorAndMessage));
    const OrvaneAPIError both = serverError(client.send<APIPlansResponse>(
        QStringLiteral("/plans"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    EXPECT_EQ(both.message(), errorOnly.message());
    service->addFault(status("/plans", 500, B::messageOnly));
    const OrvaneAPIError messageOnly = serverError(client.send<APIPlansResponse>(
        QStringLiteral("/plans"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    ASSERT_TRUE(messageOnly.message().has_value());
    EXPECT_NE(messageOnly.message(), errorOnly.message());
}

TEST(OrvaneAPIClientTest, UnauthorizedIsAServerErrorWithItsStatus) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const OrvaneAPIError e = serverError(client.send<APIMeResponse>(
        QStringLiteral("/me"), QStringLiteral("GET"), QStringLiteral("expired"), std::nullopt, {}));
    EXPECT_EQ(e.statusCode(), 401);
}

TEST(OrvaneAPIClientTest, UndecodableSuccessBodiesFailWithDecodingError) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    for (auto kind : {DevService::FaultKind::malformedJSON, DevService::FaultKind::wrongTypes}) {
        service->addFault(fault("GET", "/nodes", kind));
        EXPECT_THROW(test::runTask(client.send<APINodesResponse>(QStringLiteral("/nodes"),
                                                                 QStringLiteral("GET"), std::nullopt,
                                                                 std::nullopt, {})),
                     DecodingError);
    }
}

TEST(OrvaneAPIClientTest, AcknowledgementNeedsNoBody) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->rootURL()));
    const auto ok = test::runTask(client.send<APIOkResponse>(
        QStringLiteral("/generate_204"), QStringLiteral("GET"), std::nullopt, std::nullopt, {}));
    EXPECT_TRUE(ok.ok);
    EXPECT_THROW(test::runTask(client.send<APIMeResponse>(QStringLiteral("/generate_204"),
                                                          QStringLiteral("GET"), std::nullopt,
                                                          std::nullopt, {})),
                 DecodingError);
    // A body that does not read as an acknowledgement also counts as ok.
    OrvaneAPIClient api(QUrl(service->baseURL()));
    const auto odd = test::runTask(api.send<APIOkResponse>(QStringLiteral("/plans"), QStringLiteral("GET"),
                                                           std::nullopt, std::nullopt, {}));
    EXPECT_TRUE(odd.ok);
}

TEST(OrvaneAPIClientTest, SendsExactlyTheFixedHeaders) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString token = service->demoToken();

    test::runTask(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"), token,
                                             std::nullopt,
                                             {{QStringLiteral("X-Empty"), QString()},
                                              {QStringLiteral("X-Orvane-Attempt-Id"), QString()}}));
    auto me = requestsTo(*service, QStringLiteral("/api/me"));
    ASSERT_EQ(me.size(), 1);
    const auto& h = me[0].headers;
    EXPECT_EQ(h.value(QStringLiteral("accept")), QStringLiteral("application/json"));
    EXPECT_EQ(h.value(QStringLiteral("x-orvane-platform")), QStringLiteral("macos"));
    EXPECT_EQ(h.value(QStringLiteral("authorization")), QStringLiteral("Bearer ") + token);
    EXPECT_TRUE(h.value(QStringLiteral("x-request-id")).startsWith(QStringLiteral("req_")));
    EXPECT_FALSE(h.contains(QStringLiteral("content-type")));
    EXPECT_FALSE(h.contains(QStringLiteral("x-empty")));
    EXPECT_FALSE(h.contains(QStringLiteral("x-orvane-attempt-id")));
    EXPECT_FALSE(h.contains(QStringLiteral("cookie")));
    EXPECT_TRUE(me[0].body.isEmpty());

    // Each send has its own fresh id unless one is given.
    service->clearRequests();
    test::runTask(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"), token,
                                             std::nullopt, {{QStringLiteral("X-Request-Id"), QString()}}));
    test::runTask(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"), token,
                                             std::nullopt,
                                             OrvaneAPIClient::traceHeaders(QStringLiteral("att_1"),
                                                                           QStringLiteral("req_given"))));
    me = requestsTo(*service, QStringLiteral("/api/me"));
    ASSERT_EQ(me.size(), 2);
    EXPECT_TRUE(me[0].headers.value(QStringLiteral("x-request-id")).startsWith(QStringLiteral("req_")));
    EXPECT_EQ(me[1].headers.value(QStringLiteral("x-request-id")), QStringLiteral("req_given"));
    EXPECT_EQ(me[1].headers.value(QStringLiteral("x-orvane-attempt-id")), QStringLiteral("att_1"));

    // An empty token still sends the field.
    service->clearRequests();
    serverError(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"), QString(),
                                           std::nullopt, {}));
    me = requestsTo(*service, QStringLiteral("/api/me"));
    ASSERT_EQ(me.size(), 1);
    EXPECT_EQ(me[0].headers.value(QStringLiteral("authorization")).trimmed(), QStringLiteral("Bearer"));
}

TEST(OrvaneAPIClientTest, RefusesHeaderInjectionBeforeSending) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString hostile[] = {QStringLiteral("tok\r\nX-Evil: 1"), QStringLiteral("tok\nx"),
                               QStringLiteral("tok") + QChar(0)};
    for (const QString& token : hostile) {
        EXPECT_THROW(test::runTask(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"),
                                                              token, std::nullopt, {})),
                     APIRequestError);
    }
    EXPECT_THROW(test::runTask(client.send<APIMeResponse>(
                     QStringLiteral("/me"), QStringLiteral("GET"), std::nullopt, std::nullopt,
                     {{QStringLiteral("X-A\r\nX-B"), QStringLiteral("v")}})),
                 APIRequestError);
    EXPECT_THROW(test::runTask(client.deleteDevice(QStringLiteral(".."), QStringLiteral("t"))),
                 APIRequestError);
    EXPECT_TRUE(service->requests().isEmpty());
}

TEST(OrvaneAPIClientTest, AccountFlowAgainstTheService) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString email = QStringLiteral("new.user@orvane.dev");

    const auto code = test::runTask(client.sendVerificationCode(email));
    EXPECT_TRUE(code.ok);
    APIRegisterRequest registration;
    registration.identity = email;
    registration.password = QStringLiteral("secret-123");
    registration.verificationCode = service->lastVerificationCode(email);
    const auto registered = test::runTask(client.registerAccount(registration));
    EXPECT_FALSE(registered.token.isEmpty());
    EXPECT_EQ(registered.user.identity, email);

    const auto login = test::runTask(client.login(email, QStringLiteral("secret-123")));
    const auto me = test::runTask(client.send<APIMeResponse>(QStringLiteral("/me"), QStringLiteral("GET"),
                                                             login.token, std::nullopt, {}));
    EXPECT_EQ(me.user.id, registered.user.id);

    const auto wrong = serverError(client.login(email, QStringLiteral("nope")));
    EXPECT_EQ(wrong.statusCode(), 401);

    // Authentication requests never carry a token.
    for (const auto& r : service->requests()) {
        if (r.path.startsWith(QStringLiteral("/api/auth/"))) {
            EXPECT_FALSE(r.headers.contains(QStringLiteral("authorization"))) << r.path.toStdString();
            EXPECT_EQ(r.headers.value(QStringLiteral("content-type")), QStringLiteral("application/json"));
        }
    }
    const auto registerBody = QJsonDocument::fromJson(requestsTo(*service, QStringLiteral("/api/auth/register"))[0].body).object();
    EXPECT_FALSE(registerBody.contains(QStringLiteral("inviteCode")));
}

TEST(OrvaneAPIClientTest, DeviceOperationsAgainstTheService) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString token = service->demoToken();

    const auto bound = test::runTask(client.bindDevice(bindRequest(QStringLiteral("macos-test-1")), token));
    EXPECT_FALSE(bound.device.id.isEmpty());

    const auto bootstrap = test::runTask(client.clientBootstrap(token));
    ASSERT_TRUE(bootstrap.devices.has_value());
    EXPECT_FALSE(bootstrap.endpoints.isEmpty());
    const auto bootstrapRequest = requestsTo(*service, QStringLiteral("/api/client/bootstrap"));
    ASSERT_EQ(bootstrapRequest.size(), 1);
    EXPECT_EQ(bootstrapRequest[0].query,
              QStringLiteral("clientPlatform=macos&client_platform=macos&clientRegion=auto&client_region=auto"
                             "&networkType=wired&network_type=wired"));

    const auto deleted = test::runTask(client.deleteDevice(bound.device.id, token));
    EXPECT_TRUE(deleted.ok);
    const auto devices = test::runTask(client.send<APIDevicesResponse>(
        QStringLiteral("/devices"), QStringLiteral("GET"), token, std::nullopt, {}));
    for (const auto& d : devices.devices) {
        EXPECT_NE(d.id, bound.device.id);
    }

    // An id with "/" stays one path segment.
    serverError(client.deleteDevice(QStringLiteral("a/b"), token));
    EXPECT_EQ(requestsTo(*service, QStringLiteral("/api/devices/a%2Fb")).size(), 1);
}

TEST(OrvaneAPIClientTest, ReportsCarryTheirTraceAsHeaders) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString token = service->demoToken();

    APIConnectionReportRequest report;
    report.deviceId = QStringLiteral("dev_1");
    report.endpointId = QStringLiteral("hk-01");
    report.protocolName = QStringLiteral("vless");
    report.status = QStringLiteral("connected");
    report.attemptId = QStringLiteral("att_42");
    report.requestId = QStringLiteral("req_42");
    EXPECT_TRUE(test::runTask(client.connectionReport(report, token)).ok);
    auto sent = requestsTo(*service, QStringLiteral("/api/client/connection-report"));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].headers.value(QStringLiteral("x-request-id")), QStringLiteral("req_42"));
    EXPECT_EQ(sent[0].headers.value(QStringLiteral("x-orvane-attempt-id")), QStringLiteral("att_42"));
    ASSERT_EQ(service->connectionReports().size(), 1);
    EXPECT_EQ(service->connectionReports()[0].value(QStringLiteral("protocol")).toString(),
              QStringLiteral("vless"));
    EXPECT_FALSE(service->connectionReports()[0].contains(QStringLiteral("errorMessage")));

    report.requestId.clear();
    report.attemptId.clear();
    test::runTask(client.connectionReport(report, token));
    sent = requestsTo(*service, QStringLiteral("/api/client/connection-report"));
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(sent[1].headers.value(QStringLiteral("x-request-id")).startsWith(QStringLiteral("req_")));
    EXPECT_FALSE(sent[1].headers.contains(QStringLiteral("x-orvane-attempt-id")));

    APIClientCrashReportRequest crash;
    crash.clientPlatform = QStringLiteral("macos");
    crash.appVersion = QStringLiteral("1.0.0");
    crash.crashType = QStringLiteral("macos-connection");
    crash.reason = QStringLiteral("连接失败");
    EXPECT_TRUE(test::runTask(client.crashReport(crash, token)).ok);
    ASSERT_EQ(service->crashReports().size(), 1);
    EXPECT_FALSE(service->crashReports()[0].contains(QStringLiteral("deviceId")));
}

TEST(OrvaneAPIClientTest, RoutePreferencesAndTickets) {
    auto service = startService();
    OrvaneAPIClient client(QUrl(service->baseURL()));
    const QString token = service->demoToken();

    APISaveRoutePreferencesRequest save;
    APIRoutePreference ai;
    ai.categoryId = QStringLiteral("ai");
    ai.policyId = QStringLiteral("policy_ai");
    ai.endpointId = QStringLiteral("sg-01");
    save.preferences = {ai};
    test::runTask(client.saveRoutePreferences(save, token));
    const auto fetched = test::runTask(client.send<APIRoutePreferencesResponse>(
        QStringLiteral("/client/route-preferences?clientPlatform=macos&client_platform=macos"),
        QStringLiteral("GET"), token, std::nullopt, {}));
    ASSERT_FALSE(fetched.preferences.isEmpty());
    EXPECT_EQ(fetched.preferences[0].endpointId, QStringLiteral("sg-01"));
    const auto prefRequests = requestsTo(*service, QStringLiteral("/api/client/route-preferences"));
    ASSERT_EQ(prefRequests.size(), 2);
    EXPECT_EQ(prefRequests[0].method, QStringLiteral("PUT"));
    EXPECT_EQ(prefRequests[1].method, QStringLiteral("GET"));
    EXPECT_EQ(prefRequests[0].query, prefRequests[1].query);

    APICreateTicketRequest ticket;
    ticket.title = QStringLiteral("无法连接");
    ticket.body = QStringLiteral("日志……");
    const auto created = test::runTask(client.createTicket(ticket, token));
    EXPECT_FALSE(created.ticket.id.isEmpty());
    const auto tickets = test::runTask(client.send<APITicketsResponse>(
        QStringLiteral("/tickets"), QStringLiteral("GET"), token, std::nullopt, {}));
    EXPECT_FALSE(tickets.tickets.isEmpty());
}

TEST(OrvaneAPIClientTest, ProtocolConfigurationBecomesReadyAfterPolls) {
    DevService::Options options;
    options.configReadyAfterPolls = 2;
    DevService service(options);
    service.start();
    OrvaneAPIClient client(QUrl(service.baseURL()));
    const QString token = service.demoToken();

    const QString deviceId =
        test::runTask(client.bindDevice(bindRequest(QStringLiteral("macos-poll")), token)).device.id;

    APIProtocolConfigRequest request;
    request.endpointId = QStringLiteral("hk-01");
    request.deviceId = deviceId;
    request.platform = QStringLiteral("macos");
    request.outboundMode = QStringLiteral("smart");
    request.attemptId = QStringLiteral("att_1");
    request.requestId = QStringLiteral("req_1");
    const QString path = QStringLiteral("/client/devices/") + OrvaneAPIClient::escapedDeviceId(deviceId) +
                         QStringLiteral("/protocol-config");
    QStringList statuses;
    for (int i = 0; i < 3; ++i) {
        const auto response = test::runTask(client.send<APIProtocolConfigResponse>(
            path, QStringLiteral("POST"), token, OrvaneAPIClient::encode(request),
            OrvaneAPIClient::traceHeaders(request.attemptId, request.requestId)));
        statuses << response.readiness().status;
        if (i == 2) {
            ASSERT_TRUE(response.protocolConfigV2.has_value());
            EXPECT_TRUE(response.runtimeDebugSummary().startsWith(QStringLiteral("v2=true")));
        }
    }
    EXPECT_NE(statuses[0], QStringLiteral("ready"));
    EXPECT_NE(statuses[1], QStringLiteral("ready"));
    EXPECT_EQ(statuses[2], QStringLiteral("ready"));
    for (const auto& r : service.requests()) {
        if (r.path.endsWith(QStringLiteral("/protocol-config"))) {
            EXPECT_EQ(r.headers.value(QStringLiteral("x-request-id")), QStringLiteral("req_1"));
        }
    }
}
