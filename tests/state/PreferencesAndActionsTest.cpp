#include "OneShotEvent.h"
#include "OrvaneRuntimeError.h"
#include "RunTask.h"
#include "StateFixture.h"
#include "TunnelCoordinatorError.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using dev::DevService;

namespace {

AppState& connected(StateFixture& f) {
    f.preferences->setString(QStringLiteral("orvane.sessionToken"), f.service.demoToken());
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    runTask(state.toggleConnection());
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    f.tunnel->calls.clear();
    return state;
}

// Detached reloads run on; the keep-alive stays parked in its long sleep.
void settle(AppState& state) {
    waitUntil([&state] { return state.runningTaskCount() <= 1; });
}

QCoro::Task<void> failReload(ProtocolConfiguration) {
    throw OrvaneRuntimeError::connectionFailed(QStringLiteral("sing-box 配置校验失败"));
    co_return;
}

QCoro::Task<QStringList> failProxy(bool, int) {
    throw OrvaneRuntimeError::connectionFailed(QStringLiteral("networksetup 失败"));
    co_return QStringList{};
}

} // namespace

TEST(ConnectionPreferences, ModeChangesReloadInPlaceAndFailuresKeepTheConnection) {
    StateFixture f;
    AppState& state = connected(f);
    const QString node = state.selectedEndpoint().id;

    state.setOutboundMode(OutboundMode::smart);
    EXPECT_TRUE(f.tunnel->calls.isEmpty());

    state.setOutboundMode(OutboundMode::global);
    settle(state);
    EXPECT_EQ(f.preferences->string(QStringLiteral("orvane.outboundMode")), QStringLiteral("global"));
    EXPECT_EQ(f.tunnel->calls, QStringList{QStringLiteral("reload(%1)").arg(node)});
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("已切换出站模式：全局代理。")));
    EXPECT_TRUE(f.logMessages().first().startsWith(QStringLiteral("配置已热重载：")));

    // Direct mode switches the system proxy off first, then reloads.
    f.tunnel->calls.clear();
    state.setOutboundMode(OutboundMode::direct);
    settle(state);
    EXPECT_EQ(f.tunnel->calls,
              (QStringList{QStringLiteral("systemProxy(0,19090)"),
                           QStringLiteral("reload(%1)").arg(node)}));
    EXPECT_FALSE(state.systemProxyEnabled());
    EXPECT_TRUE(f.logMessages().contains(QStringLiteral("系统代理已关闭。")));

    // A reload that fails leaves the connection as it was and says so.
    f.tunnel->onReload = failReload;
    state.toggleAIEnhancedMode();
    settle(state);
    const QString failure = QStringLiteral("配置热重载失败，当前连接保持不变：sing-box 配置校验失败");
    EXPECT_EQ(state.alertMessage(), failure);
    EXPECT_EQ(f.logMessages().first(), failure);
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_TRUE(f.preferences->boolValue(QStringLiteral("orvane.aiEnhancedModeEnabled")).value());
    EXPECT_FALSE(state.isBusy());
    runTask(state.cleanupBeforeExit());
}

// The menus' manual reload with nothing changed: what runs is already what was chosen, yet the
// service is asked for a fresh configuration and the tunnel reloads it.
TEST(ConnectionPreferences, AManualReloadFetchesAFreshConfigurationAndReloads) {
    for (const QString& reason :
         {QStringLiteral("状态栏菜单手动重载配置"), QStringLiteral("菜单手动重载配置")}) {
        SCOPED_TRACE(reason.toStdString());
        StateFixture f;
        AppState& state = connected(f);
        f.service.clearRequests();
        runTask(state.reloadActiveConfiguration(reason));

        qsizetype configRequests = 0;
        for (const DevService::RecordedRequest& request : f.service.requests()) {
            configRequests += request.path.endsWith(QStringLiteral("/protocol-config")) ? 1 : 0;
        }
        EXPECT_EQ(configRequests, 1);
        EXPECT_EQ(f.tunnel->calls.join(QLatin1Char(' ')).toStdString(), "reload(hk-01)");
        EXPECT_TRUE(f.logMessages().contains(reason + QStringLiteral("，正在生成新配置。")));
        EXPECT_EQ(f.logMessages().first().toStdString(), "配置已热重载：香港 VLESS。");
        ASSERT_FALSE(state.currentStateLog().isEmpty());
        EXPECT_EQ(state.currentStateLog().last().value(QStringLiteral("message")).toStdString(),
                  "菜单配置热重载成功。");
        EXPECT_FALSE(state.isBusy());
        runTask(state.cleanupBeforeExit());
    }
}

TEST(ConnectionPreferences, FailedReloadAfterANodePickKeepsTheRunningNode) {
    StateFixture f;
    AppState& state = connected(f);
    ASSERT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));
    f.tunnel->onReload = failReload;
    for (const Endpoint& endpoint : state.endpoints()) {
        if (endpoint.id == QStringLiteral("sg-01")) {
            state.selectEndpointFromMenu(endpoint);
        }
    }
    settle(state);
    EXPECT_EQ(f.tunnel->calls, QStringList{QStringLiteral("reload(sg-01)")});
    EXPECT_EQ(state.alertMessage(),
              QStringLiteral("配置热重载失败，当前连接保持不变：sing-box 配置校验失败"));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("hk-01"));

    // The disconnect names the node that ran.
    runTask(state.toggleConnection());
    EXPECT_EQ(f.service.connectionReports().last().value(QStringLiteral("endpointId")).toString(),
              QStringLiteral("hk-01"));
}

TEST(ConnectionPreferences, ReloadThatLostTheConnectionEndsIt) {
    StateFixture f;
    f.preferences->setBool(QStringLiteral("orvane.aiEnhancedModeEnabled"), true);
    AppState& state = connected(f);
    ASSERT_TRUE(state.aiProxyReady());
    const QString node = state.selectedEndpoint().id;
    f.tunnel->onReload = [](ProtocolConfiguration) -> QCoro::Task<void> {
        throw TunnelCoordinatorError::reloadRollbackFailed(QStringLiteral("sing-box 配置校验失败"));
        co_return;
    };
    state.setOutboundMode(OutboundMode::global);
    settle(state);

    const QString text =
        QStringLiteral("配置热重载失败且未能恢复原配置，连接已中断：sing-box 配置校验失败");
    EXPECT_EQ(state.connectionState(), ConnectionState::failed(text));
    EXPECT_EQ(state.alertMessage(), text);
    EXPECT_EQ(f.logMessages().first(), text);
    EXPECT_FALSE(state.connectedAt());
    EXPECT_FALSE(state.aiProxyReady());
    EXPECT_FALSE(state.isBusy());
    // The runtime is cleaned up, which puts the user's proxy back, and the keep-alive ends.
    EXPECT_EQ(f.tunnel->calls,
              (QStringList{QStringLiteral("reload(%1)").arg(node), QStringLiteral("cleanup(1)")}));
    EXPECT_FALSE(f.tunnel->mode);
    EXPECT_TRUE(waitUntil([&state] { return state.runningTaskCount() == 0; }));
}

TEST(ConnectionPreferences, SystemProxySwitchRollsBackWhenRefused) {
    StateFixture f;
    AppState& state = connected(f);
    f.tunnel->onSetSystemProxy = failProxy;
    runTask(state.setSystemProxyEnabled(false));
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_EQ(f.preferences->boolValue(QStringLiteral("orvane.systemProxyEnabled")), true);
    EXPECT_EQ(state.alertMessage(), QStringLiteral("networksetup 失败"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("系统代理关闭失败：networksetup 失败"));
    runTask(state.cleanupBeforeExit());

    // While disconnected the preference only changes what the next connect does.
    StateFixture idle;
    AppState& off = idle.makeState();
    runTask(off.setSystemProxyEnabled(false));
    EXPECT_EQ(idle.tunnel->calls, QStringList{QStringLiteral("disableLocalProxy(1)")});
    EXPECT_EQ(idle.logMessages().first(), QStringLiteral("系统代理偏好已关闭。"));
    runTask(off.setSystemProxyEnabled(true));
    EXPECT_EQ(idle.logMessages().first(), QStringLiteral("系统代理将在下次连接后启用。"));
    off.setOutboundMode(OutboundMode::enhanced);
    EXPECT_EQ(off.runningTaskCount(), 0);
    EXPECT_EQ(idle.logMessages().first(), QStringLiteral("已切换出站模式：增强模式。"));
}

TEST(AccountActions, FeedbackCarriesTheLogAndRefusesEmptyText) {
    StateFixture f;
    f.preferences->setString(QStringLiteral("orvane.sessionToken"), f.service.demoToken());
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    const auto before = f.service.requests().size();
    runTask(state.submitFeedback(QStringLiteral(" \n"), QString(), QStringLiteral("正文")));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("请填写反馈标题和内容。"));
    EXPECT_EQ(f.service.requests().size(), before);

    QStringList expectedLog;
    for (const LogEntry& entry : state.logs()) {
        expectedLog << entry.time + QLatin1Char(' ') + entry.message;
    }
    runTask(state.submitFeedback(QStringLiteral("连不上"), QString(), QStringLiteral("一直失败")));
    QJsonObject sent;
    for (const auto& r : f.service.requests()) {
        if (r.method == QStringLiteral("POST") && r.path == QStringLiteral("/api/tickets")) {
            sent = QJsonDocument::fromJson(r.body).object();
        }
    }
    EXPECT_EQ(sent[QStringLiteral("body")].toString(),
              QStringLiteral("一直失败\n\n--- macOS 客户端日志 ---\n") +
                  expectedLog.join(QLatin1Char('\n')));
    EXPECT_EQ(sent[QStringLiteral("category")].toString(), QStringLiteral("客户端问题"));
    EXPECT_FALSE(sent.contains(QStringLiteral("contactEmail")));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("反馈已提交。"));
    EXPECT_EQ(state.tickets().first().title, QStringLiteral("连不上"));

    // This machine cannot be unbound from itself; nothing is sent.
    Device self;
    self.id = QStringLiteral("dev_self");
    self.isCurrent = true;
    const auto sentBefore = f.service.requests().size();
    runTask(state.unbindDevice(self));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("当前设备不能在本机直接解绑。"));
    EXPECT_EQ(f.service.requests().size(), sentBefore);
}

TEST(AccountActions, LinksAndLoginItem) {
    StateFixture f;
    AppState& state = f.makeState();
    f.urlsOpen = false;
    state.openTelegramProxy();
    EXPECT_EQ(f.clipboard, QStringLiteral("tg://socks?server=127.0.0.1&port=19090"));
    EXPECT_EQ(f.logMessages().first(),
              QStringLiteral("无法打开 Telegram，链接已复制：tg://socks?server=127.0.0.1&port=19090"));

    state.copyInviteLink();
    EXPECT_EQ(state.alertMessage(), QStringLiteral("登录后才能复制邀请链接。"));
    EXPECT_TRUE(state.showAuthSheet());

    f.launchAtLoginRefusal = OrvaneRuntimeError::connectionFailed(QStringLiteral("无法写入"));
    state.setLaunchAtLogin(true);
    EXPECT_FALSE(state.launchAtLogin());
    EXPECT_EQ(f.preferences->boolValue(QStringLiteral("orvane.launchAtLogin")), false);
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("登录时启动启用失败：无法写入"));
    f.launchAtLoginRefusal.reset();
    state.setLaunchAtLogin(true);
    EXPECT_TRUE(state.launchAtLogin());
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("登录时启动已启用。"));
}

TEST(AccountActions, StandardDependenciesLeaveTheDesktopSlotsToTheApplication) {
    TempHome home;
    // A slot the application forgets must fail when used, never report a success.
    const AppStateDependencies d = AppStateDependencies::standard();
    EXPECT_FALSE(d.openURL);
    EXPECT_FALSE(d.copyToClipboard);
    EXPECT_FALSE(d.setLaunchAtLogin);
    EXPECT_FALSE(d.isApplicationInstalled);
    EXPECT_TRUE(d.startDetached && d.findExecutable && d.hostName && d.sleep);
}

TEST(AILauncher, ScriptRunsTheToolWithProxyVariablesAndSurvivesHostileNames) {
    QTemporaryDir bin;
    const QString tool = bin.filePath(QStringLiteral("it's-ai"));
    QFile file(tool);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho \"ran $HTTPS_PROXY $ALL_PROXY\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    auto run = [&](const QString& command, const QString& name) {
        QProcess bash;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), bin.path() + QStringLiteral(":/usr/bin:/bin"));
        env.insert(QStringLiteral("TERM"), QStringLiteral("dumb"));
        bash.setProcessEnvironment(env);
        bash.start(QStringLiteral("/bin/bash"),
                   {QStringLiteral("-c"), AppState::aiToolLauncherScript(command, name, 19110)});
        bash.waitForFinished();
        return QString::fromUtf8(bash.readAllStandardOutput());
    };
    const QString found = run(QStringLiteral("it's-ai"), QStringLiteral("It's AI"));
    EXPECT_TRUE(found.contains(QStringLiteral(
        "ran http://127.0.0.1:19110 socks5h://127.0.0.1:19110")))
        << found.toStdString();
    // A quote in the name stays text; `$(…)` in the command is never run.
    const QString missing = run(QStringLiteral("x$(touch /tmp/orvane-pwned)"),
                                QStringLiteral("Bob's $(touch /tmp/orvane-pwned) tool"));
    EXPECT_TRUE(missing.contains(
        QStringLiteral("未检测到 Bob's $(touch /tmp/orvane-pwned) tool 命令，请先安装或检查 PATH。")))
        << missing.toStdString();
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/orvane-pwned")));

    // The launcher refuses until AI enhanced mode is on and connected, then starts a terminal
    // with the script as one argument.
    StateFixture f;
    AppState& state = connected(f);
    state.openAIToolLauncher(QStringLiteral("codex"), QStringLiteral("Codex"));
    EXPECT_EQ(state.alertMessage(),
              QStringLiteral("请先开启 AI增强功能，并重新一键连接后再启动 Codex。"));
    state.toggleAIEnhancedMode();
    settle(state);
    state.openAIToolLauncher(QStringLiteral("codex"), QStringLiteral("Codex"));
    EXPECT_EQ(state.alertMessage(),
              QStringLiteral("请先开启 AI增强功能并完成一键连接，再启动 Codex AI 代理环境。"));
    EXPECT_TRUE(f.started.isEmpty());

    // Connected again in AI mode: without a terminal there is nothing to start.
    runTask(state.toggleConnection());
    runTask(state.toggleConnection());
    ASSERT_TRUE(state.aiProxyReady());
    state.openAIToolLauncher(QStringLiteral("it's-ai"), QStringLiteral("It's AI"));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("未找到可用的终端程序，请先安装一个终端。"));
    EXPECT_EQ(f.logMessages().first(),
              QStringLiteral("It's AI 启动器打开失败：未找到可用的终端程序，请先安装一个终端。"));
    EXPECT_TRUE(f.started.isEmpty());

    // The first terminal of the preferred order gets the shell and the script as one argument.
    f.executables.insert(QStringLiteral("xterm"), QStringLiteral("/usr/bin/xterm"));
    f.executables.insert(QStringLiteral("gnome-terminal"),
                         QStringLiteral("/usr/bin/gnome-terminal"));
    state.openAIToolLauncher(QStringLiteral("it's-ai"), QStringLiteral("It's AI"));
    const QString script = AppState::aiToolLauncherScript(
        QStringLiteral("it's-ai"), QStringLiteral("It's AI"), state.localAIProxyPort());
    ASSERT_EQ(f.started.size(), 1);
    EXPECT_EQ(f.started[0],
              QStringList({QStringLiteral("/usr/bin/gnome-terminal"), QStringLiteral("--"),
                           QStringLiteral("/bin/bash"), QStringLiteral("-c"),
                           QStringLiteral("eval \"$1\"; exec \"$0\" -i"),
                           QStringLiteral("/bin/bash"), script}));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("已打开 It's AI AI 代理启动器。"));

    // What the terminal runs: the tool with the proxy, then a shell that keeps the variables.
    {
        QTemporaryDir emptyHome;
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), bin.path() + QStringLiteral(":/usr/bin:/bin"));
        env.insert(QStringLiteral("TERM"), QStringLiteral("dumb"));
        env.insert(QStringLiteral("HOME"), emptyHome.path());
        shell.setProcessEnvironment(env);
        shell.start(f.started[0][2], f.started[0].mid(3));
        shell.write("echo \"left: $ALL_PROXY\"\n");
        shell.closeWriteChannel();
        ASSERT_TRUE(shell.waitForFinished());
        const QString output = QString::fromUtf8(shell.readAllStandardOutput());
        const QString port = QString::number(state.localAIProxyPort());
        EXPECT_TRUE(output.contains(
            QStringLiteral("ran http://127.0.0.1:%1 socks5h://127.0.0.1:%1").arg(port)))
            << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("left: socks5h://127.0.0.1:") + port))
            << output.toStdString();
    }

    f.startsSucceed = false;
    state.openAIToolLauncher(QStringLiteral("it's-ai"), QStringLiteral("It's AI"));
    EXPECT_EQ(state.alertMessage(), QStringLiteral("终端程序无法启动。"));
    EXPECT_EQ(f.logMessages().first(),
              QStringLiteral("It's AI 启动器打开失败：终端程序无法启动。"));
    runTask(state.cleanupBeforeExit());
}

// A disconnect while the proxy switch is under way: the choice is kept for the next connect and
// nothing speaks of the connection that is gone.
TEST(ConnectionPreferences, SystemProxySwitchOvertakenByADisconnectSaysNothing) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused);
        StateFixture f;
        AppState& state = connected(f);
        OneShotEvent switched;
        f.tunnel->onSetSystemProxy = [&switched, refused](bool, int) -> QCoro::Task<QStringList> {
            co_await switched.wait();
            if (refused) {
                throw OrvaneRuntimeError::connectionFailed(QStringLiteral("networksetup 失败"));
            }
            co_return QStringList{QStringLiteral("已恢复原有系统代理设置。")};
        };
        QCoro::Task<void> change = state.setSystemProxyEnabled(false);
        runTask(state.toggleConnection());
        switched.set();
        runTask(std::move(change));

        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
        EXPECT_FALSE(state.systemProxyEnabled());
        EXPECT_EQ(f.preferences->boolValue(QStringLiteral("orvane.systemProxyEnabled")), false);
        EXPECT_EQ(f.logMessages().first(), QStringLiteral("连接已断开。"));
        EXPECT_FALSE(state.alertMessage());
    }
}

// The automatic connect test waits before it presses: a connection the user made meanwhile
// stays up.
TEST(ConnectionPreferences, AutoconnectTestLeavesAConnectionTheUserMadeAlone) {
    StateFixture f;
    f.arguments << QStringLiteral("--orvane-autoconnect-smoke");
    f.preferences->setString(QStringLiteral("orvane.sessionToken"), f.service.demoToken());
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    f.onSleep = [&state](std::chrono::milliseconds duration) {
        if (duration == std::chrono::milliseconds(800)) {
            runTask(state.toggleConnection());
        }
    };
    runTask(state.runAutoconnectSmokeTestIfRequested());
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 1; }));
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    EXPECT_FALSE(f.tunnel->calls.contains(QStringLiteral("disconnect")));
    runTask(state.cleanupBeforeExit());
}
