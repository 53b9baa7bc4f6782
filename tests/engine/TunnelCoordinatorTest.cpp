#include "AtomicFile.h"
#include "RunTask.h"
#include "StandinFixture.h"
#include "TempHome.h"
#include "TunnelCoordinator.h"
#include "TunnelCoordinatorError.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

QJsonObject curlRule(const QString& url, const QString& status) {
    return QJsonObject{{QStringLiteral("tool"), QStringLiteral("curl")},
                       {QStringLiteral("argsContain"), QJsonArray{url}},
                       {QStringLiteral("status"), 0},
                       {QStringLiteral("stdout"), status}};
}

QJsonObject toolRule(const char* tool, int status, const QString& out, QJsonArray contains = {}) {
    QJsonObject rule{{QStringLiteral("tool"), QString::fromLatin1(tool)},
                     {QStringLiteral("status"), status},
                     {QStringLiteral("stdout"), out}};
    if (!contains.isEmpty()) {
        rule.insert(QStringLiteral("argsContain"), contains);
    }
    return rule;
}

TunnelCoordinator::ProbeURLs fakeProbes() {
    return {{QStringLiteral("https://web-1.test/generate_204"), QStringLiteral("https://web-2.test/generate_204")},
            {QStringLiteral("https://ai-1.test/"), QStringLiteral("https://ai-2.test/v1/models"),
             QStringLiteral("https://ai-3.test/"), QStringLiteral("https://ai-4.test/")}};
}

// The coordinator against scripted tools: every curl, lsof, netstat and scutil answer is set
// by the test, waits are instant.
class TunnelProbeTest : public ::testing::Test {
protected:
    TunnelProbeTest() : coordinator(fakeTools(), fakeProbes()) {
        coordinator.setSleepFunction([](std::chrono::milliseconds) -> QCoro::Task<void> { co_return; });
    }
    ToolPaths fakeTools() const {
        ToolPaths tools = ToolPaths::platformDefaults();
        for (auto [field, name] : {std::pair{&ToolPaths::curl, "curl"}, std::pair{&ToolPaths::lsof, "lsof"},
                                   std::pair{&ToolPaths::netstat, "netstat"}, std::pair{&ToolPaths::ps, "ps"},
                                   std::pair{&ToolPaths::kill, "kill"}, std::pair{&ToolPaths::scutil, "scutil"},
                                   std::pair{&ToolPaths::networksetup, "networksetup"},
                                   std::pair{&ToolPaths::osascript, "osascript"}}) {
            tools.*field = fixture.tool(name);
        }
        return tools;
    }
    int curlCalls() const {
        int n = 0;
        for (const auto& call : fixture.invocations()) {
            n += call.tool == QLatin1String("curl");
        }
        return n;
    }
    QString failureText(QCoro::Task<QStringList> task) {
        try {
            test::runTask(std::move(task));
        } catch (const LocalizedError& e) {
            return e.localizedDescription();
        }
        return QStringLiteral("<no error>");
    }

    test::TempHome home;
    test::StandinFixture fixture;
    TunnelCoordinator coordinator;
};

} // namespace

TEST_F(TunnelProbeTest, StatusIsParsedAndFailuresAreZero) {
    const struct {
        const char* stdoutText;
        int status;
        int expected;
    } cases[] = {{"204", 0, 204}, {" 302\n", 0, 302}, {"+200", 0, 200}, {"000", 0, 0},
                 {"20x", 0, 0},   {"", 0, 0},         {"204", 7, 0},    {"99999999999", 0, 0}};
    for (const auto& c : cases) {
        fixture.writeRules(QJsonArray{toolRule("curl", c.status, QString::fromLatin1(c.stdoutText))});
        EXPECT_EQ(test::runTask(coordinator.proxyHTTPStatus(19090, QStringLiteral("https://x.test/"))),
                  c.expected)
            << c.stdoutText;
    }
    const auto calls = fixture.invocations();
    ASSERT_FALSE(calls.isEmpty());
    EXPECT_EQ(calls.last().args,
              (QStringList{QStringLiteral("--socks5-hostname"), QStringLiteral("127.0.0.1:19090"),
                           QStringLiteral("--connect-timeout"), QStringLiteral("1.5"),
                           QStringLiteral("--max-time"), QStringLiteral("2"), QStringLiteral("-L"),
                           QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QStringLiteral("-w"), QStringLiteral("%{http_code}"),
                           QStringLiteral("https://x.test/")}));
}

TEST_F(TunnelProbeTest, WebCheckBoundariesAndAttempts) {
    const struct {
        const char* first;
        const char* second;
        bool passes;
        int curlRuns;
    } cases[] = {{"204", "204", true, 1}, {"399", "500", true, 1}, {"400", "399", true, 2},
                 {"400", "199", false, 4}, {"000", "404", false, 4}};
    for (const auto& c : cases) {
        fixture.clearInvocations();
        fixture.writeRules(QJsonArray{curlRule(fakeProbes().web[0], QString::fromLatin1(c.first)),
                                      curlRule(fakeProbes().web[1], QString::fromLatin1(c.second))});
        const QString text = failureText(coordinator.validateProxyConnection(19090));
        if (c.passes) {
            EXPECT_EQ(test::runTask(coordinator.validateProxyConnection(19090)),
                      QStringList{QStringLiteral("本地代理连通性检测通过。")});
        } else {
            EXPECT_EQ(text, QStringLiteral("本地代理已启动，但外网连通性检测失败，已自动回滚。"));
            EXPECT_EQ(curlCalls(), c.curlRuns) << c.first << " " << c.second;
        }
    }
}

TEST_F(TunnelProbeTest, AICheckCountsClientErrorsAsReachable) {
    QJsonArray rules;
    for (const QString& url : fakeProbes().ai) {
        rules.append(curlRule(url, QStringLiteral("500")));
    }
    fixture.writeRules(rules);
    EXPECT_EQ(failureText(coordinator.validateAIProxyConnection(19110)),
              QStringLiteral("AI 增强模式已启动，但 OpenAI/Claude 连通性检测未通过，正在切换其他节点。"));
    EXPECT_EQ(curlCalls(), 16);

    fixture.clearInvocations();
    rules[2] = curlRule(fakeProbes().ai[2], QStringLiteral("499"));
    fixture.writeRules(rules);
    EXPECT_EQ(test::runTask(coordinator.validateAIProxyConnection(19110)),
              QStringList{QStringLiteral("AI 增强模式连通性检测通过。")});
    EXPECT_EQ(curlCalls(), 3);

    fixture.clearInvocations();
    rules[0] = curlRule(fakeProbes().ai[0], QStringLiteral("403"));
    fixture.writeRules(rules);
    EXPECT_TRUE(test::runTask(coordinator.aiProxyConnectivityAvailable(19110)));
    EXPECT_EQ(curlCalls(), 1);
}

TEST_F(TunnelProbeTest, PortChoice) {
    // Every port has a listener: the default port is returned anyway.
    fixture.writeRules(QJsonArray{toolRule("lsof", 0, QStringLiteral("4242\n"))});
    fixture.writeProcesses(QJsonObject{{QStringLiteral("processes"), QJsonObject{}}});
    EXPECT_EQ(test::runTask(coordinator.chooseLocalProxyPort(false)), 19090);

    // The AI port busy: an error naming it, no range port tested.
    fixture.clearInvocations();
    try {
        test::runTask(coordinator.chooseLocalProxyPort(true));
        ADD_FAILURE();
    } catch (const TunnelCoordinatorError& e) {
        EXPECT_EQ(e.localizedDescription(),
                  QStringLiteral("AI 专用代理端口 19110 已被占用，请退出占用该端口的程序后重试。"));
    }

    // 19090 and 19091 taken: 19092.
    fixture.writeRules(QJsonArray{toolRule("lsof", 0, QStringLiteral("11"), {QStringLiteral("-iTCP:19090")}),
                                  toolRule("lsof", 0, QStringLiteral("12"), {QStringLiteral("-iTCP:19091")}),
                                  toolRule("lsof", 1, QString())});
    EXPECT_EQ(test::runTask(coordinator.chooseLocalProxyPort(true)), 19092);
}

TEST_F(TunnelProbeTest, HealthCheckTexts) {
    const QString web0 = fakeProbes().web[0];
    const QString web1 = fakeProbes().web[1];
    // System proxy off: no scutil, and the off text even in AI mode.
    fixture.writeRules(QJsonArray{curlRule(web0, QStringLiteral("204")), curlRule(fakeProbes().ai[0], QStringLiteral("200"))});
    EXPECT_EQ(test::runTask(coordinator.connectionHealthCheck(19093, true, false)),
              (TunnelHealthCheck{true, QStringLiteral("本地代理保活通过，系统代理当前关闭。")}));
    for (const auto& call : fixture.invocations()) {
        EXPECT_NE(call.tool, QStringLiteral("scutil"));
    }

    // Web probe fails.
    fixture.writeRules(QJsonArray{curlRule(web0, QStringLiteral("000")), curlRule(web1, QStringLiteral("503"))});
    EXPECT_EQ(test::runTask(coordinator.connectionHealthCheck(19093, false, false)),
              (TunnelHealthCheck{false, QStringLiteral("系统代理入口 127.0.0.1:19093 外网保活失败。")}));

    // AI probe fails.
    QJsonArray rules{curlRule(web0, QStringLiteral("204"))};
    for (const QString& url : fakeProbes().ai) {
        rules.append(curlRule(url, QStringLiteral("000")));
    }
    fixture.writeRules(rules);
    EXPECT_EQ(test::runTask(coordinator.connectionHealthCheck(19093, true, false)),
              (TunnelHealthCheck{false, QStringLiteral("AI 专用入口 127.0.0.1:19110 OpenAI/Claude 保活失败。")}));
}

TEST_F(TunnelProbeTest, HealthSummaryOfARepair) {
    EXPECT_EQ(TunnelCoordinator::healthSummary(false, SystemProxyRepairResult::notNeeded()),
              QStringLiteral("系统代理保活通过。"));
    EXPECT_EQ(TunnelCoordinator::healthSummary(true, SystemProxyRepairResult::notNeeded()),
              QStringLiteral("系统代理与 AI 专用入口保活通过。"));
    EXPECT_EQ(TunnelCoordinator::healthSummary(
                  false, SystemProxyRepairResult::reappliedWith(
                             {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})),
              QStringLiteral("系统代理保活通过。 检测到系统代理曾丢失，a b"));
    EXPECT_EQ(TunnelCoordinator::healthSummary(false, SystemProxyRepairResult::reappliedWith({})),
              QStringLiteral("系统代理保活通过。 检测到系统代理曾丢失，已重新设置 macOS 系统代理。"));
}

TEST_F(TunnelProbeTest, NetworkWarnings) {
    const QString table = QStringLiteral(
        "Routing tables\n\nInternet:\nDestination        Gateway            Flags        Netif Expire\n"
        "default            192.0.2.1          UGScg          en0\n"
        "0/1                10.8.0.1           UGScg        utun3\n"
        "1                  10.8.0.1           UGSc         utun3\n"
        "10                 10.8.0.1           UGSc         utun3\n"
        "128.0/1            10.8.0.1           UGScg        utun3\n"
        "default            172.19.0.2         UGScg        utun4\n"
        "  198.18.0/16      10.8.0.1           UGSc         utun5\n"
        "8/5                10.8.0.1           UGSc         utun3\n");
    fixture.writeRules(QJsonArray{toolRule("netstat", 0, table),
                                  toolRule("scutil", 0, QStringLiteral("<dictionary> {\n  HTTPEnable : 1\n}\n"))});
    const QStringList warnings = test::runTask(coordinator.thirdPartyNetworkWarnings(true));
    ASSERT_EQ(warnings.size(), 2);
    EXPECT_EQ(warnings[0],
              QStringLiteral("检测到可能存在其它 VPN/TUN 路由：0/1                10.8.0.1           UGScg        utun3；"
                             "1                  10.8.0.1           UGSc         utun3；"
                             "128.0/1            10.8.0.1           UGScg        utun3"));
    EXPECT_EQ(warnings[1], QStringLiteral("检测到系统 HTTP/HTTPS/SOCKS 代理仍处于开启状态，可能影响流量归属。"));

    fixture.clearInvocations();
    EXPECT_EQ(test::runTask(coordinator.thirdPartyNetworkWarnings(false)).size(), 1);
    for (const auto& call : fixture.invocations()) {
        EXPECT_NE(call.tool, QStringLiteral("scutil"));
    }
    fixture.writeRules(QJsonArray{toolRule("netstat", 0, QStringLiteral("default 172.19.0.2 UGScg utun4\n"))});
    EXPECT_TRUE(test::runTask(coordinator.thirdPartyNetworkWarnings(false)).isEmpty());
}

TEST_F(TunnelProbeTest, CommandFailedTexts) {
    EXPECT_EQ(TunnelCoordinatorError::commandFailed(QStringLiteral(" \n ")).localizedDescription(),
              QStringLiteral("协议内核命令执行失败。"));
    EXPECT_EQ(TunnelCoordinatorError::commandFailed(QStringLiteral(" x ")).localizedDescription(),
              QStringLiteral(" x "));
    EXPECT_EQ(TunnelCoordinatorError::missingProtocolConfig().localizedDescription(),
              QStringLiteral("没有可用的协议配置。"));
}

TEST_F(TunnelProbeTest, ReloadWithoutAConnectionTouchesNoFile) {
    ProtocolConfiguration config;
    config.endpointId = QStringLiteral("hk-01");
    config.protocolKind = ProtocolKind::vless;
    config.singBoxConfig = JSONValue::parse(R"({"outbounds":[{"type":"direct","tag":"direct"}]})");
    try {
        test::runTask(coordinator.reload(config, OutboundMode::smart, false, true));
        ADD_FAILURE();
    } catch (const TunnelCoordinatorError& e) {
        EXPECT_EQ(e.localizedDescription(), QStringLiteral("当前连接模式不支持热重载，请断开后重新连接。"));
    }
    coordinator.activeMode = TunnelActivation::Mode::singBox;
    try {
        test::runTask(coordinator.reload(config, OutboundMode::smart, false, true));
        ADD_FAILURE();
    } catch (const TunnelCoordinatorError& e) {
        EXPECT_EQ(e.localizedDescription(), QStringLiteral("未找到当前运行配置，无法热重载。"));
    }
    EXPECT_TRUE(fixture.invocations().isEmpty());
}

TEST_F(TunnelProbeTest, DisconnectWithNothingRecordedRestoresNothing) {
    test::runTask(coordinator.disconnect());
    EXPECT_TRUE(fixture.invocations().isEmpty());
    // The clean-up always restores, and never asks for administrator rights when told not to.
    fixture.writeProcesses(QJsonObject{{QStringLiteral("processes"), QJsonObject{}}});
    fixture.writeNetwork(QJsonObject{
        {QStringLiteral("services"),
         QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Wi-Fi")},
                                {QStringLiteral("web"), QJsonObject{{QStringLiteral("enabled"), true},
                                                                    {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
                                                                    {QStringLiteral("port"), 19094}}}}}},
        {QStringLiteral("knobs"), QJsonObject{{QStringLiteral("setNeedsAdmin"), true}}}});
    test::runTask(coordinator.cleanupRuntimeArtifacts(false));
    bool restoredTried = false;
    for (const auto& call : fixture.invocations()) {
        EXPECT_NE(call.tool, QStringLiteral("osascript"));
        restoredTried |= call.tool == QLatin1String("networksetup") &&
                         call.args.value(0) == QLatin1String("-setwebproxystate");
    }
    EXPECT_TRUE(restoredTried);
}
