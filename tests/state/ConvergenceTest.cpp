// At rest, a connected state runs what the user chose: whichever of its flows ends last brings
// the connection over. And the keep-alive judges only the connection that runs.
#include "FlowTestSupport.h"

#include <QJsonValue>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using dev::DevService;

namespace {

// Texts as gtest prints them readably.
std::string text(const QString& value) {
    return value.toStdString();
}
std::string text(const std::optional<QString>& value) {
    return value ? value->toStdString() : std::string("(none)");
}
std::string text(const QStringList& values) {
    return values.join(QStringLiteral(" | ")).toStdString();
}
std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

const QString kSystemProxyKey = QStringLiteral("orvane.systemProxyEnabled");

// The choices the user can make while a node starts, besides the system proxy.
enum class Choice { pick, globalMode, aiOn };

void make(AppState& state, Choice choice) {
    switch (choice) {
    case Choice::pick:
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
        break;
    case Choice::globalMode:
        state.setOutboundMode(OutboundMode::global);
        break;
    case Choice::aiOn:
        state.toggleAIEnhancedMode();
        break;
    }
}

// What runs is what the user chose: in the state's record and in the tunnel.
void expectRunsTheChoices(const StateFixture& f, const QString& node) {
    const AppState& state = *f.state;
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(text(state.selectedEndpointId()), text(node));
    ASSERT_TRUE(state.runningConnection().has_value());
    const RunningConnection& running = *state.runningConnection();
    EXPECT_EQ(text(running.endpoint.id), text(node));
    EXPECT_EQ(text(rawValue(running.outboundMode)), text(rawValue(state.outboundMode())));
    EXPECT_EQ(running.aiEnhancedModeEnabled, state.aiEnhancedModeEnabled());
    EXPECT_EQ(running.systemProxyEnabled, state.systemProxyEnabled());
    EXPECT_EQ(f.tunnel->runsAI, state.aiEnhancedModeEnabled());
    EXPECT_EQ(f.tunnel->runsSystemProxy, state.systemProxyEnabled());
    EXPECT_TRUE(!state.aiProxyReady() || f.tunnel->runsAI);
    EXPECT_FALSE(state.isBusy());
}

// Ends the connection of a pick whose reload still waits for its configuration.
enum class End { disconnect, signOut };

void endTheConnection(AppState& state, End end) {
    if (end == End::disconnect) {
        runTask(state.toggleConnection());
    } else {
        runTask(state.logout());
        runTask(state.login(QString::fromLatin1(DevService::kDemoEmail),
                            QString::fromLatin1(DevService::kDemoPassword)));
    }
}

int healthChecks(const StateFixture& f) {
    return static_cast<int>(f.tunnel->calls.filter(QStringLiteral("health(")).size());
}

// Connected to hk-01, with no tunnel call recorded yet; then jp-01 is picked, and its reload
// waits for its configuration.
bool connectedWithAPicksConfigurationHeld(StateFixture& f) {
    AppState& state = *f.state;
    runTask(state.toggleConnection());
    f.tunnel->calls.clear();
    f.service.addFault(heldConfigRequest(state));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    return waitUntil([&] { return f.service.heldCount() == 1; });
}

bool logHas(const StateFixture& f, const QString& text) {
    return f.logMessages().join(QLatin1Char('\n')).contains(text);
}

} // namespace

// --- Choices made while the node starts, and a proxy switch still out at the end ----------

// A node, the global mode or AI mode chosen while the node starts; once connected, with the
// connect's last report still out, the system proxy is switched off, and that switch is still
// out when the connect ends. When the switch ends, the rest of the choices is brought over.
TEST(Convergence, AChoiceDuringTheNodeStartRunsThoughAProxySwitchIsOutAtTheEnd) {
    for (const Choice choice : {Choice::pick, Choice::globalMode, Choice::aiOn}) {
        SCOPED_TRACE(static_cast<int>(choice));
        StateFixture f;
        AppState& state = signedIn(f);
        HeldNodeStarts starts(f);
        HeldProxySwitch proxySwitch(f);
        f.service.addFault(held("POST", "/client/connection-report"));
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(starts.untilOneStarts());
        make(state, choice);
        starts.release();
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);

        QCoro::Task<void> proxyOff = state.setSystemProxyEnabled(false);
        ASSERT_TRUE(proxySwitch.untilItSwitches());
        f.service.releaseHeld();
        runTask(std::move(press));
        proxySwitch.release();
        runTask(std::move(proxyOff));
        ASSERT_TRUE(untilAtRest(f));

        const QString node =
            choice == Choice::pick ? QStringLiteral("jp-01") : QStringLiteral("hk-01");
        expectRunsTheChoices(f, node);
        EXPECT_FALSE(state.systemProxyEnabled());
        EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("connect("))),
                  text(QStringList{QStringLiteral("connect(hk-01,0)")}));
        EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
                  text(QStringList{QStringLiteral("reload(%1)").arg(node)}));
        ASSERT_TRUE(runKeepAlivePass(f));
        EXPECT_EQ(text(reportLine(f.service.connectionReports().last())),
                  text(QStringList({"connected", node, "connected", "OK"})));
        runTask(state.cleanupBeforeExit());
    }
}

// The same after a recovery: a node picked while it starts another node runs, though a proxy
// switch made once it connected is still out when the recovery ends.
TEST(Convergence, APickDuringARecoveryRunsThoughAProxySwitchIsOutAtTheEnd) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    ASSERT_TRUE(runKeepAlivePass(f));
    HeldNodeStarts starts(f);
    HeldProxySwitch proxySwitch(f);
    f.releaseLongSleeps();
    ASSERT_TRUE(starts.untilOneStarts());
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::repairing);
    f.service.addFault(held("POST", "/client/connection-report"));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    starts.release();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);

    QCoro::Task<void> proxyOff = state.setSystemProxyEnabled(false);
    ASSERT_TRUE(proxySwitch.untilItSwitches());
    f.tunnel->onHealthCheck = nullptr;
    const int loops = f.longSleepsStarted;
    f.service.releaseHeld();
    // The recovery ends, its new keep-alive asleep, while the switch is still out.
    ASSERT_TRUE(
        waitUntil([&] { return f.longSleepsStarted > loops && state.runningTaskCount() == 1; }));
    proxySwitch.release();
    runTask(std::move(proxyOff));
    ASSERT_TRUE(untilAtRest(f));

    expectRunsTheChoices(f, QStringLiteral("jp-01"));
    EXPECT_FALSE(state.systemProxyEnabled());
    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("connect("))),
              text(QStringList({"connect(hk-01,0)", "connect(sg-01,0)"})));
    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
              text(QStringList{QStringLiteral("reload(jp-01)")}));
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(text(f.service.connectionReports().last().value(QStringLiteral("endpointId"))),
              "jp-01");
    runTask(state.cleanupBeforeExit());
}

// A pick and a proxy switch made while the node starts; once connected, the connect brings the
// proxy over first, and the user switches it back while that switch runs. The pick still runs
// once the second switch ends.
TEST(Convergence, APickRunsThoughTheProxyIsSwitchedBackWhileTheConnectBringsItOver) {
    StateFixture f;
    AppState& state = signedIn(f);
    HeldNodeStarts starts(f);
    HeldProxySwitch proxySwitch(f);
    QCoro::Task<void> press = state.toggleConnection();
    ASSERT_TRUE(starts.untilOneStarts());
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    runTask(state.setSystemProxyEnabled(false));
    starts.release();
    ASSERT_TRUE(proxySwitch.untilItSwitches());
    ASSERT_EQ(text(f.tunnel->calls.last()), "systemProxy(0,19090)");

    QCoro::Task<void> proxyOn = state.setSystemProxyEnabled(true);
    proxySwitch.release();
    runTask(std::move(press));
    runTask(std::move(proxyOn));
    ASSERT_TRUE(untilAtRest(f));

    expectRunsTheChoices(f, QStringLiteral("jp-01"));
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_TRUE(f.preferences->boolValue(kSystemProxyKey));
    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("connect("))),
              text(QStringList{QStringLiteral("connect(hk-01,0)")}));
    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
              text(QStringList{QStringLiteral("reload(jp-01)")}));
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(text(reportLine(f.service.connectionReports().last())),
              text(QStringList({"connected", "jp-01", "connected", "OK"})));
    runTask(state.cleanupBeforeExit());
}

// --- A change of an ended connection --------------------------------------------------------

// A pick's reload waits for its configuration when the connection ends (a disconnect, or a
// sign-out and in). A node picked while the next connection's node starts runs once it
// connects, without waiting for the old request's answer, and the keep-alive probes it.
TEST(Convergence, APickDuringTheNextNodeStartIsNotHeldBackByAnEndedConnectionsReload) {
    for (const End end : {End::disconnect, End::signOut}) {
        SCOPED_TRACE(static_cast<int>(end));
        StateFixture f;
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        f.service.addFault(heldConfigRequest(state));
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        endTheConnection(state, end);
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);

        HeldNodeStarts starts(f);
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(starts.untilOneStarts());
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
        starts.release();
        runTask(std::move(press));
        const bool reloaded = waitUntil([&] {
            return f.tunnel->calls.contains(QStringLiteral("reload(jp-01)")) && !state.isBusy();
        });
        EXPECT_TRUE(reloaded) << "the pick waited for the ended connection's request";
        EXPECT_EQ(f.service.heldCount(), 1);
        expectRunsTheChoices(f, QStringLiteral("jp-01"));

        // The keep-alive probes the new connection while the old answer is still out.
        const int checks = healthChecks(f);
        ASSERT_TRUE(runKeepAlivePassBeside(f));
        EXPECT_EQ(healthChecks(f), checks + 1);
        EXPECT_EQ(text(reportLine(f.service.connectionReports().last())),
                  text(QStringList({"connected", "jp-01", "connected", "OK"})));

        // The old answer, when it comes, changes nothing.
        f.service.releaseHeld();
        ASSERT_TRUE(untilAtRest(f));
        EXPECT_FALSE(f.tunnel->calls.contains(QStringLiteral("reload(sg-01)")));
        expectRunsTheChoices(f, QStringLiteral("jp-01"));
        runTask(state.cleanupBeforeExit());
    }
}

// The same reload of an ended connection still waits; a node picked once the next connection
// is up reloads at once, and its busy mark goes off when that reload ends.
TEST(Convergence, APickOnTheNextConnectionIsNotHeldBackByAnEndedConnectionsReload) {
    for (const End end : {End::disconnect, End::signOut}) {
        SCOPED_TRACE(static_cast<int>(end));
        StateFixture f;
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        f.service.addFault(heldConfigRequest(state));
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        endTheConnection(state, end);
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);

        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
        const bool reloaded = waitUntil([&] {
            return f.tunnel->calls.contains(QStringLiteral("reload(jp-01)")) && !state.isBusy();
        });
        EXPECT_TRUE(reloaded) << "the pick waited for the ended connection's request";
        EXPECT_EQ(f.service.heldCount(), 1);
        EXPECT_EQ(text(f.logMessages().first()), "配置已热重载：日本 Hysteria2。");
        expectRunsTheChoices(f, QStringLiteral("jp-01"));

        f.service.releaseHeld();
        ASSERT_TRUE(untilAtRest(f));
        EXPECT_FALSE(f.tunnel->calls.contains(QStringLiteral("reload(sg-01)")));
        expectRunsTheChoices(f, QStringLiteral("jp-01"));
        ASSERT_TRUE(runKeepAlivePass(f));
        EXPECT_EQ(text(f.service.connectionReports().last().value(QStringLiteral("endpointId"))),
                  "jp-01");
        runTask(state.cleanupBeforeExit());
    }
}

// A reload already inside the tunnel when the user disconnects still holds the tunnel: a
// connect pressed next starts its node only once that call has returned.
TEST(Convergence, AConnectAfterADisconnectWaitsForAReloadInsideTheTunnel) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    OneShotEvent reloaded;
    bool reloading = false;
    f.tunnel->onReload = [&](ProtocolConfiguration) -> QCoro::Task<void> {
        reloading = true;
        co_await reloaded.wait();
    };
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
    ASSERT_TRUE(waitUntil([&] { return reloading; }));
    runTask(state.toggleConnection());
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);

    QCoro::Task<void> press = state.toggleConnection();
    for (int turn = 0; turn < 20; ++turn) {
        QCoreApplication::processEvents();
    }
    // Not even its clean-up has begun.
    EXPECT_EQ(text(f.tunnel->calls.last()), "disconnect") << text(f.tunnel->calls);
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    reloaded.set();
    runTask(std::move(press));
    ASSERT_TRUE(untilAtRest(f));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 2);
    expectRunsTheChoices(f, QStringLiteral("hk-01"));
    runTask(state.cleanupBeforeExit());
}

// --- A failed proxy switch -------------------------------------------------------------------

// A pick's reload waits for its configuration; the user switches the system proxy, and the
// reload, which reads the choices when it calls the tunnel, applies it. The switch then fails:
// the switch shows what runs.
TEST(Convergence, AFailedProxySwitchLeavesThePreferenceAsTheTunnelRunsIt) {
    for (const bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        StateFixture f;
        f.preferences->setBool(kSystemProxyKey, !enabled);
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        ASSERT_EQ(f.tunnel->runsSystemProxy, !enabled);
        f.tunnel->onSetSystemProxy = [](bool, int) -> QCoro::Task<QStringList> {
            throw OrvaneRuntimeError::connectionFailed(QStringLiteral("管理员授权被拒绝。"));
            co_return QStringList{};
        };
        f.service.addFault(heldConfigRequest(state));
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));

        QCoro::Task<void> proxySwitch = state.setSystemProxyEnabled(enabled);
        f.service.releaseHeld();
        runTask(std::move(proxySwitch));
        ASSERT_TRUE(untilAtRest(f));

        ASSERT_TRUE(state.runningConnection().has_value());
        const bool runs = state.runningConnection()->systemProxyEnabled;
        EXPECT_EQ(f.tunnel->runsSystemProxy, runs);
        EXPECT_EQ(state.systemProxyEnabled(), runs);
        EXPECT_EQ(f.preferences->boolValue(kSystemProxyKey), runs);
        expectRunsTheChoices(f, QStringLiteral("sg-01"));
        runTask(state.cleanupBeforeExit());
    }
}

// The same, with a switch that would work: the reload ahead of it applied the choice, so the
// switch says so and does not ask the system a second time.
TEST(Convergence, AProxySwitchThatAReloadAlreadyAppliedCallsNothing) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    ASSERT_TRUE(f.tunnel->runsSystemProxy);
    f.service.addFault(heldConfigRequest(state));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));

    QCoro::Task<void> proxySwitch = state.setSystemProxyEnabled(false);
    f.service.releaseHeld();
    runTask(std::move(proxySwitch));
    ASSERT_TRUE(untilAtRest(f));

    EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("systemProxy(")).isEmpty())
        << text(f.tunnel->calls);
    EXPECT_EQ(text(f.logMessages().first()), "系统代理已关闭。");
    EXPECT_FALSE(f.tunnel->reloadedWith.last().systemProxyEnabled);
    expectRunsTheChoices(f, QStringLiteral("sg-01"));
    runTask(state.cleanupBeforeExit());
}

// --- A reload the tunnel refused --------------------------------------------------------------

namespace {

// Connected, then AI mode switched on and its reload refused by the tunnel.
bool connectThenRefuseAIMode(StateFixture& f, AppState& state) {
    runTask(state.toggleConnection());
    f.tunnel->onReload = [](ProtocolConfiguration) -> QCoro::Task<void> {
        throw OrvaneRuntimeError::connectionFailed(QStringLiteral("内核拒绝了新配置。"));
        co_return;
    };
    state.toggleAIEnhancedMode();
    return untilAtRest(f);
}

} // namespace

// AI mode switched on and its reload refused: the choice waits for the next connect. A proxy
// switch later does not try the reload again (one alert, one reload); the next connect runs
// the choice.
TEST(Convergence, ARefusedChoiceWaitsForTheNextConnect) {
    StateFixture f;
    AppState& state = signedIn(f);
    ASSERT_TRUE(connectThenRefuseAIMode(f, state));
    EXPECT_TRUE(state.choicesAwaitNextConnect());

    runTask(state.setSystemProxyEnabled(false));
    ASSERT_TRUE(untilAtRest(f));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("reload(")).size(), 1) << text(f.tunnel->calls);
    EXPECT_EQ(f.logMessages().filter(QStringLiteral("配置热重载失败")).size(), 1);
    EXPECT_TRUE(state.choicesAwaitNextConnect());
    EXPECT_FALSE(f.tunnel->runsSystemProxy);

    runTask(state.toggleConnection());
    runTask(state.toggleConnection());
    ASSERT_TRUE(untilAtRest(f));
    EXPECT_TRUE(f.tunnel->startedWith.last().aiEnhancedModeEnabled);
    EXPECT_FALSE(state.choicesAwaitNextConnect());
    expectRunsTheChoices(f, QStringLiteral("hk-01"));
    runTask(state.cleanupBeforeExit());
}

// --- The keep-alive judges what runs ----------------------------------------------------------

// AI mode switched on, and its reload refused: the node runs without the AI entry, and the
// keep-alive does not fail it for an entry it never had.
TEST(KeepAlive, ProbesTheAIEntryOnlyWhenTheNodeRunsIt) {
    StateFixture f;
    AppState& state = signedIn(f);
    ASSERT_TRUE(connectThenRefuseAIMode(f, state));
    ASSERT_EQ(text(state.alertMessage()), "配置热重载失败，当前连接保持不变：内核拒绝了新配置。");
    ASSERT_TRUE(state.aiEnhancedModeEnabled());
    ASSERT_FALSE(f.tunnel->runsAI);

    ASSERT_TRUE(runKeepAlivePass(f));
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(healthChecks(f), 2);
    EXPECT_FALSE(logHas(f, QStringLiteral("连接保活异常")));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(text(state.selectedEndpointId()), "hk-01");
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_EQ(text(reportLine(f.service.connectionReports().last())),
              text(QStringList({"connected", "hk-01", "connected", "OK"})));
    runTask(state.cleanupBeforeExit());
}

// While a pick's reload waits for its configuration the connection is about to change: a probe
// then (here a failing one) would judge neither node, so no pass probes, and no recovery
// leaves the node the user is moving to.
TEST(KeepAlive, SkipsItsPassesWhileAReloadWaitsForItsConfiguration) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    const auto statsBefore = state.endpointQualityStats();
    f.service.addFault(heldConfigRequest(state));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    f.tunnel->onHealthCheck = webCheckFails;

    ASSERT_TRUE(runKeepAlivePassBeside(f));
    ASSERT_TRUE(runKeepAlivePassBeside(f));
    EXPECT_EQ(healthChecks(f), 0);
    f.tunnel->onHealthCheck = nullptr;
    f.service.releaseHeld();
    ASSERT_TRUE(untilAtRest(f));

    EXPECT_FALSE(logHas(f, QStringLiteral("连接保活异常")));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_EQ(state.endpointQualityStats(), statsBefore);
    expectRunsTheChoices(f, QStringLiteral("jp-01"));
    runTask(state.cleanupBeforeExit());
}

// One check failed; the next one is out when AI mode is switched on and its reload runs. That
// check probed a connection in change: its failure is not the second of the node, though the
// node stays the same and keeps its count.
TEST(KeepAlive, DiscardsAFailedCheckThatOverlappedAnAIModeReload) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    ASSERT_TRUE(runKeepAlivePass(f));
    ASSERT_TRUE(f.logMessages().first().contains(QStringLiteral("（1/2）")));
    const auto statsBefore = state.endpointQualityStats();

    OneShotEvent probeReturns;
    bool probing = false;
    f.tunnel->onHealthCheck = [&]() -> QCoro::Task<TunnelHealthCheck> {
        probing = true;
        co_await probeReturns.wait();
        co_return TunnelHealthCheck{false, QStringLiteral("网页连通性检测失败。")};
    };
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return probing; }));
    state.toggleAIEnhancedMode();
    ASSERT_TRUE(waitUntil(
        [&] { return f.logMessages().first().startsWith(QStringLiteral("配置已热重载：")); }));
    probeReturns.set();
    ASSERT_TRUE(
        waitUntil([&] { return state.runningTaskCount() == 1 && f.longSleepsStarted == 3; }));

    EXPECT_FALSE(logHas(f, QStringLiteral("（2/2）")));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_EQ(state.endpointQualityStats(), statsBefore);
    expectRunsTheChoices(f, QStringLiteral("hk-01"));
    EXPECT_TRUE(f.tunnel->runsAI);

    f.tunnel->onHealthCheck = nullptr;
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(text(reportLine(f.service.connectionReports().last())),
              text(QStringList({"connected", "hk-01", "connected", "OK"})));
    runTask(state.cleanupBeforeExit());
}

// Choices made while a reload waits for its configuration: the newest reload brings them all,
// the older one leaves the tunnel to it, and so does a reload asked while a switch to direct
// mode turns the proxy off first. Whatever the older one's configuration meets says nothing.
TEST(Convergence, AReloadLeavesTheTunnelToANewerOne) {
    for (const bool olderFails : {false, true}) {
        SCOPED_TRACE(olderFails);
        StateFixture f;
        AppState& state = signedIn(f);
        ASSERT_TRUE(connectedWithAPicksConfigurationHeld(f));
        state.setOutboundMode(OutboundMode::direct);
        const quint64 older = f.service.heldRequests().first().id;
        f.service.releaseHeld(older, olderFails ? std::optional(500) : std::nullopt);
        ASSERT_TRUE(untilAtRest(f));

        EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
                  text(QStringList{QStringLiteral("reload(jp-01)")}));
        ASSERT_FALSE(f.tunnel->reloadedWith.isEmpty());
        EXPECT_EQ(text(rawValue(f.tunnel->reloadedWith.last().outboundMode)), "direct");
        EXPECT_FALSE(state.systemProxyEnabled());
        expectRunsTheChoices(f, QStringLiteral("jp-01"));
        EXPECT_FALSE(state.alertMessage().has_value()) << text(*state.alertMessage());
        runTask(state.cleanupBeforeExit());
    }
}

// A reload waiting behind one already inside the tunnel, for choices that one carries: the mode
// switched away and back while a pick's reload runs. Once that reload is back, nothing is left
// to apply, and the tunnel is not called again.
TEST(Convergence, AReloadWhoseChoicesAlreadyRunCallsNothing) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->calls.clear();
    OneShotEvent reloaded;
    bool reloading = false;
    f.tunnel->onReload = [&](ProtocolConfiguration) -> QCoro::Task<void> {
        if (!reloading) {
            reloading = true;
            co_await reloaded.wait();
        }
    };
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    ASSERT_TRUE(waitUntil([&] { return reloading; }));
    state.setOutboundMode(OutboundMode::global);
    state.setOutboundMode(OutboundMode::smart);
    reloaded.set();
    ASSERT_TRUE(untilAtRest(f));

    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
              text(QStringList{QStringLiteral("reload(jp-01)")}));
    expectRunsTheChoices(f, QStringLiteral("jp-01"));
    runTask(state.cleanupBeforeExit());
}

// A manual reload asked while a pick's reload waits for its configuration, and the pick undone
// behind it: both give way to the newest reload, whose choices already run. It still brings
// the fresh configuration the user asked for.
TEST(Convergence, AManualReloadThatGivesWayStillReachesTheTunnel) {
    StateFixture f;
    AppState& state = signedIn(f);
    ASSERT_TRUE(connectedWithAPicksConfigurationHeld(f));
    state.spawn(state.reloadActiveConfiguration(QStringLiteral("菜单手动重载配置")));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("hk-01")));
    f.service.releaseHeld();
    ASSERT_TRUE(untilAtRest(f));

    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))),
              text(QStringList{QStringLiteral("reload(hk-01)")}));
    EXPECT_EQ(text(f.logMessages().first()), text(QStringLiteral("配置已热重载：香港 VLESS。")));
    expectRunsTheChoices(f, QStringLiteral("hk-01"));
    runTask(state.cleanupBeforeExit());
}
