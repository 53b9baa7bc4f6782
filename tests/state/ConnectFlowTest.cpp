#include "FlowTestSupport.h"
#include "OneShotEvent.h"
#include "OrvaneRuntimeError.h"
#include "RunTask.h"
#include "StateFixture.h"
#include "TunnelCoordinatorError.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using dev::DevService;

namespace {

QCoro::Task<TunnelActivation> failingFor(QString endpointId, QString text,
                                         ProtocolConfiguration configuration) {
    if (configuration.endpointId == endpointId) {
        throw OrvaneRuntimeError::connectionFailed(text);
    }
    TunnelActivation activation;
    activation.proxyPort = 19091;
    activation.recoveryNotes << QStringLiteral("已清理旧的本地代理设置。");
    co_return activation;
}

QStringList stages(const QJsonObject& report) {
    QStringList out;
    for (const QJsonValue& entry : report.value(QStringLiteral("stateLog")).toArray()) {
        out << entry.toObject().value(QStringLiteral("stage")).toString();
    }
    return out;
}

} // namespace

TEST(ConnectFlow, FirstCandidateFailsSecondConnects) {
    StateFixture f;
    AppState& state = signedIn(f);
    f.tunnel->onConnect = [](ProtocolConfiguration c) {
        return failingFor(QStringLiteral("hk-01"), QStringLiteral("sing-box 启动失败。"), c);
    };
    runTask(state.toggleConnection());

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("sg-01"));
    EXPECT_EQ(state.localProxyPort(), 19091);
    EXPECT_FALSE(state.isBusy());
    ASSERT_TRUE(state.quickConnectCache());
    EXPECT_EQ(state.quickConnectCache()->endpointId, QStringLiteral("sg-01"));
    EXPECT_EQ(state.endpointQualityStats().value(QStringLiteral("hk-01")).consecutiveFailures, 1);
    EXPECT_EQ(state.endpointQualityStats().value(QStringLiteral("sg-01")).successfulConnections, 1);

    QStringList log = f.logMessages();
    std::reverse(log.begin(), log.end());
    const auto failedAt = log.indexOf(QStringLiteral("香港 连接失败：sing-box 启动失败。"));
    ASSERT_GE(failedAt, 0);
    EXPECT_EQ(log.mid(failedAt + 1, 2),
              QStringList({QStringLiteral("正在自动切换到下一个可用节点。"),
                           QStringLiteral("正在生成 新加坡 多协议配置。")}));
    EXPECT_TRUE(log.contains(QStringLiteral("sing-box 内核已连接：新加坡。")));
    EXPECT_TRUE(log.contains(QStringLiteral("已清理旧的本地代理设置。")));

    const auto reports = f.service.connectionReports();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reportLine(reports[0]), QStringList({"failed", "hk-01", "kernel_start",
                                                   "KERNEL_START_FAILED"}));
    EXPECT_EQ(reportLine(reports[1]), QStringList({"connected", "sg-01", "connected", "OK"}));
    EXPECT_EQ(stages(reports[1]),
              QStringList({"auth_check", "device_bind", "config_prepare", "node_ready_wait",
                           "kernel_start", "kernel_start", "config_prepare", "node_ready_wait",
                           "kernel_start", "quick_verify", "connected"}));
    const QString attempt = reports[1].value(QStringLiteral("attemptId")).toString();
    EXPECT_TRUE(attempt.startsWith(QStringLiteral("att_")) && attempt.size() == 22);
    EXPECT_EQ(reports[1].value(QStringLiteral("_headers"))
                  .toObject()
                  .value(QStringLiteral("x-orvane-attempt-id"))
                  .toString(),
              attempt);
    EXPECT_TRUE(f.service.crashReports().isEmpty());
    // The keep-alive waits one full interval before its first probe.
    EXPECT_EQ(f.longSleepsStarted, 1);
    EXPECT_EQ(f.sleeps.last(), std::chrono::seconds(60));
    EXPECT_FALSE(f.tunnel->calls.join(QLatin1Char(' ')).contains(QStringLiteral("health")));
}

TEST(ConnectFlow, LocalEnvironmentErrorStopsTheWalk) {
    StateFixture f;
    AppState& state = signedIn(f);
    f.tunnel->onConnect = [](ProtocolConfiguration c) {
        return failingFor(QStringLiteral("hk-01"),
                          QStringLiteral("本地代理端口 19090 已被其他程序占用。"), c);
    };
    runTask(state.toggleConnection());

    const QString text =
        QStringLiteral("已尝试 香港 VLESS，仍未连通。本地代理端口 19090 已被其他程序占用。");
    EXPECT_EQ(state.connectionState(), ConnectionState::failed(text));
    EXPECT_EQ(state.alertMessage(), text);
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_EQ(f.tunnel->calls.last(), QStringLiteral("cleanup(1)"));
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("检测到本机连接环境问题，已停止自动重试。")));
    EXPECT_FALSE(f.logMessages().contains(QStringLiteral("正在自动切换到下一个可用节点。")));
    EXPECT_EQ(f.service.connectionReports().size(), 1);

    const auto crashes = f.service.crashReports();
    ASSERT_EQ(crashes.size(), 1);
    EXPECT_EQ(crashes[0].value(QStringLiteral("crashType")).toString(),
              QStringLiteral("macos-connection"));
    EXPECT_EQ(crashes[0].value(QStringLiteral("reason")).toString(), text);
    const QString diagnostics = crashes[0].value(QStringLiteral("diagnostics")).toString();
    EXPECT_EQ(diagnostics.split(QLatin1Char('\n')).size(), 12);
}

TEST(ConnectFlow, PollingBoundaries) {
    // No maximum wait: the deadline is 1 s after the first answer, so after one 1.5 s wait
    // every node times out and the walk tries them all.
    {
        DevService::Options options;
        options.configReadyAfterPolls = 5;
        options.configMaxWaitMs = 0;
        StateFixture f(options);
        f.advanceClockOnSleep = true;
        AppState& state = signedIn(f);
        f.sleeps.clear();
        runTask(state.toggleConnection());
        EXPECT_EQ(f.sleeps, QList<std::chrono::milliseconds>(4, std::chrono::milliseconds(1500)));
        EXPECT_TRUE(state.connectionState().message().endsWith(
            QStringLiteral("仍未连通。节点凭证同步超时，请稍后重试或切换节点。")));
        const auto reports = f.service.connectionReports();
        ASSERT_EQ(reports.size(), 4);
        EXPECT_EQ(reportLine(reports[3]),
                  QStringList({"failed", "jp-01", "fallback", "UNKNOWN_FAILURE"}));
        EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("connect(")).isEmpty());
    }
    // The wait between polls stays within 1.5 and 3 s whatever the service asks for.
    const QList<std::pair<int, int>> waits{{500, 1500}, {2000, 2000}, {10000, 3000}, {0, 1500}};
    for (const auto& [retryAfter, expected] : waits) {
        DevService::Options options;
        options.configRetryAfterMs = retryAfter;
        StateFixture f(options);
        AppState& state = signedIn(f);
        f.sleeps.clear();
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_EQ(f.sleeps.first(), std::chrono::milliseconds(expected)) << retryAfter;
    }
    // Trace entries and log lines at the first poll and every fifth only.
    {
        DevService::Options options;
        options.configReadyAfterPolls = 15;
        StateFixture f(options);
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        const QStringList waitLines =
            f.logMessages().filter(QStringLiteral("节点凭证同步中，正在等待服务端生效"));
        EXPECT_EQ(waitLines, QStringList({"节点凭证同步中，正在等待服务端生效（15）。",
                                          "节点凭证同步中，正在等待服务端生效（10）。",
                                          "节点凭证同步中，正在等待服务端生效（5）。",
                                          "节点凭证同步中，正在等待服务端生效（1）。"}));
        EXPECT_EQ(stages(f.service.connectionReports().last()).count("node_ready_wait"), 4);
    }
}

TEST(ConnectFlow, KeepAliveFailuresRecoverAtMostTwice) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    f.tunnel->onHealthCheck = webCheckFails;

    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("连接保活异常（1/2）：网页连通性检测失败。"));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(reportLine(f.service.connectionReports().last()),
              QStringList({"failed", "hk-01", "quick_verify", "QUICK_VERIFY_FAILED"}));

    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("连接保活异常（2/2）：网页连通性检测失败。")));
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("已自动切换到 新加坡 SG Stable 01。")));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("sg-01"));
    const auto switched = f.service.connectionReports().last();
    EXPECT_EQ(reportLine(switched), QStringList({"connected", "sg-01", "connected", "OK"}));
    // The recovery stays in the trace of the attempt that connected.
    EXPECT_EQ(stages(switched).first(), QStringLiteral("auth_check"));
    EXPECT_TRUE(stages(switched).contains(QStringLiteral("fallback")));

    // The new loop probes the new node; its second failure makes the second switch.
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(f.service.connectionReports().last().value(QStringLiteral("endpointId")),
              QStringLiteral("sg-01"));
    ASSERT_TRUE(runKeepAlivePass(f));
    const auto second = state.selectedEndpointId();
    EXPECT_NE(second, QStringLiteral("sg-01"));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);

    // No third switch: the limit line, and the loop goes on counting.
    ASSERT_TRUE(runKeepAlivePass(f));
    ASSERT_TRUE(runKeepAlivePass(f));
    ASSERT_TRUE(runKeepAlivePass(f));
    const QString limit =
        QStringLiteral("连接保活异常，但本次连接已达到自动切线次数上限，请手动刷新或切换节点。");
    EXPECT_EQ(f.logMessages().mid(0, 4),
              QStringList({limit, QStringLiteral("连接保活异常（3/2）：网页连通性检测失败。"), limit,
                           QStringLiteral("连接保活异常（2/2）：网页连通性检测失败。")}));
    EXPECT_EQ(state.selectedEndpointId(), second);
    EXPECT_TRUE(f.service.crashReports().isEmpty());
}

TEST(ConnectFlow, RecoveryWithoutWorkingNodeLeavesNothingConnected) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    f.tunnel->onConnect = [](ProtocolConfiguration c) {
        return failingFor(c.endpointId, QStringLiteral("address already in use"), c);
    };
    ASSERT_TRUE(runKeepAlivePass(f));
    const int before = f.longSleepsStarted;
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    const QString message = QStringLiteral("已尝试 新加坡 VLESS，address already in use");
    EXPECT_EQ(state.connectionState(), ConnectionState::failed(QStringLiteral("自动恢复失败：") +
                                                               message));
    EXPECT_EQ(state.alertMessage(), message);
    EXPECT_FALSE(state.connectedAt());
    EXPECT_FALSE(state.aiProxyReady());
    EXPECT_EQ(f.longSleepsStarted, before);
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("检测到本机连接环境问题，已停止自动恢复。")));
    const auto crashes = f.service.crashReports();
    ASSERT_EQ(crashes.size(), 1);
    EXPECT_EQ(crashes[0].value(QStringLiteral("crashType")).toString(),
              QStringLiteral("macos-auto-recovery"));
}

TEST(ConnectFlow, SystemProxyFailureEndsTheConnection) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    const QString summary = QStringLiteral("系统代理未生效：重新设置后仍为空。");
    f.tunnel->onHealthCheck = [summary]() -> QCoro::Task<TunnelHealthCheck> {
        co_return TunnelHealthCheck{false, summary};
    };
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState(), ConnectionState::failed(summary));
    EXPECT_FALSE(state.connectedAt());
    EXPECT_EQ(state.currentConfigPath(),
              QStringLiteral("系统代理未生效，Orvane 已停止当前连接状态。"));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("系统代理未生效，已尝试重新设置但仍为空。请允许 "
                                                   "Orvane 修改系统代理后重新连接。"));
    EXPECT_EQ(f.tunnel->calls.last(), QStringLiteral("cleanup(1)"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("连接保活异常（1/2）：") + summary);
    EXPECT_EQ(f.longSleepsStarted, 1);
}

TEST(ConnectFlow, ConnectPressedDuringTheKeepAlivesTakeDownWaitsForIt) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = []() -> QCoro::Task<TunnelHealthCheck> {
        co_return TunnelHealthCheck{false, QStringLiteral("系统代理未生效：重新设置后仍为空。")};
    };
    OneShotEvent cleanedUp;
    f.tunnel->onCleanup = [&cleanedUp](bool) -> QCoro::Task<void> { co_await cleanedUp.wait(); };
    f.releaseLongSleeps();
    ASSERT_TRUE(waitUntil([&] { return f.tunnel->calls.last() == QStringLiteral("cleanup(1)"); }));
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::failed);

    // The user presses connect while the failed connection is still being taken down.
    f.tunnel->onCleanup = nullptr;
    const qsizetype before = f.tunnel->calls.size();
    QCoro::Task<void> press = state.toggleConnection();
    EXPECT_EQ(f.tunnel->calls.size(), before);
    cleanedUp.set();
    runTask(std::move(press));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_TRUE(f.tunnel->mode.has_value());
    runTask(state.cleanupBeforeExit());
}

TEST(ConnectFlow, DisconnectReportsAndStopsTheKeepAlive) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    ASSERT_EQ(state.runningTaskCount(), 1);
    runTask(state.toggleConnection());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_FALSE(state.connectedAt());
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("连接已断开。"));
    const auto report = f.service.connectionReports().last();
    EXPECT_EQ(reportLine(report), QStringList({"disconnected", "hk-01", "rollback", "OK"}));
    const QJsonArray trace = report.value(QStringLiteral("stateLog")).toArray();
    EXPECT_EQ(trace[trace.size() - 2].toObject().value(QStringLiteral("message")).toString(),
              QStringLiteral("用户请求断开连接。"));
    EXPECT_EQ(trace.last().toObject().value(QStringLiteral("message")).toString(),
              QStringLiteral("连接已断开。"));
}

TEST(ConnectFlow, DisconnectDuringTheConnectStopsIt) {
    StateFixture f;
    AppState& state = signedIn(f);
    f.tunnel->calls.clear();
    // The device refresh that ends the connect fails; the user disconnects as the keep-alive
    // starts, just before that refresh.
    f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        DevService::Fault fault;
        fault.method = QStringLiteral("GET");
        fault.path = QStringLiteral("/devices");
        fault.status = 503;
        f.service.addFault(fault);
        co_return TunnelActivation{};
    };
    bool pressed = false;
    f.onSleep = [&](std::chrono::milliseconds duration) {
        if (duration >= std::chrono::seconds(30) && !pressed) {
            pressed = true;
            state.spawn(state.toggleConnection());
        }
    };
    runTask(state.toggleConnection());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
    ASSERT_TRUE(pressed);

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_FALSE(state.connectedAt());
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.alertMessage());
    EXPECT_FALSE(f.tunnel->mode);
    EXPECT_EQ(f.tunnel->calls,
              QStringList({"cleanup(1)", "connect(hk-01,0)", QStringLiteral("disconnect")}));
    const auto reports = f.service.connectionReports();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reportLine(reports[0]), QStringList({"connected", "hk-01", "connected", "OK"}));
    EXPECT_EQ(reportLine(reports[1]), QStringList({"disconnected", "hk-01", "rollback", "OK"}));
    EXPECT_EQ(state.endpointQualityStats().value(QStringLiteral("hk-01")).failedConnections, 0);
    EXPECT_TRUE(f.service.crashReports().isEmpty());
    EXPECT_EQ(f.longSleepsStarted, 1);
}

TEST(ConnectFlow, ExitDuringNodeStartTakesItDownAndStartsNothing) {
    StateFixture f;
    AppState& state = signedIn(f);
    f.tunnel->onConnect = [&state](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        state.spawn(state.cleanupBeforeExit());
        co_await sleepFor(std::chrono::milliseconds(20));
        co_return TunnelActivation{};
    };
    runTask(state.toggleConnection());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_FALSE(f.tunnel->mode);
    EXPECT_EQ(f.tunnel->calls.last(), QStringLiteral("cleanup(0)"));
    EXPECT_FALSE(state.alertMessage());
    EXPECT_TRUE(f.service.connectionReports().isEmpty());
    EXPECT_TRUE(f.service.crashReports().isEmpty());
    EXPECT_EQ(f.longSleepsStarted, 0);

    const auto calls = f.tunnel->calls.size();
    runTask(state.toggleConnection());
    EXPECT_EQ(f.tunnel->calls.size(), calls);
}

TEST(ConnectFlow, ExitDuringPollingStopsAtTheNextWait) {
    DevService::Options options;
    options.configReadyAfterPolls = 5;
    StateFixture f(options);
    AppState& state = signedIn(f);
    f.onSleep = [&state](std::chrono::milliseconds) { state.spawn(state.cleanupBeforeExit()); };
    f.service.clearRequests();
    runTask(state.toggleConnection());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    int polls = 0;
    for (const auto& request : f.service.requests()) {
        polls += request.path.endsWith(QStringLiteral("/protocol-config")) ? 1 : 0;
    }
    EXPECT_EQ(polls, 1);
    EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("connect(")).isEmpty());
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_TRUE(f.service.connectionReports().isEmpty());
    EXPECT_TRUE(f.service.crashReports().isEmpty());
}

TEST(ConnectFlow, ExitWaitsForANodeStartOnlyUntilItsDeadline) {
    StateFixture f;
    AppState& state = signedIn(f);
    // A start that notices the exit late, and an exit clean-up that takes 800 ms.
    OneShotEvent startEnds;
    f.tunnel->onConnect = [&startEnds](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        co_await startEnds.wait();
        co_return TunnelActivation{};
    };
    f.tunnel->onCleanup = [&f](bool allowAuthorization) -> QCoro::Task<void> {
        if (!allowAuthorization) {
            f.monotonicMs += 800;
        }
        co_return;
    };
    QCoro::Task<void> press = state.toggleConnection();
    ASSERT_TRUE(
        waitUntil([&] { return !f.tunnel->calls.filter(QStringLiteral("connect(")).isEmpty(); }));
    f.sleeps.clear();
    runTask(state.cleanupBeforeExit());
    // The exit has 2.5 s in all: after its clean-up, the start gets what is left.
    EXPECT_EQ(f.sleeps, QList<std::chrono::milliseconds>{std::chrono::milliseconds(1700)});
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);

    startEnds.set();
    runTask(std::move(press));
    EXPECT_EQ(f.tunnel->calls.last(), QStringLiteral("cleanup(0)"));
    EXPECT_FALSE(f.tunnel->mode);
    EXPECT_TRUE(f.service.connectionReports().isEmpty());
    EXPECT_EQ(f.longSleepsStarted, 0);
}

TEST(ConnectFlow, FailedDeviceRefreshAfterConnectingLeavesNothingRunning) {
    StateFixture f;
    AppState& state = signedIn(f);
    // From the first node start on, every device refresh fails.
    f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        DevService::Fault fault;
        fault.method = QStringLiteral("GET");
        fault.path = QStringLiteral("/devices");
        fault.times = -1;
        f.service.addFault(fault);
        co_return TunnelActivation{};
    };
    runTask(state.toggleConnection());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::failed);
    EXPECT_TRUE(state.connectionState().message().startsWith(QStringLiteral(
        "已尝试 香港 VLESS、新加坡 VLESS、香港 Hysteria2、日本 Hysteria2，仍未连通。")));
    EXPECT_FALSE(state.connectedAt());
    EXPECT_FALSE(state.aiProxyReady());
    const auto hk = state.endpointQualityStats().value(QStringLiteral("hk-01"));
    EXPECT_EQ(hk.successfulConnections, 1);
    EXPECT_EQ(hk.failedConnections, 1);
    // Four loops were started and each was stopped with its node.
    EXPECT_EQ(f.longSleepsStarted, 4);
    EXPECT_EQ(f.service.connectionReports().size(), 8);
}

TEST(ConnectFlow, KeepAliveFollowsTheNodeAHotReloadSwitchedTo) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    Endpoint sg;
    for (const Endpoint& endpoint : state.endpoints()) {
        if (endpoint.id == QStringLiteral("sg-01")) {
            sg = endpoint;
        }
    }
    state.selectEndpointFromMenu(sg);
    ASSERT_TRUE(waitUntil([&] {
        return f.logMessages().first().startsWith(QStringLiteral("配置已热重载："));
    }));
    f.tunnel->onHealthCheck = webCheckFails;
    // The failure counts against the node now running, not the one the loop began with.
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(reportLine(f.service.connectionReports().last()),
              QStringList({"failed", "sg-01", "quick_verify", "QUICK_VERIFY_FAILED"}));
    runTask(state.cleanupBeforeExit());
}

namespace {

DevService::Fault delayed(const char* method, const char* path, int ms) {
    DevService::Fault fault;
    fault.method = QString::fromLatin1(method);
    fault.path = QString::fromLatin1(path);
    fault.kind = DevService::FaultKind::delay;
    fault.delayMs = ms;
    return fault;
}

} // namespace

// The user disconnects while a keep-alive check is out, and the take-down takes a while: the
// check that comes back is no failure of the node, and nothing recovers the connection.
TEST(ConnectFlow, DisconnectDuringAKeepAliveCheckEndsTheConnection) {
    for (const bool firstCheckFailed : {true, false}) {
        SCOPED_TRACE(firstCheckFailed);
        StateFixture f;
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
        if (firstCheckFailed) {
            f.tunnel->onHealthCheck = []() -> QCoro::Task<TunnelHealthCheck> {
                co_return TunnelHealthCheck{false, QStringLiteral("网页连通性检测失败。")};
            };
            ASSERT_TRUE(runKeepAlivePass(f));
        }
        const QStringList logBefore = f.logMessages();
        const auto reportsBefore = f.service.connectionReports().size();
        const auto statsBefore = state.endpointQualityStats();

        OneShotEvent probeReturns;
        bool probing = false;
        f.tunnel->onHealthCheck = [&]() -> QCoro::Task<TunnelHealthCheck> {
            probing = true;
            co_await probeReturns.wait();
            co_return TunnelHealthCheck{false, QStringLiteral("连接已断开，本次操作已取消。")};
        };
        OneShotEvent takenDown;
        f.tunnel->onDisconnect = [&takenDown]() -> QCoro::Task<void> { co_await takenDown.wait(); };
        f.releaseLongSleeps();
        ASSERT_TRUE(waitUntil([&] { return probing; }));

        QCoro::Task<void> press = state.toggleConnection();
        probeReturns.set();
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnecting);
        EXPECT_TRUE(state.isBusy());
        takenDown.set();
        runTask(std::move(press));

        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
        EXPECT_FALSE(state.isBusy());
        EXPECT_FALSE(f.tunnel->mode);
        EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("connect(sg")).isEmpty());
        EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
        EXPECT_EQ(f.logMessages().mid(1), logBefore);
        EXPECT_EQ(f.logMessages().first(), QStringLiteral("连接已断开。"));
        const auto reports = f.service.connectionReports();
        ASSERT_EQ(reports.size(), reportsBefore + 1);
        EXPECT_EQ(reportLine(reports.last()),
                  QStringList({"disconnected", "hk-01", "rollback", "OK"}));
        EXPECT_EQ(state.endpointQualityStats(), statsBefore);
        EXPECT_TRUE(f.service.crashReports().isEmpty());
        EXPECT_FALSE(state.alertMessage());
    }
}

// A node picked while the connect's last report is out: the keep-alive, a failed reload and a
// disconnect all follow the node that actually runs.
TEST(ConnectFlow, APickDuringTheConnectsReportFollowsTheRunningNode) {
    enum class Reload { succeeds, fails };
    for (const Reload reload : {Reload::succeeds, Reload::fails}) {
        SCOPED_TRACE(static_cast<int>(reload));
        StateFixture f;
        AppState& state = signedIn(f);
        if (reload == Reload::fails) {
            f.tunnel->onReload = [](ProtocolConfiguration) -> QCoro::Task<void> {
                throw OrvaneRuntimeError::connectionFailed(QStringLiteral("内核拒绝了新配置。"));
                co_return;
            };
        }
        f.service.addFault(held("POST", "/client/connection-report"));
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
        ASSERT_TRUE(f.tunnel->calls.contains(QStringLiteral("reload(sg-01)")));
        f.service.releaseHeld();
        runTask(std::move(press));
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 1; }));

        const QString running = reload == Reload::succeeds ? QStringLiteral("sg-01")
                                                           : QStringLiteral("hk-01");
        EXPECT_EQ(state.selectedEndpointId(), running);
        if (reload == Reload::fails) {
            EXPECT_EQ(state.alertMessage(),
                      QStringLiteral("配置热重载失败，当前连接保持不变：内核拒绝了新配置。"));
        }
        ASSERT_TRUE(runKeepAlivePass(f));
        EXPECT_EQ(f.service.connectionReports().last().value(QStringLiteral("endpointId")),
                  running);
        runTask(state.toggleConnection());
        EXPECT_EQ(reportLine(f.service.connectionReports().last()),
                  QStringList({"disconnected", running, "rollback", "OK"}));
    }
}

TEST(ConnectFlow, DisconnectDuringAPicksReloadNamesTheNodeThatRan) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    OneShotEvent reloaded;
    f.tunnel->onReload = [&reloaded](ProtocolConfiguration) -> QCoro::Task<void> {
        co_await reloaded.wait();
    };
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
    ASSERT_TRUE(waitUntil([&] { return f.tunnel->calls.contains(QStringLiteral("reload(sg-01)")); }));

    QCoro::Task<void> press = state.toggleConnection();
    reloaded.set();
    runTask(std::move(press));
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    EXPECT_EQ(reportLine(f.service.connectionReports().last()),
              QStringList({"disconnected", "hk-01", "rollback", "OK"}));
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.alertMessage());
    EXPECT_FALSE(f.logMessages().first().startsWith(QStringLiteral("配置已热重载")));
}

// A disconnect that stops a connect keeps the busy mark for its whole run; a connect pressed
// after it ended is heard even while the stopped one still waits for its last answer.
TEST(ConnectFlow, ADisconnectThatStopsAConnectOwnsTheBusyMark) {
    StateFixture f;
    AppState& state = signedIn(f);
    // The connect's closing device refresh is slow; the user disconnects as the keep-alive
    // starts, just before it, and the take-down is slow too.
    f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        f.service.addFault(delayed("GET", "/devices", 300));
        co_return TunnelActivation{};
    };
    OneShotEvent takenDown;
    f.tunnel->onDisconnect = [&takenDown]() -> QCoro::Task<void> { co_await takenDown.wait(); };
    bool pressed = false;
    f.onSleep = [&](std::chrono::milliseconds duration) {
        if (duration >= std::chrono::seconds(30) && !pressed) {
            pressed = true;
            state.spawn(state.toggleConnection());
        }
    };
    runTask(state.toggleConnection());
    ASSERT_TRUE(pressed);
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnecting);
    EXPECT_TRUE(state.isBusy());
    takenDown.set();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    EXPECT_FALSE(state.isBusy());
}

TEST(ConnectFlow, AConnectPressedAfterADisconnectIsNotHeldBackByTheStoppedOne) {
    StateFixture f;
    AppState& state = signedIn(f);
    f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        f.service.addFault(held("GET", "/devices"));
        co_return TunnelActivation{};
    };
    std::optional<QCoro::Task<void>> disconnect;
    f.onSleep = [&](std::chrono::milliseconds duration) {
        if (duration >= std::chrono::seconds(30) && !disconnect) {
            disconnect.emplace(state.toggleConnection());
        }
    };
    QCoro::Task<void> stopped = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return disconnect.has_value(); }));
    runTask(std::move(*disconnect));
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
    f.tunnel->onConnect = nullptr;
    f.onSleep = nullptr;

    // The stopped connect still waits for its device refresh.
    const qsizetype before = f.tunnel->calls.size();
    runTask(state.toggleConnection());
    EXPECT_EQ(f.tunnel->calls.mid(before),
              QStringList({"cleanup(1)", "connect(hk-01,0)"}));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_FALSE(state.isBusy());

    // Its late answer changes nothing.
    f.service.releaseHeld();
    runTask(std::move(stopped));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_TRUE(f.tunnel->mode.has_value());
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}

// A node picked while a keep-alive check is out: the check probed a node in change, so its
// failure neither counts against a node nor starts a recovery that would undo the pick.
TEST(ConnectFlow, APickDuringAKeepAliveCheckIsNotUndoneByIt) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    ASSERT_TRUE(runKeepAlivePass(f));
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
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    ASSERT_TRUE(waitUntil([&] {
        return f.logMessages().first().startsWith(QStringLiteral("配置已热重载："));
    }));
    probeReturns.set();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 1 && f.longSleepsStarted == 3; }));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_FALSE(f.logMessages().join(QLatin1Char('\n')).contains(QStringLiteral("（2/2）")));
    EXPECT_EQ(state.endpointQualityStats(), statsBefore);
    runTask(state.cleanupBeforeExit());
}

// A connect pressed once the tunnel is down, while the disconnect's report is still out, keeps
// its busy mark when that report comes back.
TEST(ConnectFlow, AConnectPressedDuringTheDisconnectsReportKeepsItsBusyMark) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.service.addFault(held("POST", "/client/connection-report"));
    QCoro::Task<void> disconnect = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);

    OneShotEvent started;
    f.tunnel->onConnect = [&started](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        co_await started.wait();
        co_return TunnelActivation{};
    };
    QCoro::Task<void> connect = state.toggleConnection();
    ASSERT_TRUE(waitUntil([&] { return f.tunnel->calls.last() == QStringLiteral("connect(hk-01,0)"); }));
    f.service.releaseHeld();
    runTask(std::move(disconnect));
    EXPECT_TRUE(state.isBusy());

    started.set();
    runTask(std::move(connect));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}

// A sign-out or a quit while a recovery takes the broken connection down: no other node is
// started and the recovery says nothing more.
TEST(ConnectFlow, SignOutOrQuitDuringARecoveryStartsNothing) {
    enum class Action { signOut, quit };
    for (const Action action : {Action::signOut, Action::quit}) {
        SCOPED_TRACE(static_cast<int>(action));
        StateFixture f;
        AppState& state = signedIn(f);
        runTask(state.toggleConnection());
        f.tunnel->onHealthCheck = webCheckFails;
        ASSERT_TRUE(runKeepAlivePass(f));
        OneShotEvent cleanedUp;
        bool holding = true;
        f.tunnel->onCleanup = [&](bool) -> QCoro::Task<void> {
            if (holding) {
                holding = false;
                co_await cleanedUp.wait();
            }
        };
        f.releaseLongSleeps();
        ASSERT_TRUE(waitUntil([&] { return !holding; }));
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::repairing);
        const auto reports = f.service.connectionReports().size();

        if (action == Action::signOut) {
            runTask(state.logout());
        } else {
            state.spawn(state.cleanupBeforeExit());
        }
        const QStringList log = f.logMessages();
        cleanedUp.set();
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));

        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
        EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
        EXPECT_FALSE(f.tunnel->mode);
        EXPECT_EQ(f.logMessages(), log);
        EXPECT_EQ(f.service.connectionReports().size(), reports);
        EXPECT_TRUE(f.service.crashReports().isEmpty());
        EXPECT_FALSE(state.alertMessage());
    }
}

// --- Choices the user makes while connection work runs ---------------------------------------

// Two quick picks: the first one's configuration comes back last, yet the last pick is what
// runs, what is selected and what the keep-alive probes.
TEST(ConnectFlow, TwoQuickPicksRunTheLastOne) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    f.service.addFault(heldConfigRequest(state));

    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    EXPECT_TRUE(state.isBusy());
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    for (int turn = 0; turn < 20; ++turn) {
        QCoreApplication::processEvents();
    }
    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 1; }));

    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("reload(")),
              QStringList{QStringLiteral("reload(jp-01)")});
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));
    EXPECT_EQ(state.quickConnectCache()->endpointId, QStringLiteral("jp-01"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("配置已热重载：日本 Hysteria2。"));
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.alertMessage());
    ASSERT_TRUE(runKeepAlivePass(f));
    EXPECT_EQ(f.service.connectionReports().last().value(QStringLiteral("endpointId")),
              QStringLiteral("jp-01"));
    runTask(state.cleanupBeforeExit());
}

// A node pick, a mode or an AI mode switched while the node starts: once connected, the
// connection is reloaded to it once, with that change's reason; nothing claims what the start
// did not bring.
TEST(ConnectFlow, ChoicesMadeWhileTheNodeStartsApplyOnceConnected) {
    enum class Change { pick, mode, aiOn };
    for (const Change change : {Change::pick, Change::mode, Change::aiOn}) {
        SCOPED_TRACE(static_cast<int>(change));
        StateFixture f;
        AppState& state = signedIn(f);
        HeldNodeStarts starts(f);
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(starts.untilOneStarts());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::preparing);
        switch (change) {
        case Change::pick:
            state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("sg-01")));
            break;
        case Change::mode:
            state.setOutboundMode(OutboundMode::global);
            break;
        case Change::aiOn:
            state.toggleAIEnhancedMode();
            break;
        }
        starts.release();
        runTask(std::move(press));

        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_FALSE(state.isBusy());
        ASSERT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")),
                  QStringList{QStringLiteral("connect(hk-01,0)")});
        const QString node = change == Change::pick ? QStringLiteral("sg-01")
                                                    : QStringLiteral("hk-01");
        ASSERT_EQ(f.tunnel->calls.filter(QStringLiteral("reload(")),
                  QStringList{QStringLiteral("reload(%1)").arg(node)});
        const ScriptedTunnel::Choices reloaded = f.tunnel->reloadedWith.last();
        EXPECT_EQ(reloaded.outboundMode, state.outboundMode());
        EXPECT_EQ(reloaded.aiEnhancedModeEnabled, state.aiEnhancedModeEnabled());
        EXPECT_EQ(state.selectedEndpointId(), node);
        const QString reason = change == Change::pick   ? QStringLiteral("当前线路已切换")
                               : change == Change::mode ? QStringLiteral("出站模式已切换为 全局代理")
                                                        : QStringLiteral("增强模式已变更");
        EXPECT_TRUE(f.logMessages().contains(reason + QStringLiteral("，正在生成新配置。")));
        // The AI port was never verified on this connection: it is not claimed.
        EXPECT_FALSE(state.aiProxyReady());
        ASSERT_TRUE(runKeepAlivePass(f));
        EXPECT_EQ(f.service.connectionReports().last().value(QStringLiteral("endpointId")), node);
        runTask(state.cleanupBeforeExit());
    }
}

// The system proxy switched while the node starts is, once connected, as the user left it.
TEST(ConnectFlow, SystemProxySwitchedWhileTheNodeStartsHoldsOnceConnected) {
    for (const bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        StateFixture f;
        f.preferences->setBool(QStringLiteral("orvane.systemProxyEnabled"), !enabled);
        AppState& state = signedIn(f);
        HeldNodeStarts starts(f);
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(starts.untilOneStarts());
        runTask(state.setSystemProxyEnabled(enabled));
        // Nothing switches the proxy beneath the start.
        EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("disableLocalProxy")).isEmpty());
        starts.release();
        runTask(std::move(press));

        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_EQ(f.tunnel->startedWith.last().systemProxyEnabled, !enabled);
        EXPECT_EQ(f.tunnel->calls.last(), QStringLiteral("systemProxy(%1,19090)").arg(enabled));
        EXPECT_EQ(f.logMessages().first(), enabled ? QStringLiteral("系统代理已开启。")
                                                   : QStringLiteral("系统代理已关闭。"));
        EXPECT_EQ(state.systemProxyEnabled(), enabled);
        EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("reload(")).isEmpty());
        runTask(state.cleanupBeforeExit());
    }
}

// When bringing the connection to the choice fails, the switch shows what holds.
TEST(ConnectFlow, ASystemProxySwitchThatFailsOnceConnectedIsRolledBack) {
    StateFixture f;
    AppState& state = signedIn(f);
    HeldNodeStarts starts(f);
    f.tunnel->onSetSystemProxy = [](bool, int) -> QCoro::Task<QStringList> {
        throw OrvaneRuntimeError::connectionFailed(QStringLiteral("管理员授权被拒绝。"));
        co_return QStringList{};
    };
    QCoro::Task<void> press = state.toggleConnection();
    ASSERT_TRUE(starts.untilOneStarts());
    runTask(state.setSystemProxyEnabled(false));
    starts.release();
    runTask(std::move(press));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_EQ(f.preferences->boolValue(QStringLiteral("orvane.systemProxyEnabled")), true);
    EXPECT_EQ(state.alertMessage(), QStringLiteral("管理员授权被拒绝。"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("系统代理关闭失败：管理员授权被拒绝。"));
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}

// A node picked while a recovery starts another node stays picked, and runs once it is over.
TEST(ConnectFlow, APickDuringARecoveryRunsOnceItIsOver) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    ASSERT_TRUE(runKeepAlivePass(f));
    HeldNodeStarts starts(f);
    f.releaseLongSleeps();
    ASSERT_TRUE(starts.untilOneStarts());
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::repairing);
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    f.tunnel->onHealthCheck = nullptr;
    starts.release();
    ASSERT_TRUE(waitUntil([&] {
        return state.runningTaskCount() == 1 && f.logMessages().first().startsWith(
                                                    QStringLiteral("配置已热重载："));
    }));

    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")),
              QStringList({"connect(hk-01,0)", "connect(sg-01,0)"}));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("reload(")),
              QStringList{QStringLiteral("reload(jp-01)")});
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    runTask(state.cleanupBeforeExit());
}

// A pick that switched nodes starts the keep-alive's count afresh: one failed check on the old
// node and one on the new one are no reason to leave the node the user just chose.
TEST(ConnectFlow, ANodeSwitchStartsTheKeepAliveCountAfresh) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onHealthCheck = webCheckFails;
    ASSERT_TRUE(runKeepAlivePass(f));
    ASSERT_TRUE(f.logMessages().first().contains(QStringLiteral("（1/2）")));
    state.selectEndpointFromMenu(endpointWithId(state, QStringLiteral("jp-01")));
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 1; }));
    ASSERT_TRUE(runKeepAlivePass(f));

    EXPECT_TRUE(f.logMessages().first().contains(QStringLiteral("（1/2）")));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("jp-01"));
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    runTask(state.cleanupBeforeExit());
}

// --- The busy mark --------------------------------------------------------------------------

// Whatever ends the connection while the connect's last request is still out, the busy mark
// goes with it, stays off when that answer comes back, and the button works again.
TEST(ConnectFlow, EveryEndOfTheConnectionReleasesTheConnectsBusyMark) {
    enum class End { disconnect, signOut, exit, lostSystemProxy, reloadLostSingBox };
    for (const End end : {End::disconnect, End::signOut, End::exit, End::lostSystemProxy,
                          End::reloadLostSingBox}) {
        SCOPED_TRACE(static_cast<int>(end));
        StateFixture f;
        AppState& state = signedIn(f);
        f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
            f.service.addFault(held("GET", "/devices"));
            co_return TunnelActivation{};
        };
        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        ASSERT_TRUE(state.isBusy());
        f.tunnel->onConnect = nullptr;

        switch (end) {
        case End::disconnect:
            runTask(state.toggleConnection());
            break;
        case End::signOut:
            runTask(state.logout());
            break;
        case End::exit:
            runTask(state.cleanupBeforeExit());
            break;
        case End::lostSystemProxy:
            f.tunnel->onHealthCheck = []() -> QCoro::Task<TunnelHealthCheck> {
                co_return TunnelHealthCheck{false, QStringLiteral("系统代理未生效：重新设置后仍为空。")};
            };
            f.releaseLongSleeps();
            break;
        case End::reloadLostSingBox:
            f.tunnel->onReload = [](ProtocolConfiguration) -> QCoro::Task<void> {
                throw TunnelCoordinatorError::reloadRollbackFailed(QStringLiteral("sing-box 已退出"));
                co_return;
            };
            state.toggleAIEnhancedMode();
            break;
        }
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
        EXPECT_NE(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_FALSE(state.isBusy());
        f.service.releaseHeld();
        runTask(std::move(press));
        EXPECT_FALSE(state.isBusy());
        if (end == End::signOut || end == End::exit) {
            continue;
        }
        f.tunnel->onHealthCheck = nullptr;
        f.tunnel->onReload = nullptr;
        runTask(state.toggleConnection());
        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_FALSE(state.isBusy());
        runTask(state.cleanupBeforeExit());
    }
}

// A reload that lost sing-box takes the connection down; a connect pressed meanwhile waits for
// that take-down and keeps its busy mark for its whole run.
TEST(ConnectFlow, AConnectWaitingForALostReloadsTakeDownKeepsItsBusyMark) {
    StateFixture f;
    AppState& state = signedIn(f);
    runTask(state.toggleConnection());
    f.tunnel->onReload = [](ProtocolConfiguration) -> QCoro::Task<void> {
        throw TunnelCoordinatorError::reloadRollbackFailed(QStringLiteral("sing-box 已退出"));
        co_return;
    };
    OneShotEvent cleanedUp;
    bool holding = false;
    f.tunnel->onCleanup = [&](bool) -> QCoro::Task<void> {
        holding = true;
        co_await cleanedUp.wait();
    };
    state.toggleAIEnhancedMode();
    ASSERT_TRUE(waitUntil([&] { return holding; }));
    ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::failed);
    f.tunnel->onCleanup = nullptr;

    HeldNodeStarts starts(f);
    QCoro::Task<void> press = state.toggleConnection();
    EXPECT_TRUE(state.isBusy());
    cleanedUp.set();
    ASSERT_TRUE(starts.untilOneStarts());
    EXPECT_TRUE(state.isBusy());
    starts.release();
    runTask(std::move(press));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}

// Signed out while a connect's node start is under way, signed in again and connected: the new
// connect waits for the stopped start's take-down, which so cannot take the new tunnel down.
TEST(ConnectFlow, AConnectAfterSigningInAgainWaitsForTheStoppedNodeStart) {
    StateFixture f;
    AppState& state = signedIn(f);
    HeldNodeStarts starts(f);
    QCoro::Task<void> stopped = state.toggleConnection();
    ASSERT_TRUE(starts.untilOneStarts());
    runTask(state.logout());
    runTask(state.login(QStringLiteral("demo@orvane.dev"), QStringLiteral("orvane-demo")));
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
    f.tunnel->calls.clear();
    // The new node start is what lets the stopped one end: were the new connect not to wait,
    // the stopped start's take-down would come after it.
    f.tunnel->onConnect = [&starts](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
        starts.release();
        TunnelActivation activation;
        activation.proxyPort = 19090;
        co_return activation;
    };

    QCoro::Task<void> press = state.toggleConnection();
    // It waits: not even its clean-up has begun. The test then ends the stopped start.
    EXPECT_TRUE(f.tunnel->calls.isEmpty());
    if (f.tunnel->calls.isEmpty()) {
        starts.release();
    }
    runTask(std::move(stopped));
    runTask(std::move(press));

    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_TRUE(f.tunnel->mode.has_value());
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}
