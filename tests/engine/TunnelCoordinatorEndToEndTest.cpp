#include "AppFolders.h"
#include "CancelToken.h"
#include "ChildProcesses.h"
#include "IsolatedRuntimeProfile.h"
#include "LocalHTTPServer.h"
#include "RunTask.h"
#include "SingBoxRuntimeError.h"
#include "StandinFixture.h"
#include "TempHome.h"
#include "TunnelCoordinator.h"
#include "TunnelCoordinatorError.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <httplib.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

// The probes' targets: a generate-204 page on this machine.
class ProbeServer {
public:
    ProbeServer() {
        m_http.server().Get("/generate_204", [](const httplib::Request&, httplib::Response& res) {
            res.status = 204;
        });
        m_http.server().Get(
            "/ai", [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
    }
    QString url(const char* path) const { return m_http.url(path).toString(); }

private:
    test::LocalHTTPServer m_http;
};

// A node configuration as the service sends it.
ProtocolConfiguration nodeConfiguration(const QJsonObject& standin = {}) {
    QByteArray json = R"({
      "log": {"level": "info"},
      "dns": {"servers": [{"tag": "cloudflare", "type": "https", "server": "1.1.1.1", "domain_resolver": "bootstrap"},
                          {"tag": "bootstrap", "type": "udp", "server": "8.8.8.8"}]},
      "inbounds": [{"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": 2080}],
      "outbounds": [{"type": "vless", "tag": "proxy", "server": "hk-01.nodes.orvane.invalid", "server_port": 443,
                     "uuid": "6f2c0a8e-0000-4000-8000-000000000001", "flow": "xtls-rprx-vision",
                     "tls": {"enabled": true, "server_name": "hk-01.nodes.orvane.invalid"}},
                    {"type": "direct", "tag": "direct"}, {"type": "block", "tag": "block"}],
      "route": {"rules": [{"inbound": "mixed-in", "domain_suffix": ["ads.example"], "outbound": "block"}],
                "final": "proxy"}
    })";
    JSONValue tree = JSONValue::parse(json);
    if (!standin.isEmpty()) {
        tree.object()[QStringLiteral("_standin")] = JSONValue::fromQJsonValue(standin);
    }
    ProtocolConfiguration config;
    config.endpointId = QStringLiteral("hk-01");
    config.protocolKind = ProtocolKind::vless;
    config.singBoxConfig = tree;
    config.cacheKey = QStringLiteral("hk-01:1");
    config.configRevision = 1;
    return config;
}

QJsonObject proxy(bool enabled, const QString& server, int port) {
    return QJsonObject{{QStringLiteral("enabled"), enabled},
                       {QStringLiteral("server"), server},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("authenticated"), false}};
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

bool listens(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(300);
}

// The whole node start against the stand-ins: sing-box, networksetup, scutil and osascript are
// ours, lsof, ps, kill and curl are the machine's; the ports are this test process's own.
class TunnelEndToEndTest : public ::testing::Test {
protected:
    TunnelEndToEndTest() {
        QJsonObject network = test::StandinFixture::defaultNetwork();
        QJsonArray services = network.value(QStringLiteral("services")).toArray();
        for (qsizetype i = 0; i < services.size(); ++i) {
            QJsonObject service = services[i].toObject();
            const QString name = service.value(QStringLiteral("name")).toString();
            if (name == QLatin1String("Wi-Fi")) {
                // Off, but the user once had a server configured.
                service.insert(QStringLiteral("web"),
                               proxy(false, QStringLiteral("old.proxy.test"), 8080));
            } else if (name == QLatin1String("Ethernet")) {
                service.insert(QStringLiteral("web"),
                               proxy(true, QStringLiteral("proxy.corp.test"), 3128));
                service.insert(QStringLiteral("bypass"), QJsonArray{QStringLiteral("*.corp.test")});
            }
            services[i] = service;
        }
        network.insert(QStringLiteral("services"), services);
        fixture.writeNetwork(network);

        tools = ToolPaths::platformDefaults();
        tools.networksetup = fixture.tool("networksetup");
        tools.scutil = fixture.tool("scutil");
        tools.osascript = fixture.tool("osascript");
        tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
        probes = {{web.url("/generate_204"), web.url("/generate_204")},
                  {web.url("/ai"), web.url("/ai"), web.url("/ai"), web.url("/ai")}};
        coordinator = std::make_unique<TunnelCoordinator>(tools, probes, profile);
    }
    ~TunnelEndToEndTest() override {
        test::endOwnChildren();
        coordinator.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QJsonObject service(const char* name) const {
        for (const QJsonValue& s :
             fixture.readNetwork().value(QStringLiteral("services")).toArray()) {
            if (s.toObject().value(QStringLiteral("name")).toString() == QLatin1String(name)) {
                return s.toObject();
            }
        }
        return {};
    }
    QJsonObject webProxyOf(const char* name) const {
        return service(name).value(QStringLiteral("web")).toObject();
    }
    void setScutilStale(int calls) {
        QJsonObject network = fixture.readNetwork();
        QJsonObject knobs = network.value(QStringLiteral("knobs")).toObject();
        knobs.insert(QStringLiteral("scutilStaleCalls"), calls);
        network.insert(QStringLiteral("knobs"), knobs);
        fixture.writeNetwork(network);
    }
    TunnelActivation connect(const ProtocolConfiguration& config = nodeConfiguration()) {
        return test::runTask(coordinator->connect(config, OutboundMode::smart, false, true, false));
    }
    static QByteArray read(const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    test::TempHome home;
    test::StandinFixture fixture;
    ProbeServer web;
    const RuntimeProfile profile = test::isolatedRuntimeProfile(home.root());
    // The default port and the one after it.
    const int first = profile.firstProxyPort;
    const int second = first + 1;
    ToolPaths tools;
    TunnelCoordinator::ProbeURLs probes;
    std::unique_ptr<TunnelCoordinator> coordinator;
};

} // namespace

TEST_F(TunnelEndToEndTest, NodeStartAndDisconnectLeaveTheMachineAsItWas) {
    QTcpServer squatter; // the default port is taken beforehand
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, first));

    const TunnelActivation activation = connect();
    EXPECT_EQ(activation.mode, TunnelActivation::Mode::singBox);
    EXPECT_EQ(activation.proxyPort, second);
    EXPECT_TRUE(activation.recoveryNotes.contains(QStringLiteral("本地代理连通性检测通过。")));
    EXPECT_TRUE(activation.recoveryNotes.contains(QStringLiteral("macOS 系统代理模式已启用。")));
    EXPECT_TRUE(activation.recoveryNotes.contains(
        QStringLiteral("默认端口被占用，已自动切换本地代理端口为 %1。").arg(second)));
    EXPECT_EQ(activation.recoveryNotes.first(), QStringLiteral("sing-box 内核已启动。"));

    // The active file: rewritten, private, recorded.
    const QString file =
        AppFolders::applicationSupportDirectory() + QStringLiteral("/Protocols/orvane-active.json");
    EXPECT_EQ(coordinator->activeConfigURL, file);
    EXPECT_EQ(coordinator->activeMode, TunnelActivation::Mode::singBox);
    EXPECT_EQ(coordinator->activeProxyPort, second);
    EXPECT_EQ(coordinator->activeAIProxyPort, std::nullopt);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(file).absolutePath()), 0700u);
    const JSONValue written = JSONValue::parse(read(file));
    EXPECT_EQ(written.find(QStringLiteral("inbounds"))
                  ->array()
                  .at(0)
                  .find(QStringLiteral("listen_port"))
                  ->number(),
              second);

    // The system proxy points at us, and scutil says so.
    EXPECT_EQ(webProxyOf("Wi-Fi"), proxy(true, QStringLiteral("127.0.0.1"), second));
    EXPECT_EQ(webProxyOf("Ethernet").value(QStringLiteral("port")).toInt(), second);
    EXPECT_TRUE(test::runTask(coordinator->systemProxyPointsToLocalProxy(second)));
    EXPECT_TRUE(listens(second));

    const TunnelHealthCheck health =
        test::runTask(coordinator->connectionHealthCheck(second, false, true));
    EXPECT_EQ(health, (TunnelHealthCheck{true, QStringLiteral("系统代理保活通过。")}));

    test::runTask(coordinator->disconnect());
    EXPECT_EQ(coordinator->activeConfigURL, std::nullopt);
    EXPECT_EQ(webProxyOf("Ethernet"), proxy(true, QStringLiteral("proxy.corp.test"), 3128));
    EXPECT_EQ(service("Ethernet").value(QStringLiteral("bypass")).toArray(),
              QJsonArray{QStringLiteral("*.corp.test")});
    // Off again, with the user's own server back instead of ours.
    EXPECT_EQ(webProxyOf("Wi-Fi"), proxy(false, QStringLiteral("old.proxy.test"), 8080));
    EXPECT_TRUE(test::untilProcessCount(test::ownChildren, 0));
    EXPECT_FALSE(listens(second));
    EXPECT_FALSE(coordinator->singBox().isChildRunning());
}

TEST_F(TunnelEndToEndTest, UnconfirmedSystemProxyIsRolledBack) {
    setScutilStale(2); // the first read-back and the one after the re-apply see nothing
    try {
        connect();
        ADD_FAILURE() << "connected";
    } catch (const TunnelCoordinatorError& e) {
        EXPECT_EQ(e.localizedDescription(), QStringLiteral("系统代理设置未生效，已自动回滚。"));
    }
    EXPECT_FALSE(coordinator->singBox().isChildRunning());
    EXPECT_FALSE(listens(first));
    EXPECT_FALSE(webProxyOf("Wi-Fi").value(QStringLiteral("enabled")).toBool());
    EXPECT_EQ(webProxyOf("Ethernet"), proxy(true, QStringLiteral("proxy.corp.test"), 3128));
    EXPECT_EQ(coordinator->activeMode, std::nullopt);

    setScutilStale(1); // one stale read, then the re-apply is seen
    const TunnelActivation activation = connect();
    EXPECT_EQ(activation.proxyPort, first);
    test::runTask(coordinator->disconnect());
}

TEST_F(TunnelEndToEndTest, FailedReloadPutsThePreviousFileBack) {
    connect();
    const QString file = *coordinator->activeConfigURL;
    const QByteArray before = read(file);
    try {
        test::runTask(coordinator->reload(
            nodeConfiguration({{QStringLiteral("failCheck"),
                                QStringLiteral("route rule[0]: outbound not found")}}),
            OutboundMode::global, false, true));
        ADD_FAILURE() << "reloaded";
    } catch (const SingBoxRuntimeError& e) {
        EXPECT_EQ(e.errorCase(), SingBoxRuntimeError::Case::invalidConfig);
    }
    EXPECT_EQ(read(file), before);
    EXPECT_EQ(modeOf(file), 0600u); // the roll-back writes the file anew
    EXPECT_TRUE(QDir(QFileInfo(file).absolutePath())
                    .entryList({QStringLiteral("orvane-reload-*")}, QDir::Files)
                    .isEmpty());
    EXPECT_TRUE(coordinator->singBox().isChildRunning());

    // A good reload takes the new mode in place; the file stays private.
    test::runTask(coordinator->reload(nodeConfiguration(), OutboundMode::global, false, true));
    EXPECT_NE(read(file), before);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_TRUE(test::runTask(coordinator->proxyWebConnectivityAvailable(first)));
    test::runTask(coordinator->disconnect());
}

TEST_F(TunnelEndToEndTest, ReloadThatLosesTheConnectionSaysSo) {
    connect(nodeConfiguration({{QStringLiteral("dieOnSighup"), true}}));
    QPointer<QObject> singBox(&coordinator->singBox());
    coordinator->singBox().setSleepFunction(
        [singBox](std::chrono::milliseconds) { return test::untilChildrenOf(singBox); });
    try {
        test::runTask(coordinator->reload(nodeConfiguration(), OutboundMode::global, false, true));
        ADD_FAILURE() << "reloaded";
    } catch (const TunnelCoordinatorError& e) {
        EXPECT_EQ(e.errorCase(), TunnelCoordinatorError::Case::reloadRollbackFailed);
        EXPECT_TRUE(e.localizedDescription().startsWith(
            QStringLiteral("配置热重载失败且未能恢复原配置，连接已中断：")));
    }
    EXPECT_FALSE(coordinator->singBox().isChildRunning());
    test::runTask(coordinator->cleanupRuntimeArtifacts(false));
}

TEST_F(TunnelEndToEndTest, UpkeepCaughtByADisconnectLeavesTheSystemProxyOff) {
    connect();
    setScutilStale(1); // the keep-alive sees the proxy lost and wants to re-apply it
    auto race = [&]() -> QCoro::Task<TunnelHealthCheck> {
        auto check = coordinator->connectionHealthCheck(first, false, true);
        auto down = coordinator->disconnect();
        co_await std::move(down);
        co_return co_await std::move(check);
    };
    const TunnelHealthCheck health = test::runTask(race());
    EXPECT_FALSE(health.passed);
    EXPECT_FALSE(webProxyOf("Wi-Fi").value(QStringLiteral("enabled")).toBool());
    EXPECT_EQ(webProxyOf("Ethernet"), proxy(true, QStringLiteral("proxy.corp.test"), 3128));

    // The same for a system-proxy switch still under way when the user disconnects.
    connect();
    auto switchRace = [&]() -> QCoro::Task<QStringList> {
        auto on = coordinator->setSystemProxyEnabled(true, first);
        auto down = coordinator->disconnect();
        co_await std::move(down);
        co_return co_await std::move(on);
    };
    EXPECT_TRUE(test::runTask(switchRace()).isEmpty());
    EXPECT_FALSE(webProxyOf("Wi-Fi").value(QStringLiteral("enabled")).toBool());
}

TEST_F(TunnelEndToEndTest, AMissingSystemToolEndsTheStartAtOnceAndSaysWhich) {
    const QString absent = home.root() + QStringLiteral("/absent");
    for (auto field : {&ToolPaths::networksetup, &ToolPaths::scutil}) {
        SCOPED_TRACE(field == &ToolPaths::networksetup ? "networksetup" : "scutil");
        ToolPaths missing = tools;
        missing.*field =
            absent + (field == &ToolPaths::networksetup ? QStringLiteral("/networksetup")
                                                        : QStringLiteral("/scutil"));
        coordinator = std::make_unique<TunnelCoordinator>(missing, probes, profile);
        QList<std::chrono::milliseconds> waits;
        coordinator->setSleepFunction([&waits](std::chrono::milliseconds d) -> QCoro::Task<void> {
            waits << d;
            co_return;
        });
        fixture.clearInvocations();
        try {
            connect();
            ADD_FAILURE() << "connected";
        } catch (const TunnelCoordinatorError& e) {
            EXPECT_EQ(e.errorCase(), TunnelCoordinatorError::Case::missingSystemTool);
            EXPECT_EQ(e.localizedDescription(),
                      QStringLiteral("缺少系统工具 %1，无法设置系统代理。").arg(missing.*field));
        }
        // No wait for a read-back that can never come, and no second try.
        EXPECT_TRUE(waits.isEmpty());
        int enables = 0;
        for (const auto& call : fixture.invocations()) {
            enables += call.tool == QLatin1String("networksetup") &&
                       call.args.value(0) == QLatin1String("-setwebproxy") &&
                       call.args.value(2) == QLatin1String("127.0.0.1");
        }
        // Once for each of the two services when only the read-back is missing.
        EXPECT_EQ(enables, field == &ToolPaths::networksetup ? 0 : 2);

        test::runTask(coordinator->cleanupRuntimeArtifacts(false));
        EXPECT_FALSE(coordinator->singBox().isChildRunning());
        EXPECT_EQ(coordinator->activeMode, std::nullopt);
        EXPECT_FALSE(webProxyOf("Wi-Fi").value(QStringLiteral("enabled")).toBool());
        EXPECT_EQ(webProxyOf("Ethernet"), proxy(true, QStringLiteral("proxy.corp.test"), 3128));
    }
}
