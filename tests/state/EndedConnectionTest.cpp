// A connection that ended stays ended: what its flows finish late (a disconnect's take-down, a
// change asked for before the end) neither reaches the next connection nor records anything.
#include "FlowTestSupport.h"
#include "TunnelCoordinatorError.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

using namespace orvane;
using namespace orvane::test;
using dev::DevService;

namespace {

std::string text(const QStringList& values) {
    return values.join(QStringLiteral(" | ")).toStdString();
}

// The state's case by name, with a failure's message, as gtest prints it readably.
std::string stateName(const AppState& state) {
    const ConnectionState& now = state.connectionState();
    std::string name = orvane::test::stateName(now.stateCase()).toStdString();
    if (now.stateCase() == ConnectionState::Case::failed) {
        name += ": " + now.message().toStdString();
    }
    return name;
}

QCoro::Task<void> atOnce() {
    co_return;
}

QCoro::Task<void> untilReleased(std::shared_ptr<OneShotEvent> released,
                                std::optional<QString> failure) {
    co_await released->wait();
    if (failure) {
        throw TunnelCoordinatorError::commandFailed(*failure);
    }
}

// The tunnel's disconnect calls, the first `count` of them each held until its own release;
// later ones return at once. The first one may fail once released.
class HeldDisconnects {
public:
    HeldDisconnects(StateFixture& f, int count, std::optional<QString> firstFails = std::nullopt)
        : m_gates(std::make_shared<Gates>()) {
        m_gates->count = count;
        m_gates->firstFails = std::move(firstFails);
        // Not a coroutine itself: the waiting frame owns its event, not this lambda.
        f.tunnel->onDisconnect = [gates = m_gates]() -> QCoro::Task<void> {
            if (gates->held.size() >= gates->count) {
                return atOnce();
            }
            const std::optional<QString> failure =
                gates->held.isEmpty() ? gates->firstFails : std::nullopt;
            gates->held.append(std::make_shared<OneShotEvent>());
            return untilReleased(gates->held.last(), failure);
        };
    }
    qsizetype held() const { return m_gates->held.size(); }
    void release(qsizetype index) { m_gates->held.at(index)->set(); }
    void releaseAll() {
        for (const auto& event : m_gates->held) {
            event->set();
        }
    }

private:
    struct Gates {
        qsizetype count = 0;
        std::optional<QString> firstFails;
        QList<std::shared_ptr<OneShotEvent>> held;
    };
    std::shared_ptr<Gates> m_gates;
};

void signIn(AppState& state) {
    runTask(state.login(QString::fromLatin1(DevService::kDemoEmail),
                        QString::fromLatin1(DevService::kDemoPassword)));
}

// Presses connect while the user's disconnect (the first held take-down) is still out; every
// other held take-down ends first. A connect that goes on at once is let connect, so the late
// end lands on the new connection. Returns the tunnel calls made before the disconnect ended.
QStringList connectBeforeTheDisconnectEnds(StateFixture& f, HeldDisconnects& takeDowns,
                                           const QCoro::Task<void>& disconnect) {
    const qsizetype before = f.tunnel->calls.size();
    QCoro::Task<void> press = f.state->toggleConnection();
    for (qsizetype i = 1; i < takeDowns.held(); ++i) {
        takeDowns.release(i);
    }
    // A release resumes its waiter on a later turn of the loop; no request is involved yet.
    for (int turn = 0; turn < 20; ++turn) {
        QCoreApplication::processEvents();
    }
    // It went on without waiting: let it connect first, so the late end comes after it.
    if (f.tunnel->calls.size() > before) {
        waitUntil([&] { return press.isReady(); });
    }
    const QStringList whileHeld = f.tunnel->calls.mid(before);
    takeDowns.releaseAll();
    EXPECT_TRUE(waitUntil([&] { return press.isReady() && disconnect.isReady(); }));
    EXPECT_TRUE(untilAtRest(f));
    return whileHeld;
}

// The new connection runs, and nothing the ended one said came after it.
void expectTheNextConnectionRuns(const StateFixture& f, const QStringList& whileHeld) {
    const AppState& state = *f.state;
    EXPECT_FALSE(whileHeld.join(QLatin1Char(' ')).contains(QStringLiteral("connect(")))
        << "a node started while the disconnect was still taking the tunnel down: "
        << text(whileHeld);
    EXPECT_EQ(stateName(state), "connected");
    EXPECT_TRUE(state.runningConnection().has_value());
    EXPECT_TRUE(f.tunnel->mode.has_value());
    EXPECT_EQ(state.runningTaskCount(), 1) << "the keep-alive of the new connection";
    EXPECT_FALSE(state.isBusy());
    EXPECT_EQ(state.alertMessage().value_or(QString()).toStdString(), "");

    QStringList statuses;
    for (const QJsonObject& report : f.service.connectionReports()) {
        statuses << report.value(QStringLiteral("status")).toString();
    }
    EXPECT_EQ(statuses.count(QStringLiteral("connected")), 2) << text(statuses);
    EXPECT_LT(statuses.lastIndexOf(QStringLiteral("disconnected")),
              statuses.lastIndexOf(QStringLiteral("connected")))
        << text(statuses);
}

} // namespace

// --- A disconnect whose take-down ends after a sign-out and in --------------------------

// Connected; the user disconnects, and while the tunnel is still being taken down signs out
// and in again and connects. The new connect starts its node only once the take-down is over,
// and the old disconnect's end, a failure too, says nothing of the new connection: no alert and
// no failed state over the one that works.
TEST(EndedConnection, ALateDisconnectLeavesTheNextConnectionAlone) {
    for (const std::optional<QString>& failure :
         {std::optional<QString>(), std::optional(QStringLiteral("sing-box 停止失败。"))}) {
        SCOPED_TRACE(failure.value_or(QStringLiteral("it succeeds")).toStdString());
        StateFixture f;
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        HeldDisconnects takeDowns(f, 1, failure);
        QCoro::Task<void> disconnect = state.toggleConnection();
        ASSERT_EQ(takeDowns.held(), 1);
        runTask(state.logout());
        signIn(state);

        const QStringList whileHeld = connectBeforeTheDisconnectEnds(f, takeDowns, disconnect);
        expectTheNextConnectionRuns(f, whileHeld);
        runTask(state.cleanupBeforeExit());
    }
}

// The same where the sign-out was still waiting for the service when disconnect was pressed:
// its own take-down begins after the disconnect's, and ends before it.
TEST(EndedConnection, ADisconnectPressedDuringTheSignOutLeavesTheNextConnectionAlone) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    HeldDisconnects takeDowns(f, 2);
    f.service.addFault(held("POST", "/auth/logout"));
    QCoro::Task<void> signOut = state.logout();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    QCoro::Task<void> disconnect = state.toggleConnection();
    ASSERT_EQ(takeDowns.held(), 1);
    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return signOut.isReady(); }));
    signIn(state);

    const QStringList whileHeld = connectBeforeTheDisconnectEnds(f, takeDowns, disconnect);
    expectTheNextConnectionRuns(f, whileHeld);
    runTask(state.cleanupBeforeExit());
}

// The disconnect's report is still out when the user signs out, in again, and connects: once
// it is answered, the log says nothing of a disconnect below the new connection.
TEST(EndedConnection, ADisconnectsLateReportSaysNothingOfTheNextConnection) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.service.addFault(held("POST", "/client/connection-report"));
    QCoro::Task<void> disconnect = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    runTask(state.logout());
    signIn(state);
    runTask(state.toggleConnection());
    ASSERT_EQ(stateName(state), "connected");

    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return disconnect.isReady(); }));
    ASSERT_TRUE(untilAtRest(f));
    const QStringList log = f.logMessages(); // newest first
    const qsizetype disconnected = log.indexOf(QStringLiteral("连接已断开。"));
    EXPECT_TRUE(disconnected == -1 ||
                disconnected > log.indexOf(QStringLiteral("sing-box 内核已连接：香港。")))
        << text(log);
    EXPECT_EQ(stateName(state), "connected");
    runTask(state.cleanupBeforeExit());
}

// The disconnect's take-down fails after a sign-out took over: the state, the alert and the
// reports stay the sign-out's, but the log still says why the proxy may point nowhere.
TEST(EndedConnection, AFailedDisconnectOvertakenByASignOutIsStillLogged) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    HeldDisconnects takeDowns(f, 1, QStringLiteral("系统代理恢复失败。"));
    QCoro::Task<void> disconnect = state.toggleConnection();
    ASSERT_EQ(takeDowns.held(), 1);
    runTask(state.logout());
    const qsizetype reports = f.service.connectionReports().size();

    takeDowns.releaseAll();
    ASSERT_TRUE(waitUntil([&] { return disconnect.isReady(); }));
    EXPECT_EQ(f.logMessages().first().toStdString(), "断开连接失败：系统代理恢复失败。");
    EXPECT_EQ(stateName(state), "disconnected");
    EXPECT_EQ(state.alertMessage().value_or(QString()).toStdString(), "");
    EXPECT_EQ(f.service.connectionReports().size(), reports);
}

// --- A change of a connect that failed after its node started -----------------------------

namespace {

// hk-01 starts, and the connect's closing device refresh after it is held; every other node
// fails to start.
QCoro::Task<TunnelActivation> onlyTheFirstNodeStarts(StateFixture* f,
                                                     ProtocolConfiguration configuration) {
    if (configuration.endpointId != QStringLiteral("hk-01")) {
        throw OrvaneRuntimeError::connectionFailed(QStringLiteral("sing-box 启动失败。"));
    }
    f->service.addFault(held("GET", "/devices"));
    TunnelActivation activation;
    activation.proxyPort = 19090;
    co_return activation;
}

// Connects with only hk-01 starting and its closing device refresh held; returns that
// refresh's id once the state says connected.
quint64 connectedWithTheLastRefreshHeld(StateFixture& f, QCoro::Task<void>& press) {
    f.tunnel->onConnect = [&f](ProtocolConfiguration configuration) {
        return onlyTheFirstNodeStarts(&f, std::move(configuration));
    };
    press = f.state->toggleConnection();
    EXPECT_TRUE(waitUntil([&] {
        return f.service.heldCount() == 1 &&
               f.state->connectionState().stateCase() == ConnectionState::Case::connected;
    }));
    return f.service.heldRequests().first().id;
}

// `change` is made while that refresh is out, its configuration request held too. The refresh
// fails, and so does every other node: returns once the connect has ended, that request held.
void changeWhileTheLastRefreshIsOut(StateFixture& f, const std::function<void()>& change) {
    QCoro::Task<void> press;
    const quint64 refresh = connectedWithTheLastRefreshHeld(f, press);
    f.service.addFault(heldConfigRequest(*f.state));
    change();
    EXPECT_TRUE(waitUntil([&] { return f.service.heldCount() == 2; }));
    EXPECT_TRUE(f.service.releaseHeld(refresh, 500));
    EXPECT_TRUE(waitUntil([&] { return press.isReady(); }));
}

} // namespace

// The connect's last device refresh is out while the state says connected, and the mode is
// switched: its reload waits for its configuration. The refresh fails, and so does every other
// node; the configuration answers after that. Nothing is recorded as running and the tunnel
// reloads nothing.
TEST(EndedConnection, AChangeOfAConnectThatFailedAfterItsNodeStartedRecordsNothing) {
    StateFixture f;
    AppState& state = signedIn(f);
    changeWhileTheLastRefreshIsOut(f, [&] { state.setOutboundMode(OutboundMode::global); });
    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0 && !state.isBusy(); }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::failed)
        << stateName(state);
    EXPECT_FALSE(state.runningConnection().has_value())
        << "recorded as running: " << state.runningConnection()->endpoint.id.toStdString();
    EXPECT_EQ(text(f.tunnel->calls.filter(QStringLiteral("reload("))), "");
    EXPECT_FALSE(f.tunnel->mode.has_value());
    runTask(state.cleanupBeforeExit());
}

// The same with a pick of us-01, which the connect never tries: its reload's first poll
// answers "not ready" only once the connect has failed. The polling stops there, asks no
// more and writes nothing into the records the next reports carry.
TEST(EndedConnection, AReloadOfAConnectThatFailedStopsPolling) {
    StateFixture f;
    AppState& state = signedIn(f);
    changeWhileTheLastRefreshIsOut(
        f, [&] { state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("us-01"))); });
    f.service.clearRequests();
    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0 && !state.isBusy(); }));
    EXPECT_EQ(f.service.requests().size(), 0) << "the poll went on";
    for (const QMap<QString, QString>& entry : state.currentStateLog()) {
        EXPECT_FALSE(entry.value(QStringLiteral("stage")) == QStringLiteral("node_ready_wait") &&
                     entry.value(QStringLiteral("endpointId")) == QStringLiteral("us-01"));
    }
    runTask(state.cleanupBeforeExit());
}

// The system proxy switched on while the connect's last refresh is out; the refresh fails,
// ending that connection, and then the switch's call fails too. The switch says nothing, and
// the user's choice stays on for the next node.
TEST(EndedConnection, AProxySwitchOfAnEndedConnectionLeavesTheChoiceToTheNextNode) {
    StateFixture f;
    f.preferences->setBool(QStringLiteral("orvane.systemProxyEnabled"), false);
    AppState& state = signedIn(f);
    QCoro::Task<void> press;
    const quint64 refresh = connectedWithTheLastRefreshHeld(f, press);
    f.tunnel->onConnect = nullptr; // the next node starts
    HeldProxySwitch proxySwitch(f);
    proxySwitch.failure = QStringLiteral("管理员授权被拒绝。");
    QCoro::Task<void> change = state.setSystemProxyEnabled(true);
    ASSERT_TRUE(proxySwitch.untilItSwitches());
    f.tunnel->calls.clear();

    ASSERT_TRUE(f.service.releaseHeld(refresh, 500));
    ASSERT_TRUE(waitUntil([&] { return f.tunnel->calls.contains(QStringLiteral("cleanup(1)")); }));
    proxySwitch.release();
    ASSERT_TRUE(waitUntil([&] { return press.isReady() && change.isReady(); }));
    ASSERT_TRUE(untilAtRest(f));

    EXPECT_EQ(stateName(state), "connected");
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_EQ(f.preferences->boolValue(QStringLiteral("orvane.systemProxyEnabled")), true);
    ASSERT_TRUE(state.runningConnection().has_value());
    EXPECT_TRUE(state.runningConnection()->systemProxyEnabled);
    EXPECT_TRUE(f.tunnel->runsSystemProxy);
    EXPECT_EQ(state.alertMessage().value_or(QString()).toStdString(), "");
    EXPECT_EQ(text(f.logMessages().filter(QStringLiteral("系统代理开启失败"))), "");
    runTask(state.cleanupBeforeExit());
}

// --- A recovery that began during the connect's last device refresh ----------------------

namespace {

// The first node starts and holds the connect's closing device refresh; later starts succeed.
QCoro::Task<TunnelActivation> firstStartHoldsTheRefresh(StateFixture* f, int* starts,
                                                        ProtocolConfiguration) {
    if ((*starts)++ == 0) {
        f->service.addFault(held("GET", "/devices"));
    }
    TunnelActivation activation;
    activation.proxyPort = 19090;
    co_return activation;
}

} // namespace

// The keep-alive's checks fail while that refresh is out, and its recovery switches node. The
// refresh then fails: the recovery owns the connection, so the connect neither cleans up nor
// tries another node beside it.
TEST(EndedConnection, ARecoveryBegunDuringTheConnectsLastRefreshOwnsTheConnection) {
    StateFixture f;
    AppState& state = signedIn(f);
    int starts = 0;
    f.tunnel->onConnect = [&f, &starts](ProtocolConfiguration c) {
        return firstStartHoldsTheRefresh(&f, &starts, std::move(c));
    };
    f.tunnel->onHealthCheck = webCheckFails;
    QCoro::Task<void> connect = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    ASSERT_TRUE(runKeepAlivePassBeside(f));
    ASSERT_TRUE(runKeepAlivePassBeside(f));
    ASSERT_TRUE(waitUntil([&] { return starts == 2; }));
    ASSERT_TRUE(waitUntil([&] {
        return state.connectionState().stateCase() == ConnectionState::Case::connected;
    }));
    const QString recovered = state.runningConnection()->endpoint.id;
    f.tunnel->calls.clear();

    f.service.releaseHeld(f.service.heldRequests().first().id, 500);
    ASSERT_TRUE(waitUntil([&] { return connect.isReady(); }));
    ASSERT_TRUE(untilAtRest(f));
    EXPECT_EQ(text(f.tunnel->calls.filter(QRegularExpression(QStringLiteral("^(cleanup|connect)")))),
              "");
    EXPECT_EQ(stateName(state), "connected");
    ASSERT_TRUE(state.runningConnection().has_value());
    EXPECT_EQ(state.runningConnection()->endpoint.id.toStdString(), recovered.toStdString());
    EXPECT_TRUE(f.tunnel->mode.has_value());
    EXPECT_FALSE(f.logMessages().contains(QStringLiteral("正在自动切换到下一个可用节点。")));
    runTask(state.cleanupBeforeExit());
}
