#include "ChildProcesses.h"
#include "EngineTunnel.h"
#include "FlowTestSupport.h"
#include "IsolatedRuntimeProfile.h"
#include "LocalHTTPServer.h"
#include "RunTask.h"
#include "StandinFixture.h"
#include "StateFixture.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <atomic>

using namespace orvane;
using namespace orvane::test;
using dev::DevService;

namespace {

// Waits on work of the engine's real processes (sing-box, its probes, the proxy tools).
constexpr std::chrono::milliseconds kEngineWait = std::chrono::seconds(120);

QJsonObject proxy(bool enabled, const QString& server, int port) {
    return QJsonObject{{QStringLiteral("enabled"), enabled},
                       {QStringLiteral("server"), server},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("authenticated"), false}};
}

// Wi-Fi off with a server the user once set, Ethernet through a company proxy.
QJsonObject usersNetwork() {
    QJsonObject network = StandinFixture::defaultNetwork();
    QJsonArray services = network.value(QStringLiteral("services")).toArray();
    for (qsizetype i = 0; i < services.size(); ++i) {
        QJsonObject service = services[i].toObject();
        const QString name = service.value(QStringLiteral("name")).toString();
        if (name == QLatin1String("Wi-Fi")) {
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
    return network;
}

QJsonObject webProxyOf(const QJsonObject& network, const QString& name) {
    for (const QJsonValue& s : network.value(QStringLiteral("services")).toArray()) {
        if (s.toObject().value(QStringLiteral("name")).toString() == name) {
            return s.toObject().value(QStringLiteral("web")).toObject();
        }
    }
    return {};
}

// The system tools are the stand-ins'.
ToolPaths standinPaths(const StandinFixture& tools) {
    ToolPaths paths = ToolPaths::platformDefaults();
    paths.networksetup = tools.tool("networksetup");
    paths.scutil = tools.tool("scutil");
    paths.osascript = tools.tool("osascript");
    return paths;
}

int requestsTo(const DevService& service, const char* method, const QString& suffix) {
    int count = 0;
    for (const DevService::RecordedRequest& request : service.requests()) {
        count += request.method == QLatin1String(method) && request.path.endsWith(suffix) ? 1 : 0;
    }
    return count;
}

// The services' proxy settings as they act. A kind that was off keeps the server an enable
// wrote into it (networksetup cannot clear one), so of those two kinds only the switch counts.
std::string proxySettings(const QJsonObject& network) {
    QJsonArray services = network.value(QStringLiteral("services")).toArray();
    for (qsizetype i = 0; i < services.size(); ++i) {
        QJsonObject service = services[i].toObject();
        for (const char* kind : {"secureWeb", "socks"}) {
            service.insert(
                QLatin1String(kind),
                service.value(QLatin1String(kind)).toObject().value(QStringLiteral("enabled")));
        }
        services[i] = service;
    }
    return QJsonDocument(services).toJson().toStdString();
}

// The engine, with hooks run once a node start or a keep-alive check is under way.
class ObservedEngineTunnel : public EngineTunnel {
public:
    using EngineTunnel::EngineTunnel;
    std::function<void()> onHealthCheckStarted;
    std::function<void()> onConnectStarted;
    // Set: the next system-proxy switch, once the engine has made it, answers only when this is.
    OneShotEvent* switchAnswer = nullptr;
    bool switchMade = false;

    QCoro::Task<TunnelActivation> connect(ProtocolConfiguration configuration, OutboundMode mode,
                                          bool ai, bool systemProxy, bool quickStart) override {
        QCoro::Task<TunnelActivation> start =
            EngineTunnel::connect(std::move(configuration), mode, ai, systemProxy, quickStart);
        if (onConnectStarted) {
            std::exchange(onConnectStarted, nullptr)();
        }
        TunnelActivation activation = co_await std::move(start);
        co_return activation;
    }

    QCoro::Task<QStringList> setSystemProxyEnabled(bool enabled, int port) override {
        QStringList notes = co_await EngineTunnel::setSystemProxyEnabled(enabled, port);
        OneShotEvent* answer = std::exchange(switchAnswer, nullptr);
        if (answer) {
            switchMade = true;
            co_await answer->wait();
        }
        co_return notes;
    }

    QCoro::Task<TunnelHealthCheck> connectionHealthCheck(int port, bool ai,
                                                         bool systemProxy) override {
        QCoro::Task<TunnelHealthCheck> check =
            EngineTunnel::connectionHealthCheck(port, ai, systemProxy);
        if (onHealthCheckStarted) {
            std::exchange(onHealthCheckStarted, nullptr)();
        }
        TunnelHealthCheck result = co_await std::move(check);
        co_return result;
    }
};

// The state over the real engine with `paths` (sing-box the stand-in, waits instant), signed in
// as the demo user; the probes fetch `probe`, by default the service's generate-204. A failed
// assertion must not leave the stand-in running.
class SignedInOverTheEngine {
public:
    SignedInOverTheEngine(StateFixture& f, ToolPaths paths, QString probe = {}) {
        paths.singBoxCandidates = {StandinFixture::binDir() + QStringLiteral("/sing-box")};
        if (probe.isEmpty()) {
            probe = f.service.rootURL() + QStringLiteral("/generate_204");
        }
        auto coordinator = std::make_unique<TunnelCoordinator>(
            paths, TunnelCoordinator::ProbeURLs{{probe, probe}, {probe, probe, probe, probe}},
            isolatedRuntimeProfile(f.home.root()));
        coordinator->setSleepFunction(
            [](std::chrono::milliseconds) -> QCoro::Task<void> { co_return; });
        engine = coordinator.get();
        auto observed = std::make_unique<ObservedEngineTunnel>(std::move(coordinator));
        tunnel = observed.get();
        state = &f.makeState(std::move(observed));
        runTask(state->login(QString::fromLatin1(DevService::kDemoEmail),
                             QString::fromLatin1(DevService::kDemoPassword)));
    }
    ~SignedInOverTheEngine() { endOwnChildren(); }

    TunnelCoordinator* engine = nullptr;
    ObservedEngineTunnel* tunnel = nullptr;
    AppState* state = nullptr;
};

} // namespace

// The one-click connect with the real engine: sing-box and the macOS tools are stand-ins on this
// process's own ports, the probes reach the local service through the stand-in's proxy.
TEST(ConnectEndToEnd, ConnectReportsAndDisconnectPutsTheMachineBack) {
    StandinFixture tools;
    tools.writeNetwork(usersNetwork());
    StateFixture f;
    const ToolPaths paths = standinPaths(tools);
    SignedInOverTheEngine app(f, paths);
    AppState& state = *app.state;
    TunnelCoordinator& engine = *app.engine;
    ASSERT_TRUE(state.token().has_value());
    const QJsonObject before = tools.readNetwork();

    runTask(state.toggleConnection());
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected)
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(state.currentDevice().has_value());
    EXPECT_EQ(requestsTo(f.service, "POST", QStringLiteral("/api/devices")), 1);
    EXPECT_EQ(requestsTo(f.service, "POST", QStringLiteral("/protocol-config")),
              3); // two not ready
    EXPECT_GE(requestsTo(f.service, "GET", QStringLiteral("/generate_204")), 1);
    const int port = state.localProxyPort();
    EXPECT_EQ(port, engine.macOSProxyPort);
    // Only the running sing-box is left once any earlier one has ended.
    EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 1));
    EXPECT_EQ(webProxyOf(tools.readNetwork(), QStringLiteral("Wi-Fi")),
              proxy(true, QStringLiteral("127.0.0.1"), port));
    EXPECT_TRUE(runTask(engine.systemProxyPointsToLocalProxy(port)));
    const QList<QJsonObject> reports = f.service.connectionReports();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0].value(QStringLiteral("status")).toString(), QStringLiteral("connected"));
    EXPECT_EQ(reports[0].value(QStringLiteral("deviceId")).toString(), state.currentDevice()->id);
    EXPECT_EQ(reports[0].value(QStringLiteral("endpointId")).toString(),
              state.selectedEndpointId());

    runTask(state.toggleConnection());
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
    EXPECT_EQ(f.service.connectionReports().size(), 2);
    EXPECT_TRUE(f.service.crashReports().isEmpty());
    EXPECT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; })); // the keep-alive ended
    f.releaseLongSleeps();
    EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 0));
}

// Without networksetup no node can be connected: the walk stops at the first, says which tool
// is missing and holds nothing against the node.
TEST(ConnectEndToEnd, AMissingSystemToolStopsAtTheFirstNode) {
    StandinFixture tools;
    StateFixture f;
    ToolPaths paths = ToolPaths::platformDefaults();
    const QString missing = f.home.root() + QStringLiteral("/absent/networksetup");
    paths.networksetup = missing;
    paths.scutil = tools.tool("scutil");
    paths.osascript = tools.tool("osascript");
    SignedInOverTheEngine app(f, paths);
    AppState& state = *app.state;
    TunnelCoordinator& engine = *app.engine;
    ASSERT_TRUE(state.token().has_value());

    runTask(state.toggleConnection());
    const QString text =
        QStringLiteral("已尝试 香港 VLESS，仍未连通。缺少系统工具 %1，无法设置系统代理。")
            .arg(missing);
    EXPECT_EQ(state.connectionState(), ConnectionState::failed(text))
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(state.alertMessage(), text);
    EXPECT_TRUE(
        f.logMessages().contains(QStringLiteral("检测到本机连接环境问题，已停止自动重试。")));
    const QList<QJsonObject> reports = f.service.connectionReports();
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0].value(QStringLiteral("endpointId")).toString(), QStringLiteral("hk-01"));
    EXPECT_TRUE(state.endpointQualityStats().isEmpty());
    EXPECT_EQ(engine.activeMode, std::nullopt);
    EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 0));
}

// Connected, one keep-alive check failed, and the user disconnects while the second is out:
// the machine is put back and nothing reconnects to another node.
TEST(ConnectEndToEnd, DisconnectDuringAKeepAliveCheckLeavesNothingRunning) {
    StandinFixture tools;
    tools.writeNetwork(usersNetwork());
    StateFixture f;
    LocalHTTPServer probes;
    std::atomic<bool> probesFail{false};
    probes.server().Get("/generate_204", [&probesFail](const httplib::Request&,
                                                        httplib::Response& response) {
        response.status = probesFail ? 500 : 204;
    });
    const ToolPaths paths = standinPaths(tools);
    SignedInOverTheEngine app(f, paths, probes.url("/generate_204").toString());
    AppState& state = *app.state;
    const QJsonObject before = tools.readNetwork();

    runTask(state.toggleConnection());
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected)
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    probesFail = true;
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return f.logMessages().first().contains(QStringLiteral("（1/2）")); }));
    ASSERT_TRUE(waitUntil([&] { return f.longSleepsStarted == 2; }, kEngineWait));
    const auto statsBefore = state.endpointQualityStats();

    std::optional<QCoro::Task<void>> press;
    app.tunnel->onHealthCheckStarted = [&] { press.emplace(state.toggleConnection()); };
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return press.has_value(); }));
    runTask(std::move(*press));
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected)
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 0));
    EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
    EXPECT_EQ(state.endpointQualityStats(), statsBefore);
    const QString log = f.logMessages().join(QLatin1Char('\n'));
    EXPECT_FALSE(log.contains(QStringLiteral("（2/2）")));
    EXPECT_FALSE(log.contains(QStringLiteral("自动")));
    const QList<QJsonObject> reports = f.service.connectionReports();
    ASSERT_EQ(reports.size(), 3);
    EXPECT_EQ(reports.last().value(QStringLiteral("status")).toString(),
              QStringLiteral("disconnected"));
    EXPECT_EQ(reports.last().value(QStringLiteral("endpointId")).toString(),
              QStringLiteral("hk-01"));
}

// The system proxy switched while the node starts: once connected, and after a keep-alive
// check, the machine's proxy settings are as the user last switched them.
TEST(ConnectEndToEnd, ASystemProxySwitchDuringTheNodeStartHoldsOnceConnected) {
    for (const bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        StandinFixture tools;
        tools.writeNetwork(usersNetwork());
        StateFixture f;
        f.preferences->setBool(QStringLiteral("orvane.systemProxyEnabled"), !enabled);
        const ToolPaths paths = standinPaths(tools);
        SignedInOverTheEngine app(f, paths);
        AppState& state = *app.state;
        const QJsonObject before = tools.readNetwork();

        app.tunnel->onConnectStarted = [&] { state.spawn(state.setSystemProxyEnabled(enabled)); };
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected)
            << f.logMessages().join(QLatin1Char('\n')).toStdString();
        ASSERT_FALSE(app.tunnel->onConnectStarted);
        const int port = state.localProxyPort();
        auto proxyIsAsChosen = [&] {
            if (enabled) {
                EXPECT_EQ(webProxyOf(tools.readNetwork(), QStringLiteral("Wi-Fi")),
                          proxy(true, QStringLiteral("127.0.0.1"), port));
                EXPECT_TRUE(runTask(app.engine->systemProxyPointsToLocalProxy(port)));
            } else {
                EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
            }
        };
        proxyIsAsChosen();
        EXPECT_EQ(state.systemProxyEnabled(), enabled);
        EXPECT_FALSE(state.isBusy());

        f.releaseLongSleeps();
        ASSERT_TRUE(waitUntil([&] { return f.longSleepsStarted == 2; }, kEngineWait));
        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected)
            << f.logMessages().join(QLatin1Char('\n')).toStdString();
        proxyIsAsChosen();

        runTask(state.toggleConnection());
        EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
        EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 0));
    }
}

// A node picked while the node starts; once connected, with the connect's last report still
// out, the system proxy is switched off, and the switch answers only after the connect ended.
// Once it does, the picked node runs, through the engine, and the machine's proxy stays off.
TEST(ConnectEndToEnd, APickDuringTheNodeStartRunsThoughAProxySwitchIsOutAtTheEnd) {
    StandinFixture tools;
    tools.writeNetwork(usersNetwork());
    StateFixture f;
    const ToolPaths paths = standinPaths(tools);
    SignedInOverTheEngine app(f, paths);
    AppState& state = *app.state;
    const QJsonObject before = tools.readNetwork();

    f.service.addFault(held("POST", "/client/connection-report"));
    app.tunnel->onConnectStarted = [&] {
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    };
    QCoro::Task<void> press = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }, kEngineWait))
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));

    OneShotEvent switchAnswers;
    app.tunnel->switchAnswer = &switchAnswers;
    QCoro::Task<void> proxyOff = state.setSystemProxyEnabled(false);
    ASSERT_TRUE(waitUntil([&] { return app.tunnel->switchMade; }, kEngineWait));
    f.service.releaseHeld();
    runTask(std::move(press));
    switchAnswers.set();
    runTask(std::move(proxyOff));
    ASSERT_TRUE(untilAtRest(f, kEngineWait));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected)
        << f.logMessages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));
    ASSERT_TRUE(state.runningConnection().has_value());
    EXPECT_EQ(state.runningConnection()->endpoint.id.toStdString(), "jp-01");
    EXPECT_FALSE(state.runningConnection()->systemProxyEnabled);
    EXPECT_FALSE(state.systemProxyEnabled());
    EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
    EXPECT_FALSE(state.alertMessage());

    // The keep-alive probes and reports the picked node.
    const int loops = f.longSleepsStarted;
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return f.longSleepsStarted > loops; }, kEngineWait));
    const QJsonObject report = f.service.connectionReports().last();
    EXPECT_EQ(report.value(QStringLiteral("status")).toString().toStdString(), "connected");
    EXPECT_EQ(report.value(QStringLiteral("endpointId")).toString().toStdString(), "jp-01");
    EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));

    runTask(state.toggleConnection());
    EXPECT_EQ(proxySettings(tools.readNetwork()), proxySettings(before));
    EXPECT_TRUE(untilProcessCount([&] { return processesMentioning(f.home.root()); }, 0));
}
