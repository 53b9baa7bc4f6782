#include "OneShotEvent.h"
#include "OrvaneAPIClient.h"
#include "RunTask.h"
#include "StateFixture.h"
#include "WaitUntil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <algorithm>

namespace orvane {

// Reaches the state's private steps where the service cannot produce the input.
class AppStateTestAccess {
public:
    static void applyVersionPolicy(AppState& s, const APIAppVersion& v) { s.applyVersionPolicy(v); }
    static void applyRouteCatalog(AppState& s, const APIRouteCatalogResponse& c) {
        s.applyRouteCatalog(c);
    }
    static void setAIRouteChoice(AppState& s, RouteRegionChoice c) { s.setAIRouteChoice(c); }
    static void setCurrentDevice(AppState& s, std::optional<Device> d) { s.setCurrentDevice(d); }
    static void signOutLocally(AppState& s) { s.logoutLocally(); }
    static void setConnected(AppState& s) {
        s.setConnectionState(ConnectionState::Case::connected);
        RunningConnection running;
        running.endpoint = s.selectedEndpoint();
        s.m_flows->setRunning(running);
    }
};

} // namespace orvane

using namespace orvane;
using namespace orvane::test;
using Access = AppStateTestAccess;
using dev::DevService;

namespace {

DevService::Fault faultOn(const char* path, DevService::FaultKind kind, int status = 500) {
    DevService::Fault f;
    f.path = QString::fromLatin1(path);
    f.kind = kind;
    f.status = status;
    return f;
}

QList<DevService::RecordedRequest> requestsTo(const DevService& service, const QString& path) {
    QList<DevService::RecordedRequest> found;
    for (const auto& r : service.requests()) {
        if (r.path == QStringLiteral("/api") + path) {
            found << r;
        }
    }
    return found;
}

// Holds the next such request until the test releases it; it is then answered as things stand.
DevService::Fault heldOn(const QString& method, const QString& path) {
    DevService::Fault f;
    f.method = method;
    f.path = path;
    f.kind = DevService::FaultKind::hold;
    return f;
}

QJsonObject bodyOf(const DevService::RecordedRequest& request) {
    return QJsonDocument::fromJson(request.body).object();
}

void signInDemo(StateFixture& f) {
    f.preferences->setString(QStringLiteral("orvane.sessionToken"), f.service.demoToken());
}

APIDevice bindDevice(StateFixture& f, const QString& clientId, const QString& name,
                     const QString& os) {
    OrvaneAPIClient api(QUrl(f.service.baseURL()));
    APIBindDeviceRequest request{clientId, name, QStringLiteral("macos"), os,
                                 QStringLiteral("v10.5.1")};
    return runTask(api.bindDevice(request, f.service.demoToken())).device;
}

} // namespace

TEST(AppStateModel, FirstStartAndStoredPreferences) {
    StateFixture clean;
    AppState& fresh = clean.makeState();
    EXPECT_FALSE(fresh.launchAtLogin());
    EXPECT_TRUE(fresh.menuBarEnabled());
    EXPECT_FALSE(fresh.showMenuBarSpeed());
    EXPECT_FALSE(fresh.aiEnhancedModeEnabled());
    EXPECT_TRUE(fresh.systemProxyEnabled());
    EXPECT_EQ(fresh.outboundMode(), OutboundMode::smart);
    EXPECT_EQ(clean.logMessages(), QStringList{QStringLiteral("客户端已就绪。")});
    EXPECT_EQ(fresh.endpoints(), placeholderEndpoints());
    EXPECT_EQ(fresh.plans(), placeholderPlans());
    for (int i = 1; i <= 31; ++i) {
        fresh.appendLog(QString::number(i));
    }
    EXPECT_EQ(fresh.logs().size(), 30);
    EXPECT_EQ(fresh.logs().first().message, QStringLiteral("31"));
    EXPECT_EQ(fresh.logs().last().message, QStringLiteral("2"));

    // Wrong types and unknown texts fall back to the defaults; the AI region never survives.
    StateFixture stored;
    stored.preferences->setString(QStringLiteral("orvane.outboundMode"), QStringLiteral("Global"));
    stored.preferences->setString(QStringLiteral("orvane.systemProxyEnabled"),
                                  QStringLiteral("false"));
    stored.preferences->setString(QStringLiteral("orvane.menuBarEnabled"), QStringLiteral("no"));
    stored.preferences->setBool(QStringLiteral("orvane.aiEnhancedModeEnabled"), true);
    stored.preferences->setString(QStringLiteral("orvane.routePreference.aiRegion"),
                                  QStringLiteral("sg"));
    AppState& state = stored.makeState();
    EXPECT_EQ(state.outboundMode(), OutboundMode::smart);
    EXPECT_TRUE(state.systemProxyEnabled());
    EXPECT_TRUE(state.menuBarEnabled());
    EXPECT_TRUE(state.aiEnhancedModeEnabled());
    EXPECT_EQ(state.aiRouteChoice(), RouteRegionChoice::automatic);
    EXPECT_FALSE(stored.preferences->contains(QStringLiteral("orvane.routePreference.aiRegion")));
}

TEST(AppStateStartup, WithoutSessionLoadsPublicDataOnce) {
    StateFixture f;
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    EXPECT_EQ(f.tunnel->calls, QStringList{QStringLiteral("cleanup(1)")});
    EXPECT_TRUE(state.showAuthSheet());
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.endpoints().isEmpty());
    for (const Endpoint& e : state.endpoints()) {
        EXPECT_NE(e.status, NodeStatus::offline) << e.id.toStdString();
        EXPECT_EQ(e.supportedProtocols, QList<ProtocolKind>{ProtocolKind::vless});
    }
    ASSERT_TRUE(state.selectedEndpointId().has_value());
    EXPECT_TRUE(state.plans().at(1).featured);
    EXPECT_FALSE(state.plans().at(0).featured);
    EXPECT_EQ(state.versionPolicyText(), QStringLiteral("已是最新"));
    EXPECT_FALSE(state.routeCategories().isEmpty());
    const QStringList log = f.logMessages();
    EXPECT_TRUE(log.contains(QStringLiteral("已检查并清理上次异常退出残留连接。")));
    EXPECT_TRUE(log.contains(QStringLiteral("节点列表同步完成。")));
    EXPECT_TRUE(requestsTo(f.service, QStringLiteral("/me")).isEmpty());

    const auto before = f.service.requests().size();
    runTask(state.bootstrap());
    EXPECT_EQ(f.service.requests().size(), before);
    EXPECT_EQ(f.tunnel->calls.size(), 1);
}

TEST(AppStateStartup, SavedSessionLoadsTheAccount) {
    StateFixture f;
    signInDemo(f);
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    EXPECT_FALSE(state.showAuthSheet());
    ASSERT_TRUE(state.currentUser().has_value());
    EXPECT_EQ(state.currentUser()->id, QStringLiteral("usr_demo"));
    EXPECT_GT(state.maxDevices(), 0);
    EXPECT_FALSE(state.tickets().isEmpty());
    EXPECT_FALSE(state.orders().isEmpty());
    const QStringList log = f.logMessages();
    EXPECT_TRUE(log.contains(QStringLiteral("账号权益同步完成。")));
    EXPECT_TRUE(log.contains(QStringLiteral("多协议节点启动信息同步完成。")));
    EXPECT_FALSE(state.alertMessage().has_value());
}

TEST(AppStateSync, RefreshFailureMatrix) {
    using K = DevService::FaultKind;
    struct Row {
        const char* name;
        const char* path;
        K kind;
        int status;
        bool publicRefresh;
        bool signedOutAfter;
        bool alert;
        QString logLine; // a line the log must hold
        const char* notRequested;
    };
    const QList<Row> rows{
        {"catalog", "/client/route-catalog", K::status, 500, true, false, false,
         QStringLiteral("线路策略目录暂不可用，使用本机默认策略。"), nullptr},
        {"me 401", "/me", K::status, 401, false, true, true, QStringLiteral("已退出登录。"),
         "/client/bootstrap"},
        {"me lost", "/me", K::closeConnection, 0, false, false, true, QString(),
         "/client/bootstrap"},
        {"tickets", "/tickets", K::status, 500, false, false, true, QString(), "/orders"},
        {"bootstrap", "/client/bootstrap", K::status, 503, false, false, false,
         QStringLiteral("新客户端启动信息暂不可用，使用兼容接口。"), nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StateFixture f;
        signInDemo(f);
        AppState& state = f.makeState();
        if (row.publicRefresh) {
            f.service.addFault(faultOn(row.path, row.kind, row.status));
            runTask(state.refreshPublicData());
        } else {
            // Fills the user the failure must not take away.
            runTask(state.bootstrap());
            f.service.clearRequests();
            f.service.addFault(faultOn(row.path, row.kind, row.status));
            runTask(state.refreshPrivateData());
        }
        EXPECT_FALSE(state.isBusy());
        EXPECT_EQ(state.alertMessage().has_value(), row.alert);
        EXPECT_EQ(f.preferences->contains(QStringLiteral("orvane.sessionToken")),
                  !row.signedOutAfter);
        if (!row.publicRefresh) {
            EXPECT_EQ(state.token().has_value(), !row.signedOutAfter);
            EXPECT_EQ(state.currentUser().has_value(), !row.signedOutAfter);
        }
        if (row.alert) {
            EXPECT_TRUE(f.logMessages().contains(QStringLiteral("账号数据同步失败：") +
                                                 *state.alertMessage()));
        }
        if (!row.logLine.isEmpty()) {
            EXPECT_TRUE(f.logMessages().contains(row.logLine));
        }
        if (row.notRequested) {
            EXPECT_TRUE(requestsTo(f.service, QString::fromLatin1(row.notRequested)).isEmpty());
        }
    }
}

TEST(AppStateSync, DeviceChoice) {
    const QString os = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    // This machine is found by name, type and OS; its id is remembered for the user.
    {
        StateFixture f;
        f.service.setDemoMaxDevices(5);
        bindDevice(f, QStringLiteral("other"), QStringLiteral("Office PC"), os);
        const APIDevice mine = bindDevice(f, QStringLiteral("mine"), f.hostName, os);
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        ASSERT_TRUE(state.currentDevice().has_value());
        EXPECT_EQ(state.currentDevice()->id, mine.id);
        EXPECT_EQ(f.preferences->string(QStringLiteral("orvane.serverDeviceId.usr_demo")), mine.id);
        for (const Device& d : state.devices()) {
            EXPECT_EQ(d.isCurrent, d.id == mine.id);
            EXPECT_EQ(d.action, d.id == mine.id ? QStringLiteral("当前") : QStringLiteral("解绑"));
        }
    }
    // A remembered id wins over the name match; a stale current device is kept by the
    // bootstrap but cleared by the full device list.
    {
        StateFixture f;
        f.service.setDemoMaxDevices(5);
        const APIDevice remembered =
            bindDevice(f, QStringLiteral("old"), QStringLiteral("Old"), os);
        bindDevice(f, QStringLiteral("mine"), f.hostName, os);
        f.preferences->setString(QStringLiteral("orvane.serverDeviceId.usr_demo"), remembered.id);
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        ASSERT_TRUE(state.currentDevice().has_value());
        EXPECT_EQ(state.currentDevice()->id, remembered.id);

        Device ghost = *state.currentDevice();
        ghost.id = QStringLiteral("dev_gone");
        f.hostName = QStringLiteral("Nobody");
        f.preferences->remove(QStringLiteral("orvane.serverDeviceId.usr_demo"));
        Access::setCurrentDevice(state, ghost);
        runTask(state.refreshPrivateData());
        EXPECT_EQ(state.currentDevice(), ghost);
        runTask(state.syncDevices(*state.token()));
        EXPECT_FALSE(state.currentDevice().has_value());
        EXPECT_EQ(state.activeDeviceCount(), 2);
    }
}

TEST(AppStateSync, SignOutDuringARefreshSendsNothingMore) {
    StateFixture f;
    signInDemo(f);
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    f.service.clearRequests();
    // Signs out as the route-preferences step applies its answer.
    bool signedOut = false;
    const auto hook = QObject::connect(&state, &AppState::routeCatalogChanged, [&] {
        if (!signedOut) {
            signedOut = true;
            Access::signOutLocally(state);
        }
    });
    runTask(state.refreshPrivateData());
    QObject::disconnect(hook);
    ASSERT_TRUE(signedOut);
    EXPECT_EQ(f.service.requests().last().path, QStringLiteral("/api/client/route-preferences"));
    EXPECT_TRUE(requestsTo(f.service, QStringLiteral("/tickets")).isEmpty());
    EXPECT_TRUE(requestsTo(f.service, QStringLiteral("/orders")).isEmpty());
    EXPECT_TRUE(state.tickets().isEmpty());
    EXPECT_FALSE(state.isBusy());
}

TEST(AppStateAccount, SignInAndRegistrationSendNormalisedIdentity) {
    StateFixture f;
    AppState& state = f.makeState();
    runTask(state.login(QStringLiteral("  Demo@Orvane.DEV \n"), QStringLiteral(" orvane-demo")));
    // The password goes out unchanged, so this one with a blank is refused.
    EXPECT_FALSE(state.token().has_value());
    const auto attempts = requestsTo(f.service, QStringLiteral("/auth/login"));
    ASSERT_EQ(attempts.size(), 1);
    EXPECT_EQ(bodyOf(attempts[0])[QStringLiteral("identity")].toString(),
              QStringLiteral("demo@orvane.dev"));
    EXPECT_EQ(bodyOf(attempts[0])[QStringLiteral("password")].toString(),
              QStringLiteral(" orvane-demo"));
    EXPECT_TRUE(f.logMessages().first().startsWith(QStringLiteral("登录失败：")));

    runTask(state.login(QStringLiteral("demo@orvane.dev"), QStringLiteral("orvane-demo")));
    EXPECT_TRUE(state.token().has_value());
    EXPECT_FALSE(state.showAuthSheet());
    EXPECT_FALSE(state.isBusy());
    const QStringList log = f.logMessages();
    EXPECT_LT(log.indexOf(QStringLiteral("账号权益同步完成。")),
              log.indexOf(QStringLiteral("登录成功。")));

    StateFixture r;
    AppState& fresh = r.makeState();
    const QString email = QStringLiteral("new@orvane.dev");
    EXPECT_FALSE(runTask(fresh.sendVerificationCode(QStringLiteral("not-an-address"))));
    EXPECT_EQ(fresh.alertMessage(), QStringLiteral("请填写有效的邮箱地址。"));
    EXPECT_EQ(r.logMessages().first(), QStringLiteral("验证码发送失败：请填写有效的邮箱地址。"));
    EXPECT_TRUE(requestsTo(r.service, QStringLiteral("/auth/verification-code")).isEmpty());
    EXPECT_TRUE(runTask(fresh.sendVerificationCode(email)));
    EXPECT_EQ(r.logMessages().first(), QStringLiteral("验证码已发送。"));
    runTask(fresh.registerAccount(email.toUpper(), QStringLiteral("secret-1"),
                                  r.service.lastVerificationCode(email), QString()));
    const auto registrations = requestsTo(r.service, QStringLiteral("/auth/register"));
    ASSERT_EQ(registrations.size(), 1);
    const QJsonObject body = bodyOf(registrations[0]);
    EXPECT_EQ(body[QStringLiteral("identity")].toString(), email);
    EXPECT_FALSE(body.contains(QStringLiteral("inviteCode")));
    EXPECT_TRUE(fresh.token().has_value());
    EXPECT_TRUE(r.logMessages().contains(QStringLiteral("注册并登录成功。")));
}

TEST(AppStateAccount, SignOut) {
    // Without a session nothing is sent.
    {
        StateFixture f;
        AppState& state = f.makeState();
        runTask(state.logout());
        EXPECT_TRUE(requestsTo(f.service, QStringLiteral("/auth/logout")).isEmpty());
        EXPECT_EQ(f.logMessages().first(), QStringLiteral("已退出登录。"));
        EXPECT_EQ(f.logMessages().at(1), QStringLiteral("客户端已就绪。"));
    }
    // A failed request still ends the session; a running tunnel is taken down with it.
    {
        StateFixture f;
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        Access::setConnected(state);
        f.tunnel->mode = TunnelActivation::Mode::singBox;
        f.service.addFault(faultOn("/auth/logout", DevService::FaultKind::status, 500));
        runTask(state.logout());
        QCoreApplication::processEvents();
        EXPECT_EQ(requestsTo(f.service, QStringLiteral("/auth/logout")).size(), 1);
        EXPECT_EQ(f.logMessages().mid(0, 2),
                  (QStringList{QStringLiteral("已退出登录。"),
                               QStringLiteral("退出登录请求失败，已清理本地会话。")}));
        EXPECT_FALSE(state.token().has_value());
        EXPECT_FALSE(state.currentUser().has_value());
        EXPECT_TRUE(state.devices().isEmpty());
        EXPECT_TRUE(state.showAuthSheet());
        EXPECT_EQ(state.connectionState(), ConnectionState(ConnectionState::Case::disconnected));
        EXPECT_EQ(state.runningTaskCount(), 0);
        EXPECT_TRUE(f.tunnel->calls.contains(QStringLiteral("disconnect")));
        EXPECT_FALSE(f.tunnel->mode.has_value());
    }
}

TEST(AppStateAccount, SignOutDuringAConnectEndsItQuietly) {
    for (const bool atBind : {true, false}) {
        SCOPED_TRACE(atBind ? "while binding the device"
                            : "while refreshing devices once connected");
        StateFixture f;
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        qsizetype sentBefore = -1;
        auto signOut = [&] {
            if (sentBefore < 0) {
                sentBefore = f.service.requests().size();
                Access::signOutLocally(state);
            }
        };
        QMetaObject::Connection hook;
        if (atBind) {
            hook = QObject::connect(&state, &AppState::logsChanged, [&] {
                if (state.logs().first().message == QStringLiteral("正在绑定当前设备。")) {
                    signOut();
                }
            });
        } else {
            // The service has ended the session: the refresh in flight answers 401.
            f.tunnel->onConnect = [&f](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
                DevService::Fault fault = faultOn("/devices", DevService::FaultKind::status, 401);
                fault.method = QStringLiteral("GET");
                f.service.addFault(fault);
                co_return TunnelActivation{};
            };
            // The keep-alive starts just before that refresh is sent.
            f.onSleep = [&](std::chrono::milliseconds d) {
                if (d >= std::chrono::seconds(30)) {
                    signOut();
                }
            };
        }
        runTask(state.toggleConnection());
        QObject::disconnect(hook);
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
        ASSERT_GE(sentBefore, 0);

        EXPECT_EQ(state.connectionState(), ConnectionState(ConnectionState::Case::disconnected));
        EXPECT_FALSE(state.alertMessage());
        EXPECT_FALSE(state.isBusy());
        EXPECT_FALSE(f.tunnel->mode);
        EXPECT_TRUE(f.service.crashReports().isEmpty());
        for (const QJsonObject& report : f.service.connectionReports()) {
            EXPECT_NE(report.value(QStringLiteral("status")).toString(), QStringLiteral("failed"));
        }
        EXPECT_EQ(state.endpointQualityStats().value(QStringLiteral("hk-01")).failedConnections, 0);
        EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), atBind ? 0 : 1);
        // Nothing goes out with the old token but the request the step was about to send.
        EXPECT_EQ(f.service.requests().size() - sentBefore, atBind ? 0 : 1);
    }
}

TEST(AppStateAccount, ConnectAfterSigningInAgainWaitsForTheSignOutsTakeDown) {
    // What the user does while the connect waits: nothing, sign out again, or quit.
    enum class Meanwhile { nothing, signOut, quit };
    for (const Meanwhile meanwhile : {Meanwhile::nothing, Meanwhile::signOut, Meanwhile::quit}) {
        SCOPED_TRACE(static_cast<int>(meanwhile));
        StateFixture f;
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        OneShotEvent takenDown;
        f.tunnel->onDisconnect = [&takenDown]() -> QCoro::Task<void> { co_await takenDown.wait(); };
        runTask(state.logout());
        runTask(state.login(QStringLiteral("demo@orvane.dev"), QStringLiteral("orvane-demo")));
        ASSERT_TRUE(state.token().has_value());
        f.tunnel->calls.clear();

        QCoro::Task<void> press = state.toggleConnection();
        EXPECT_TRUE(f.tunnel->calls.isEmpty());
        if (meanwhile == Meanwhile::signOut) {
            runTask(state.logout());
        } else if (meanwhile == Meanwhile::quit) {
            runTask(state.cleanupBeforeExit());
        }
        takenDown.set();
        runTask(std::move(press));
        EXPECT_FALSE(state.isBusy());
        if (meanwhile != Meanwhile::nothing) {
            // The press lost to the later action: nothing was started.
            EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("connect(")).isEmpty());
            EXPECT_FALSE(f.tunnel->mode.has_value());
            EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
            continue;
        }
        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
        EXPECT_TRUE(f.tunnel->mode.has_value());
        ASSERT_FALSE(f.tunnel->calls.isEmpty());
        EXPECT_EQ(f.tunnel->calls.first(), QStringLiteral("cleanup(1)"));
        runTask(state.cleanupBeforeExit());
    }
}

TEST(AppStateAccount, SignOutDuringAnAccountActionEndsItQuietly) {
    const QString get = QStringLiteral("GET");
    for (const bool unbind : {true, false}) {
        // Held: the action's own request, or the list refresh that follows it.
        for (const bool heldFirst : {true, false}) {
            // The service ends the session (a held request then answers 401), or keeps it
            // because the sign-out was answered 500.
            for (const bool serviceSignsOut : {true, false}) {
                SCOPED_TRACE(QStringLiteral("%1, %2 held, sign-out %3")
                                 .arg(unbind ? "unbind" : "feedback",
                                      heldFirst ? "first request" : "list refresh",
                                      serviceSignsOut ? "accepted" : "answered 500")
                                 .toStdString());
                StateFixture f;
                f.service.setDemoMaxDevices(5);
                bindDevice(f, QStringLiteral("other"), QStringLiteral("Office PC"), f.osVersion);
                signInDemo(f);
                AppState& state = f.makeState();
                runTask(state.bootstrap());
                ASSERT_EQ(state.devices().size(), 1);
                const Device other = state.devices().first();

                if (heldFirst) {
                    f.service.addFault(unbind ? heldOn(QStringLiteral("DELETE"),
                                                       QStringLiteral("/devices/") + other.id)
                                              : heldOn(QStringLiteral("POST"),
                                                       QStringLiteral("/tickets")));
                } else {
                    f.service.addFault(heldOn(get, unbind ? QStringLiteral("/devices")
                                                          : QStringLiteral("/tickets")));
                }
                if (!serviceSignsOut) {
                    f.service.addFault(faultOn("/auth/logout", DevService::FaultKind::status, 500));
                }
                QCoro::Task<void> action =
                    unbind ? state.unbindDevice(other)
                           : state.submitFeedback(QStringLiteral("连不上"), QString(),
                                                  QStringLiteral("一直失败"));
                ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
                runTask(state.logout());
                // The signed-out window does not wait for the old session's answer.
                EXPECT_FALSE(state.isBusy());
                const auto sentBefore = f.service.requests().size();
                f.service.releaseHeld();
                runTask(std::move(action));

                EXPECT_EQ(f.service.requests().size(), sentBefore);
                EXPECT_FALSE(state.alertMessage().has_value());
                EXPECT_FALSE(state.isBusy());
                EXPECT_TRUE(state.showAuthSheet());
                EXPECT_TRUE(state.devices().isEmpty());
                EXPECT_TRUE(state.tickets().isEmpty());
                if (heldFirst) {
                    // What became of the request is still on record.
                    QString outcome;
                    if (serviceSignsOut) {
                        outcome = (unbind ? QStringLiteral("解绑设备失败：")
                                          : QStringLiteral("提交反馈失败：")) +
                                  QStringLiteral("登录已过期，请重新登录。");
                    } else {
                        outcome = unbind ? QStringLiteral("已解绑设备：") + other.platform +
                                               QStringLiteral("。")
                                         : QStringLiteral("日志反馈已提交。");
                    }
                    EXPECT_EQ(f.logMessages().first(), outcome);
                }
            }
        }
    }
}

TEST(AppStateAccount, SignOutWhileASignInStillLoadsTheAccount) {
    StateFixture f;
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    f.service.addFault(heldOn(QStringLiteral("GET"), QStringLiteral("/client/bootstrap")));
    QCoro::Task<void> signIn =
        state.login(QStringLiteral("demo@orvane.dev"), QStringLiteral("orvane-demo"));
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    ASSERT_TRUE(state.token().has_value());
    runTask(state.logout());
    // The sign-in sheet is usable at once, not after the old session's answer.
    EXPECT_TRUE(state.showAuthSheet());
    EXPECT_FALSE(state.isBusy());
    const auto sentBefore = f.service.requests().size();
    f.service.releaseHeld();
    runTask(std::move(signIn));
    EXPECT_EQ(f.service.requests().size(), sentBefore);
    EXPECT_FALSE(state.token().has_value());
    EXPECT_FALSE(state.currentUser().has_value());
    EXPECT_FALSE(state.alertMessage().has_value());
    EXPECT_FALSE(state.isBusy());
}

TEST(AppStateAccount, DeviceAnswersAfterASignOutWriteNothing) {
    // The connect's device list or its bind is held while the user signs out; the service keeps
    // the session (its sign-out answered 500), so both answer with the old account's devices.
    for (const bool atBind : {true, false}) {
        SCOPED_TRACE(atBind ? "bind" : "device list");
        StateFixture f;
        f.service.setDemoMaxDevices(5);
        if (!atBind) {
            // Matches this machine: applied, it would become the current device.
            bindDevice(f, QStringLiteral("mine"), f.hostName, f.osVersion);
        }
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        f.service.addFault(heldOn(atBind ? QStringLiteral("POST") : QStringLiteral("GET"),
                                  QStringLiteral("/devices")));
        f.service.addFault(faultOn("/auth/logout", DevService::FaultKind::status, 500));

        QCoro::Task<void> press = state.toggleConnection();
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        runTask(state.logout());
        const auto sentBefore = f.service.requests().size();
        int deviceChanges = 0;
        const auto devices = QObject::connect(&state, &AppState::devicesChanged,
                                              [&deviceChanges] { ++deviceChanges; });
        const auto account = QObject::connect(&state, &AppState::accountChanged,
                                              [&deviceChanges] { ++deviceChanges; });
        f.service.releaseHeld();
        runTask(std::move(press));
        ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
        QObject::disconnect(devices);
        QObject::disconnect(account);

        EXPECT_EQ(deviceChanges, 0);
        EXPECT_FALSE(state.currentDevice().has_value());
        EXPECT_TRUE(state.devices().isEmpty());
        if (atBind) {
            EXPECT_FALSE(f.preferences->contains(QStringLiteral("orvane.serverDeviceId.usr_demo")));
        }
        EXPECT_EQ(f.service.requests().size(), sentBefore);
        EXPECT_FALSE(state.alertMessage().has_value());
        EXPECT_FALSE(state.isBusy());
        EXPECT_TRUE(f.tunnel->calls.filter(QStringLiteral("connect(")).isEmpty());
        EXPECT_EQ(state.connectionState(), ConnectionState(ConnectionState::Case::disconnected));
    }
}

TEST(AppStateAccount, RoutePreferenceAnsweredAfterASignOutIsNotApplied) {
    StateFixture f;
    signInDemo(f);
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    // A manual node pick clears the AI region and saves that with the service.
    Access::setAIRouteChoice(state, RouteRegionChoice::sg);
    const auto other = std::find_if(state.endpoints().begin(), state.endpoints().end(),
                                    [&state](const Endpoint& e) {
                                        return e.id != state.selectedEndpointId();
                                    });
    ASSERT_NE(other, state.endpoints().end());
    f.service.addFault(heldOn(QStringLiteral("PUT"), QStringLiteral("/client/route-preferences")));
    f.service.addFault(faultOn("/auth/logout", DevService::FaultKind::status, 500));
    state.selectEndpointFromMenu(*other);
    ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
    runTask(state.logout());
    int applied = 0;
    const auto hook =
        QObject::connect(&state, &AppState::routeCatalogChanged, [&applied] { ++applied; });
    f.service.releaseHeld();
    ASSERT_TRUE(waitUntil([&] { return state.runningTaskCount() == 0; }));
    QObject::disconnect(hook);
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(state.alertMessage().has_value());
}

TEST(AppStateVersion, PolicyTextsAndTheConnectGate) {
    StateFixture f;
    AppState& state = f.makeState();
    struct Row {
        QString mode;
        std::optional<qint64> rollout;
        QString latest;
        std::optional<QString> forceMessage;
        QString text;
        bool requiresAction;
    };
    const QList<Row> rows{
        {QStringLiteral("optional"),
         std::nullopt,
         QStringLiteral("10.5.1"),
         {},
         QStringLiteral("已是最新"),
         false},
        {QStringLiteral("optional"),
         30,
         QStringLiteral("v10.6.0"),
         {},
         QStringLiteral("灰度发布 30% · 最新 v10.6.0"),
         false},
        {QStringLiteral("optional"),
         100,
         QStringLiteral("10.6.0"),
         {},
         QStringLiteral("发现新版 v10.6.0"),
         false},
        {QStringLiteral("FORCE"),
         {},
         QStringLiteral("10.6.0"),
         QString(),
         QStringLiteral("需要升级到 v10.6.0"),
         true},
        {QStringLiteral("rollback"),
         {},
         QStringLiteral("10.6.0"),
         {},
         QStringLiteral("回滚到 10.0.0"),
         true},
    };
    for (const Row& row : rows) {
        APIAppVersion v;
        v.platform = QStringLiteral("macos");
        v.updateMode = row.mode;
        v.rolloutPercent = row.rollout;
        v.latestVersion = row.latest;
        v.minVersion = QStringLiteral("10.0.0");
        v.forceMessage = row.forceMessage;
        Access::applyVersionPolicy(state, v);
        EXPECT_EQ(state.versionPolicyText(), row.text) << row.mode.toStdString();
        EXPECT_EQ(state.requiresVersionAction(), row.requiresAction) << row.mode.toStdString();
    }

    APIAppVersion force;
    force.updateMode = QStringLiteral("force");
    force.latestVersion = QStringLiteral("10.6.0");
    force.downloadUrl = QStringLiteral("https://web.orvane.test/download");
    Access::applyVersionPolicy(state, force);
    signInDemo(f);
    runTask(state.toggleConnection());
    EXPECT_EQ(state.alertMessage(), QStringLiteral("需要升级到 v10.6.0"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("需要升级到 v10.6.0"));
    EXPECT_EQ(f.openedURLs, QList<QUrl>{QUrl(QStringLiteral("https://web.orvane.test/download"))});
    EXPECT_TRUE(f.tunnel->calls.isEmpty());
    EXPECT_EQ(state.connectionState(), ConnectionState(ConnectionState::Case::disconnected));
}

TEST(AppStateRoutes, CatalogAcceptanceAndAppRuleSummaries) {
    StateFixture f;
    f.installedApps << QStringLiteral("app.b");
    AppState& state = f.makeState();
    auto rule = [](const char* type, const char* value, qint64 priority) {
        return APIRouteRule{QString::fromLatin1(type), QString::fromLatin1(value),
                            QStringLiteral("MacOS"), priority};
    };
    APIRouteCategory ai{QStringLiteral("ai"),
                        QStringLiteral("AI"),
                        QStringLiteral("policy_ai"),
                        QString(),
                        {rule("bundle_id", "app.e", 5), rule("bundle_id", "app.c", 1),
                         rule("bundle_id", "app.b", 1), rule("process_name", "d", 3),
                         rule("process_path", "/f", 9), rule("domain", "x.com", 0),
                         rule("process_name", "a", 2)}};
    APIRouteCategory china{QStringLiteral("china"),
                           QStringLiteral("中国"),
                           QStringLiteral("policy_custom"),
                           QString(),
                           {}};
    APIRouteCatalogResponse catalog{{ai, china}, {}};

    Access::applyRouteCatalog(state, catalog);
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("线路策略目录异常，已保留当前可用策略。"));
    EXPECT_TRUE(state.routeCategories().isEmpty());

    catalog.policies = {APIRoutePolicy{
        QStringLiteral("policy_custom"), QStringLiteral("自定义"), QString(), {}, {}}};
    Access::applyRouteCatalog(state, catalog);
    EXPECT_EQ(
        state.routeAppRuleSummaries(),
        (QStringList{QStringLiteral("AI · app.b · 已安装 · AI 策略"),
                     QStringLiteral("AI · app.c · 未安装 · AI 策略"),
                     QStringLiteral("AI · a · AI 策略"), QStringLiteral("AI · d · AI 策略")}));
    EXPECT_EQ(f.logMessages().first(),
              QStringLiteral("线路策略目录已同步，已识别 4 条 macOS App 辅助规则。"));
    EXPECT_EQ(state.routePolicyTitle(QStringLiteral("policy_custom")), QStringLiteral("自定义"));
    EXPECT_EQ(state.routePolicyTitle(QString()), QStringLiteral("默认策略"));
    EXPECT_EQ(state.routePolicyTitle(QStringLiteral("policy_x")), QStringLiteral("policy_x"));

    // Fifteen lines are cut to twelve.
    QList<APIRouteCategory> many{china};
    for (int i = 0; i < 4; ++i) {
        APIRouteCategory c = ai;
        c.id = QStringLiteral("c%1").arg(i);
        many << c;
    }
    many << ai;
    Access::applyRouteCatalog(state, APIRouteCatalogResponse{many, catalog.policies});
    EXPECT_EQ(state.routeAppRuleSummaries().size(), 12);
}

TEST(AppStateLinks, PurchasePagesAndNodePick) {
    StateFixture f;
    AppState& state = f.makeState();
    const Plan monthly = placeholderPlans().first();

    runTask(state.purchase(monthly));
    ASSERT_EQ(f.openedURLs.size(), 1);
    const QUrl login = f.openedURLs.first();
    EXPECT_EQ(login.path(), QStringLiteral("/login/"));
    const QUrlQuery loginQuery(login);
    EXPECT_EQ(loginQuery.queryItems(QUrl::FullyDecoded).first().first, QStringLiteral("next"));
    const QUrl next(loginQuery.queryItemValue(QStringLiteral("next"), QUrl::FullyDecoded));
    EXPECT_EQ(next.path(), QStringLiteral("/pricing/"));
    EXPECT_EQ(QUrlQuery(next).queryItems(QUrl::FullyDecoded),
              (QList<QPair<QString, QString>>{
                  {QStringLiteral("plan"), QStringLiteral("monthly")},
                  {QStringLiteral("source"), QStringLiteral("macos")},
                  {QStringLiteral("client_version"), QStringLiteral("v10.5.1")}}));
    EXPECT_EQ(loginQuery.queryItemValue(QStringLiteral("source")), QStringLiteral("macos"));
    EXPECT_EQ(f.logMessages().first(), QStringLiteral("已打开公网月费套餐页面。"));

    runTask(state.login(QStringLiteral("demo@orvane.dev"), QStringLiteral("orvane-demo")));
    f.urlsOpen = false;
    runTask(state.purchase(monthly));
    const QUrlQuery pricing(f.openedURLs.last());
    EXPECT_EQ(f.openedURLs.last().path(), QStringLiteral("/pricing/"));
    EXPECT_EQ(pricing.queryItemValue(QStringLiteral("account")), QStringLiteral("demo@orvane.dev"));
    // A page that did not open is not reported as opened.
    EXPECT_FALSE(f.logMessages().first().startsWith(QStringLiteral("已打开公网")));

    // A manual pick replaces the AI region, and picking it again does nothing.
    StateFixture p;
    AppState& picker = p.makeState();
    Access::setAIRouteChoice(picker, RouteRegionChoice::sg);
    const Endpoint sg = placeholderEndpoints().at(1);
    picker.selectEndpointFromMenu(sg);
    EXPECT_EQ(picker.aiRouteChoice(), RouteRegionChoice::automatic);
    EXPECT_EQ(p.preferences->string(QStringLiteral("orvane.routePreference.aiRegion")),
              QStringLiteral("automatic"));
    EXPECT_EQ(p.logMessages().mid(0, 2),
              (QStringList{QStringLiteral("当前线路已切换为：新加坡 SG Stable 01。"),
                           QStringLiteral("已清理旧线路偏好，当前线路以手动选择为准。")}));
    const auto logged = picker.logs().size();
    picker.selectEndpointFromMenu(sg);
    EXPECT_EQ(picker.logs().size(), logged);
    EXPECT_EQ(picker.runningTaskCount(), 0);
}

TEST(AppStateLinks, LinksTheDesktopCannotOpenGiveTheirAddress) {
    StateFixture f;
    AppState& state = f.makeState();
    f.urlsOpen = false;
    // The alert and the log say the same, with the address to go to by hand.
    auto said = [&f, &state](const QString& text) {
        EXPECT_EQ(state.alertMessage(), text);
        EXPECT_EQ(f.logMessages().first(), text);
        state.setAlertMessage(std::nullopt);
    };

    state.openClientHome();
    EXPECT_EQ(f.openedURLs.last(), QUrl(QStringLiteral("https://web.orvane.test/client/")));
    said(QStringLiteral("无法打开浏览器，请手动访问：https://web.orvane.test/client/"));

    runTask(state.purchase(placeholderPlans().first()));
    // The address as it would have been opened, its query still encoded.
    const QString pricing = f.openedURLs.last().toString(QUrl::FullyEncoded);
    EXPECT_TRUE(pricing.startsWith(QStringLiteral("https://web.orvane.test/login/?next=")));
    said(QStringLiteral("无法打开浏览器，请手动访问：") + pricing);

    // The Telegram link is on the clipboard already.
    state.openTelegramProxy();
    EXPECT_EQ(f.clipboard, QStringLiteral("tg://socks?server=127.0.0.1&port=19090"));
    said(QStringLiteral("无法打开 Telegram，链接已复制：tg://socks?server=127.0.0.1&port=19090"));

    // The upgrade notice stays, the address below it.
    APIAppVersion force;
    force.updateMode = QStringLiteral("force");
    force.latestVersion = QStringLiteral("10.6.0");
    force.downloadUrl = QStringLiteral("https://web.orvane.test/download");
    Access::applyVersionPolicy(state, force);
    runTask(state.toggleConnection());
    const QString unopened = QStringLiteral("无法打开浏览器，请手动访问：https://web.orvane.test/download");
    EXPECT_EQ(state.alertMessage(), QStringLiteral("需要升级到 v10.6.0\n") + unopened);
    EXPECT_EQ(f.logMessages().mid(0, 2), (QStringList{unopened, QStringLiteral("需要升级到 v10.6.0")}));

    // A link that opens says nothing.
    f.urlsOpen = true;
    state.setAlertMessage(std::nullopt);
    state.openClientHome();
    EXPECT_FALSE(state.alertMessage().has_value());
}

TEST(AppStateText, ConnectionTitlesAndNotes) {
    using C = ConnectionState::Case;
    const std::optional<QString> path = QStringLiteral("/p/orvane-active.json");
    const QString pick = QStringLiteral("选择节点后一键生成配置并连接。");
    struct Row {
        ConnectionState state;
        QString title;
        QString noteWithPath;
        QString noteWithout;
    };
    const QList<Row> rows{
        {C::disconnected, QStringLiteral("未连接"), *path, pick},
        {C::preparing, QStringLiteral("正在连接"), *path, pick},
        {C::configReady, QStringLiteral("配置已准备"),
         QStringLiteral("协议配置已准备，请切换到可用的 sing-box 节点后重试。"),
         QStringLiteral("协议配置已准备，请切换到可用的 sing-box 节点后重试。")},
        {C::connected, QStringLiteral("已连接"), *path, pick},
        {C::disconnecting, QStringLiteral("正在断开"), *path, pick},
        {C::repairing, QStringLiteral("正在修复连接"),
         QStringLiteral("检测到旧连接或 DNS 状态异常，正在自动修复。"),
         QStringLiteral("检测到旧连接或 DNS 状态异常，正在自动修复。")},
        {ConnectionState::failed(QStringLiteral("端口被占用")), QStringLiteral("连接异常"),
         QStringLiteral("端口被占用"), QStringLiteral("端口被占用")},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AppState::statusTitle(row.state), row.title);
        EXPECT_EQ(AppState::connectionNote(row.state, path), row.noteWithPath);
        EXPECT_EQ(AppState::connectionNote(row.state, std::nullopt), row.noteWithout);
    }

    APIUser user;
    user.remainingTrafficMb = 1536;
    user.subscriptionExpiredAt = QString();
    user.invitesTotal = 2;
    user.invitesPaid = 5;
    EXPECT_EQ(AppState::accessSummary(std::nullopt), QStringLiteral("未知 / 未开通"));
    EXPECT_EQ(AppState::accessSummary(user), QStringLiteral("1.5GB / 未开通"));
    EXPECT_EQ(AppState::pendingInvitesText(user), QStringLiteral("0"));

    StateFixture f;
    AppState& state = f.makeState();
    EXPECT_EQ(state.planPillText(), QStringLiteral("请先登录"));
    EXPECT_EQ(state.inviteCode(), QStringLiteral("登录后显示"));
    EXPECT_EQ(state.rewardDaysText(), QStringLiteral("0 天"));
    EXPECT_EQ(state.deviceUsage(), QStringLiteral("0 / 0 设备"));
    EXPECT_EQ(state.menuBarTitle(), QStringLiteral("Orvane"));
    state.setShowMenuBarSpeed(true);
    f.traffic.receivedBytes = 2560;
    f.traffic.sentBytes = 0;
    f.monotonicMs = 1000;
    state.updateNetworkSpeed();
    EXPECT_EQ(state.menuBarTitle(), QStringLiteral("↓ 2 KB/s  ↑ 0 B/s"));
    // An interface reset makes a counter go down: that is no traffic, not 16 EB/s.
    f.traffic.receivedBytes = 100;
    f.monotonicMs = 2000;
    state.updateNetworkSpeed();
    EXPECT_EQ(state.downloadSpeedBps(), 0);
    EXPECT_EQ(state.selectedEndpoint(), placeholderEndpoints().first());
}

TEST(AppStateConnection, OnePressConnectsOnceWhileTheFirstIsStillPreparing) {
    StateFixture f;
    signInDemo(f);
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    f.tunnel->calls.clear();
    OneShotEvent release;
    f.tunnel->onCleanup = [&release](bool) -> QCoro::Task<void> { co_await release.wait(); };

    // Held, not spawned: the test ends only after this press has run to its end.
    QCoro::Task<void> firstPress = state.toggleConnection();
    ASSERT_EQ(f.tunnel->calls, QStringList{QStringLiteral("cleanup(1)")});
    // A refresh in between ends its own busy hold, not the connect's; a second press does
    // nothing.
    runTask(state.refreshPublicData());
    EXPECT_TRUE(state.isBusy());
    runTask(state.toggleConnection());
    EXPECT_EQ(f.tunnel->calls, QStringList{QStringLiteral("cleanup(1)")});

    f.tunnel->onCleanup = nullptr;
    release.set();
    waitUntil([&state] {
        return state.connectionState().stateCase() == ConnectionState::Case::connected;
    });
    EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);
    EXPECT_EQ(f.tunnel->calls.filter(QStringLiteral("connect(")).size(), 1);
    runTask(std::move(firstPress));
    runTask(state.cleanupBeforeExit());
}

// Two actions side by side each hold the busy mark for themselves: whichever ends first, the
// other's mark stays on until it ends too.
TEST(AppStateAccount, AnUnbindBesideADisconnectEndsOnlyItsOwnBusyMark) {
    for (const bool unbindEndsFirst : {true, false}) {
        SCOPED_TRACE(unbindEndsFirst);
        StateFixture f;
        f.service.setDemoMaxDevices(5);
        bindDevice(f, QStringLiteral("other"), QStringLiteral("Office PC"), f.osVersion);
        signInDemo(f);
        AppState& state = f.makeState();
        runTask(state.bootstrap());
        ASSERT_EQ(state.devices().size(), 1);
        const Device other = state.devices().first();
        runTask(state.toggleConnection());
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::connected);

        OneShotEvent takenDown;
        f.tunnel->onDisconnect = [&takenDown]() -> QCoro::Task<void> { co_await takenDown.wait(); };
        f.service.addFault(heldOn(QStringLiteral("DELETE"), QStringLiteral("/devices/") + other.id));
        QCoro::Task<void> unbind = state.unbindDevice(other);
        ASSERT_TRUE(waitUntil([&] { return f.service.heldCount() == 1; }));
        QCoro::Task<void> disconnect = state.toggleConnection();
        ASSERT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnecting);

        if (unbindEndsFirst) {
            f.service.releaseHeld();
            runTask(std::move(unbind));
            EXPECT_TRUE(state.isBusy());
            takenDown.set();
            runTask(std::move(disconnect));
        } else {
            takenDown.set();
            runTask(std::move(disconnect));
            EXPECT_TRUE(state.isBusy());
            f.service.releaseHeld();
            runTask(std::move(unbind));
        }
        EXPECT_FALSE(state.isBusy());
        EXPECT_EQ(state.connectionState().stateCase(), ConnectionState::Case::disconnected);
        EXPECT_TRUE(f.logMessages().contains(QStringLiteral("已解绑设备：") + other.platform +
                                             QStringLiteral("。")));
    }
}
