#include "HTTPSession.h"
#include "DroppingServer.h"
#include "LocalHTTPServer.h"
#include "OrvaneAPIClient.h"
#include "RunTask.h"
#include "URLError.h"

#include <QHostAddress>
#include <QTcpServer>

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

using LocalServer = test::LocalHTTPServer;
using Dropping = test::DroppingServer;

int freePort() { return test::freeLocalPort(); }

URLError::Code failureCode(HTTPSession& session, HTTPRequest request) {
    try {
        test::runTask(session.data(std::move(request)));
    } catch (const URLError& e) {
        return e.code();
    }
    ADD_FAILURE() << "request did not fail";
    return URLError::Code::unknown;
}

} // namespace

TEST(HTTPSessionTest, ErrorStatusesAreAnswersNotTransportFailures) {
    LocalServer local;
    local.server().Get("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_content("{\"error\":\"x\"}", "application/json");
    });
    HTTPSession session;
    for (int status : {200, 401, 404, 500, 503}) {
        HTTPRequest request;
        request.url = local.url(("/status/" + std::to_string(status)).c_str());
        const HTTPResponse response = test::runTask(session.data(request));
        EXPECT_TRUE(response.isHTTP);
        EXPECT_EQ(response.statusCode, status);
        EXPECT_EQ(response.body, QByteArray("{\"error\":\"x\"}"));
    }
}

TEST(HTTPSessionTest, SendsMethodHeadersAndBodyAsGiven) {
    LocalServer local;
    std::string method, body, custom, contentType;
    local.server().Put("/echo", [&](const httplib::Request& req, httplib::Response& res) {
        method = req.method;
        body = req.body;
        custom = req.get_header_value("X-Custom");
        contentType = req.get_header_value("Content-Type");
        res.status = 204;
    });
    HTTPSession session;
    HTTPRequest request;
    request.url = local.url("/echo");
    request.method = "PUT";
    request.headers = {{"X-Custom", "value"}, {"Content-Type", "application/json"}};
    request.body = QByteArray("{\"a\":1}");
    const HTTPResponse response = test::runTask(session.data(request));
    EXPECT_EQ(response.statusCode, 204);
    EXPECT_EQ(method, "PUT");
    EXPECT_EQ(body, "{\"a\":1}");
    EXPECT_EQ(custom, "value");
    EXPECT_EQ(contentType, "application/json");
}

TEST(HTTPSessionTest, KeepsNoCookies) {
    LocalServer local;
    std::string cookieSeen = "unset";
    local.server().Get("/set", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=abc; Path=/");
        res.set_content("{}", "application/json");
    });
    local.server().Get("/check", [&](const httplib::Request& req, httplib::Response& res) {
        cookieSeen = req.get_header_value("Cookie");
        res.set_content("{}", "application/json");
    });
    HTTPSession session;
    HTTPRequest request;
    request.url = local.url("/set");
    test::runTask(session.data(request));
    request.url = local.url("/check");
    test::runTask(session.data(request));
    EXPECT_EQ(cookieSeen, "");
}

TEST(HTTPSessionTest, RedirectToAnotherOriginIsNotFollowed) {
    LocalServer origin;
    LocalServer other;
    std::atomic<int> otherHits{0};
    std::string authorizationSeen;
    other.server().Get("/steal", [&](const httplib::Request& req, httplib::Response& res) {
        ++otherHits;
        authorizationSeen = req.get_header_value("Authorization");
        res.set_content("{}", "application/json");
    });
    const std::string target = other.url("/steal").toString().toStdString();
    origin.server().Get("/away", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(target, 302);
    });
    origin.server().Get("/here", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/final", 302);
    });
    origin.server().Get("/final", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"ok\":true}", "application/json");
    });

    HTTPSession session;
    HTTPRequest request;
    request.headers = {{"Authorization", "Bearer secret"}};
    request.url = origin.url("/away");
    const HTTPResponse away = test::runTask(session.data(request));
    EXPECT_EQ(away.statusCode, 302);
    EXPECT_EQ(otherHits.load(), 0);
    EXPECT_EQ(authorizationSeen, "");

    request.url = origin.url("/here");
    const HTTPResponse here = test::runTask(session.data(request));
    EXPECT_EQ(here.statusCode, 200);
    EXPECT_EQ(here.body, QByteArray("{\"ok\":true}"));
}

TEST(HTTPSessionTest, IgnoresProxyEnvironment) {
    LocalServer local;
    local.server().Get("/direct", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{}", "application/json");
    });
    // A proxy nobody listens on: a request through it would fail.
    const QByteArray bogus = QByteArray("http://127.0.0.1:") + QByteArray::number(freePort());
    qputenv("http_proxy", bogus);
    qputenv("HTTP_PROXY", bogus);
    qputenv("all_proxy", bogus);
    HTTPSession session;
    HTTPRequest request;
    request.url = local.url("/direct");
    const HTTPResponse response = test::runTask(session.data(request));
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    qunsetenv("all_proxy");
    EXPECT_EQ(response.statusCode, 200);
}

TEST(HTTPSessionTest, TransportFailuresAreCoded) {
    HTTPSession session;
    HTTPRequest refused;
    refused.url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(freePort()));
    EXPECT_EQ(failureCode(session, refused), URLError::Code::cannotConnectToHost);

    LocalServer slow;
    slow.server().Get("/slow", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(600ms);
        res.set_content("{}", "application/json");
    });
    HTTPRequest timed;
    timed.url = slow.url("/slow");
    timed.timeout = 150ms;
    EXPECT_EQ(failureCode(session, timed), URLError::Code::timedOut);

    HTTPSession shortTotal(HTTPSession::Options{200ms});
    HTTPRequest total;
    total.url = slow.url("/slow");
    EXPECT_EQ(failureCode(shortTotal, total), URLError::Code::timedOut);
}

// A request counts from the call until the caller resumes, however it ends.
TEST(HTTPSessionTest, CountsRequestsUnderWay) {
    LocalServer local;
    std::atomic<bool> answer = false;
    local.server().Get("/wait", [&answer](const httplib::Request&, httplib::Response& res) {
        while (!answer) {
            std::this_thread::sleep_for(1ms);
        }
        res.set_content("{}", "application/json");
    });
    HTTPSession session;
    HTTPRequest waiting;
    waiting.url = local.url("/wait");
    QCoro::Task<HTTPResponse> first = session.data(waiting);
    QCoro::Task<HTTPResponse> second = session.data(waiting);
    EXPECT_EQ(session.requestsUnderWay(), 2);
    answer = true;
    EXPECT_EQ(test::runTask(std::move(first)).statusCode, 200);
    test::runTask(std::move(second));
    EXPECT_EQ(session.requestsUnderWay(), 0);

    HTTPRequest refused;
    refused.url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(freePort()));
    failureCode(session, refused);
    HTTPRequest malformed;
    malformed.url = QUrl(QStringLiteral("ftp://127.0.0.1/x"));
    failureCode(session, malformed);
    EXPECT_EQ(session.requestsUnderWay(), 0);
}

TEST(HTTPSessionTest, LostConnectionIsReportedNeverResent) {
    HTTPSession session;
    for (const auto mode : {Dropping::Mode::readThenReset, Dropping::Mode::closeBeforeReading}) {
        for (const QByteArray method : {"POST", "GET"}) {
            SCOPED_TRACE(method.toStdString() +
                         (mode == Dropping::Mode::readThenReset ? " reset" : " close"));
            Dropping server(mode);
            HTTPRequest request;
            request.url = server.url("/api/x");
            request.method = method;
            request.headers = {{"X-Request-Id", "req_1"}};
            if (method == "POST") {
                request.body = QByteArray("{\"a\":1}");
            }
            EXPECT_EQ(failureCode(session, request), URLError::Code::networkConnectionLost);
            EXPECT_EQ(server.connections(), 1);
            EXPECT_EQ(server.requests(), mode == Dropping::Mode::readThenReset ? 1 : 0);
        }
    }
}

TEST(HTTPSessionTest, LostConnectionMovesOnlyAGetToTheNextBaseURL) {
    std::atomic<int> healthyHits{0};
    std::atomic<int> spareHits{0};
    LocalServer healthy;
    LocalServer spare;
    const auto counting = [](std::atomic<int>& hits) {
        return [&hits](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content("{}", "application/json");
        };
    };
    healthy.server().Get("/api/ping", counting(healthyHits));
    healthy.server().Post("/api/ping", counting(healthyHits));
    spare.server().Get("/api/ping", counting(spareHits));
    spare.server().Post("/api/ping", counting(spareHits));

    for (const auto mode : {Dropping::Mode::readThenReset, Dropping::Mode::closeBeforeReading}) {
        for (const QString& method : {QStringLiteral("GET"), QStringLiteral("POST")}) {
            SCOPED_TRACE(method.toStdString() +
                         (mode == Dropping::Mode::readThenReset ? " reset" : " close"));
            healthyHits = 0;
            spareHits = 0;
            Dropping dropping(mode);
            OrvaneAPIClient client({dropping.url("/api"), healthy.url("/api"), spare.url("/api")},
                                   nullptr, OrvaneAPIClient::Options{});
            std::optional<QByteArray> body;
            if (method == QLatin1String("POST")) {
                body = QByteArray("{}");
            }
            const bool isGet = method == QLatin1String("GET");
            try {
                test::runTask(client.send<APIOkResponse>(QStringLiteral("/ping"), method,
                                                         std::nullopt, body, {}));
                EXPECT_TRUE(isGet) << "a POST whose connection was lost was sent elsewhere";
            } catch (const URLError& e) {
                EXPECT_FALSE(isGet);
                EXPECT_EQ(e.code(), URLError::Code::networkConnectionLost);
            }
            EXPECT_EQ(dropping.connections(), 1);
            EXPECT_EQ(healthyHits.load(), isGet ? 1 : 0);
            EXPECT_EQ(spareHits.load(), 0);
        }
    }
}
