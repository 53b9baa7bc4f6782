// Renders the built pages and the sign-in sheet offscreen into PNG files, against the local
// development service, so a reviewer sees what a user sees: `make screenshots`.
#include "APINodeRecords.h"
#include "APIRouteRecords.h"
#include "AppState.h"
#include "AuthView.h"
#include "ContentScrollArea.h"
#include "DevService.h"
#include "HomeView.h"
#include "OrvaneAPIClient.h"
#include "Palette.h"
#include "PlainTextButton.h"
#include "Preferences.h"
#include "RootView.h"
#include "ScriptedTunnel.h"
#include "SettingsView.h"
#include "SidebarView.h"
#include "Typography.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <QCoro/QCoroTimer>

#include <cstdio>
#include <exception>
#include <functional>

using namespace orvane;

namespace orvane {
// The local service seeds a short node list and two orders; the pictures need longer ones.
class AppStateTestAccess {
public:
    static void setEndpoints(AppState& s, QList<Endpoint> e) { s.setEndpoints(std::move(e)); }
    static void setOrders(AppState& s, QList<Order> o) { s.setOrders(std::move(o)); }
    static void setCurrentUser(AppState& s, std::optional<APIUser> u) { s.setCurrentUser(u); }
};
} // namespace orvane

namespace {

// Runs a task to its end on a nested loop; a failure is printed and counts as done.
void await(QCoro::Task<void> task, const char* what) {
    QCoro::waitFor([](QCoro::Task<void> work, const char* name) -> QCoro::Task<void> {
        try {
            co_await std::move(work);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s failed: %s\n", name, error.what());
        } catch (...) {
            std::fprintf(stderr, "%s failed\n", name);
        }
    }(std::move(task), what));
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// The window's layout as the root view arranges it: sidebar, then the page on white.
QWidget* makeWindow(AppState& state, const QDateTime& now) {
    auto* window = new QWidget;
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Palette::soft());
    window->setPalette(palette);
    auto* row = new QHBoxLayout(window);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(new SidebarView(state, window));
    auto* pageArea = new QWidget(window);
    pageArea->setAutoFillBackground(true);
    QPalette white = pageArea->palette();
    white.setColor(QPalette::Window, Qt::white);
    pageArea->setPalette(white);
    auto* pageLayout = new QVBoxLayout(pageArea);
    pageLayout->setContentsMargins(22, 18, 22, 18);
    pageLayout->addWidget(new HomeView(
        state, [now] { return now; }, pageArea));
    row->addWidget(pageArea, 1);
    return window;
}

void shoot(QWidget* widget, const QString& path) {
    widget->show();
    settle();
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

void shootWindows(AppState& state, const QDateTime& now, const QString& directory,
                  const QString& name) {
    // The home window beside the sidebar: the sidebar must mark the home page.
    state.setSelectedPage(AppPage::home);
    for (const QSize size : {QSize(1180, 780), QSize(980, 680)}) {
        QWidget* window = makeWindow(state, now);
        window->resize(size);
        shoot(window, QStringLiteral("%1/%2-%3x%4.png")
                          .arg(directory, name)
                          .arg(size.width())
                          .arg(size.height()));
        delete window;
    }
}

void shootSheet(AppState& state, const QString& directory, const QString& name, bool registering,
                const QString& identity) {
    AuthView sheet(state);
    if (registering) {
        sheet.modeSwitch()->click();
    }
    sheet.identityField()->setText(identity);
    sheet.passwordField()->setText(identity.isEmpty() ? QString() : QStringLiteral("secret"));
    shoot(&sheet, QStringLiteral("%1/%2.png").arg(directory, name));
}

// The whole window as the root view builds it, on `page`; `setUp` runs once it is laid out
// (to scroll, open a sheet, …) and `overlay` paints what lives in windows of its own.
void shootRoot(AppState& state, AppPage page, const QDateTime& now, const QString& directory,
               const QString& name, const std::function<void(RootView&)>& setUp = {}) {
    for (const QSize size : {QSize(1180, 780), QSize(980, 680)}) {
        state.setSelectedPage(page);
        state.setShowAuthSheet(false);
        state.setAlertMessage(std::nullopt);
        RootView root(state, [now] { return now; });
        root.resize(size);
        root.show();
        settle();
        if (setUp) {
            setUp(root);
            settle();
        }
        QPixmap picture = root.grab();
        // Sheets and alerts are windows of their own: draw them where the user sees them.
        QPainter painter(&picture);
        if (AuthView* sheet = root.sheet(); sheet && sheet->isVisible()) {
            painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
            painter.drawPixmap((size.width() - sheet->width()) / 2, 0, sheet->grab());
        }
        if (QMessageBox* alert = root.alert(); alert && alert->isVisible()) {
            alert->adjustSize();
            settle();
            painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
            painter.drawPixmap((size.width() - alert->width()) / 2,
                               (size.height() - alert->height()) / 3, alert->grab());
        }
        painter.end();
        const QString path = QStringLiteral("%1/%2-%3x%4.png")
                                 .arg(directory, name)
                                 .arg(size.width())
                                 .arg(size.height());
        if (!picture.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        } else {
            std::printf("%s\n", qPrintable(path));
        }
    }
    state.setShowAuthSheet(false);
    state.setAlertMessage(std::nullopt);
    settle();
}

void scrollToBottom(RootView& root) {
    if (auto* settings = qobject_cast<SettingsView*>(root.page())) {
        QScrollBar* bar = settings->scrollArea()->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

void shootPages(AppState& state, const QDateTime& now, const QString& directory,
                const QString& suffix) {
    shootRoot(state, AppPage::routes, now, directory, QStringLiteral("routes-") + suffix);
    shootRoot(state, AppPage::plans, now, directory, QStringLiteral("plans-") + suffix);
    shootRoot(state, AppPage::invite, now, directory, QStringLiteral("invite-") + suffix);
    shootRoot(state, AppPage::settings, now, directory, QStringLiteral("settings-") + suffix);
    state.setFeedbackExpanded(true);
    shootRoot(state, AppPage::settings, now, directory,
              QStringLiteral("settings-feedback-") + suffix, scrollToBottom);
    state.setFeedbackExpanded(false);
}

// Devices and tickets as the service would hold them for a busy account, and a long node list.
void seedAccount(AppState& state, dev::DevService& service) {
    service.setDemoMaxDevices(5);
    OrvaneAPIClient api{QUrl(service.baseURL())};
    const QString token = service.demoToken();
    const char* const names[][3] = {
        {"win-7f3a", "研发部门共用的 Windows 台式机（三楼东侧工位，长期开机）", "windows"},
        {"ios-19c2", "iPhone 15 Pro", "ios"},
        {"android-55d0", "Pixel 8", "android"}};
    for (const auto& device : names) {
        APIBindDeviceRequest request;
        request.deviceId = QString::fromLatin1(device[0]);
        request.deviceName = QString::fromUtf8(device[1]);
        request.deviceType = QString::fromLatin1(device[2]);
        request.os = QString::fromLatin1(device[2]);
        request.appVersion = QStringLiteral("10.4.0");
        await(
            [](OrvaneAPIClient& client, APIBindDeviceRequest r, QString t) -> QCoro::Task<void> {
                co_await client.bindDevice(std::move(r), std::move(t));
            }(api, request, token),
            "device");
    }
    // Newest first in the list: the long title comes last.
    const char* const titles[] = {"希望增加台湾节点", "续费后套餐时长没有增加",
                                  "AI 工具启动器找不到终端",
                                  "晚高峰时段香港节点延迟明显升高，切换到新加坡节点后恢复正常，但再"
                                  "次切回香港又出现同样的问题"};
    for (const char* title : titles) {
        APICreateTicketRequest request;
        request.title = QString::fromUtf8(title);
        request.contactEmail = QString::fromLatin1(dev::DevService::kDemoEmail);
        request.body = QStringLiteral("截图用工单。");
        await(
            [](OrvaneAPIClient& client, APICreateTicketRequest r, QString t) -> QCoro::Task<void> {
                co_await client.createTicket(std::move(r), std::move(t));
            }(api, request, token),
            "ticket");
    }
    await(state.refreshPrivateData(), "refresh");

    QList<Endpoint> endpoints = state.endpoints();
    const char* const regions[] = {"香港", "新加坡", "日本", "美国", "台湾", "德国", "英国"};
    for (int i = 0; i < 12; ++i) {
        Endpoint e;
        e.id = QStringLiteral("extra-%1").arg(i);
        e.region = QString::fromUtf8(regions[i % 7]);
        e.name =
            i == 3 ? QStringLiteral("US East Enterprise Dedicated Line 03 (Reserved for "
                                    "Streaming)")
                   : QStringLiteral("%1 Edge %2").arg(e.region).arg(i + 2, 2, 10, QLatin1Char('0'));
        e.latencyMs = i == 5 ? 0 : 40 + 17 * i;
        e.loadPercent = i == 7 ? 135 : 20 + 6 * i;
        e.status = i % 5 == 4 ? NodeStatus::checking : NodeStatus::online;
        e.supportedProtocols = {ProtocolKind::vless};
        e.preferredProtocol = i == 2 ? ProtocolKind::unknown : ProtocolKind::vless;
        endpoints.append(e);
    }
    AppStateTestAccess::setEndpoints(state, endpoints);

    QList<Order> orders = state.orders();
    Order longOrder;
    longOrder.id = QStringLiteral("ord_20240401");
    longOrder.title = QStringLiteral("年费套餐（含 3 个月邀请奖励时长与家庭共享附加包）");
    longOrder.status = QStringLiteral("待支付");
    longOrder.amount = QStringLiteral("299.00 CNY");
    orders.prepend(longOrder);
    for (int i = 0; i < 2; ++i) {
        Order older = orders.last();
        older.id += QStringLiteral("-%1").arg(i);
        orders.append(older);
    }
    AppStateTestAccess::setOrders(state, orders);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    for (const char* folder :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home.path() + QLatin1Char('/') + QString::fromLatin1(folder);
        QDir().mkpath(path);
        qputenv(folder, path.toUtf8());
    }
    QApplication app(argc, argv);
    Typography::pinApplicationFont();
    const QString directory =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("build/screenshots");
    QDir().mkpath(directory);

    dev::DevService::Options options;
    options.configReadyAfterPolls = 0;
    dev::DevService service(options);
    service.start();

    AppStateDependencies d;
    d.api = std::make_unique<OrvaneAPIClient>(QUrl(service.baseURL()));
    d.tunnel = std::make_unique<test::ScriptedTunnel>();
    d.preferences = std::make_shared<Preferences>();
    d.webBaseURL = QUrl(QStringLiteral("https://web.orvane.test"));
    d.wallClock = [] { return QDateTime::currentDateTimeUtc(); };
    d.monotonicClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    d.sleep = [](std::chrono::milliseconds duration) { return QCoro::sleepFor(duration); };
    // Off for the picture of a link no browser could open.
    bool linksOpen = true;
    d.openURL = [&linksOpen](const QUrl&) { return linksOpen; };
    d.copyToClipboard = [](const QString&) {};
    d.setLaunchAtLogin = [](bool) {};
    d.isApplicationInstalled = [](const QString&) { return false; };
    d.hostName = [] { return QStringLiteral("Screenshot Host"); };
    d.operatingSystemVersion = [] { return QStringLiteral("Debian GNU/Linux 12"); };
    d.sampleTraffic = [] { return NetworkTrafficSample{}; };
    d.arguments = QStringList{QStringLiteral("orvane")};
    d.startSpeedTimer = false;
    AppState state(std::move(d));
    const QDateTime now = QDateTime::currentDateTimeUtc();

    // Before anything is loaded: placeholder nodes, nobody signed in.
    shootWindows(state, now, directory, QStringLiteral("home-signed-out"));
    shootSheet(state, directory, QStringLiteral("sheet-sign-in-empty"), false, QString());
    shootSheet(state, directory, QStringLiteral("sheet-register"), true,
               QStringLiteral(" Someone@Example.COM "));

    await(state.bootstrap(), "start-up");
    // Signed out with the service's nodes and plans; the sheet, the alert and the busy mark.
    shootPages(state, now, directory, QStringLiteral("signed-out"));
    shootRoot(state, AppPage::home, now, directory, QStringLiteral("root-sheet"),
              [&state](RootView&) { state.setShowAuthSheet(true); });
    shootRoot(state, AppPage::home, now, directory, QStringLiteral("root-alert-over-sheet"),
              [&state](RootView&) {
                  state.setShowAuthSheet(true);
                  await(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                                    QStringLiteral("wrong-password")),
                        "failed sign-in");
              });
    shootRoot(state, AppPage::plans, now, directory, QStringLiteral("root-busy"),
              [&state](RootView&) { state.setIsBusy(true); });
    state.setIsBusy(false);
    await(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                      QString::fromLatin1(dev::DevService::kDemoPassword)),
          "sign-in");
    state.setAlertMessage(std::nullopt);
    shootWindows(state, now, directory, QStringLiteral("home-signed-in"));

    await(state.toggleConnection(), "connect");
    state.appendLog(QStringLiteral("长日志：节点 hk-premium-01.example.invalid 的协议配置在 "
                                   "3 次轮询后就绪，用时 1.8 秒；本地代理 127.0.0.1:19090 已"
                                   "接管系统代理，AI 代理入口 127.0.0.1:19110 同时可用。"));
    while (state.logs().size() < 30) {
        state.appendLog(QStringLiteral("连接保活检查通过：连接正常"));
    }
    // The duration card counts 12 minutes 34 seconds.
    const QDateTime later = state.connectedAt().value_or(now).addSecs(754);
    shootWindows(state, later, directory, QStringLiteral("home-connected"));
    state.setNodesExpanded(true);
    state.setLogsExpanded(true);
    shootWindows(state, later, directory, QStringLiteral("home-connected-expanded"));

    state.setNodesExpanded(false);
    state.setLogsExpanded(false);
    seedAccount(state, service);
    shootPages(state, later, directory, QStringLiteral("signed-in"));
    // A plan name longer than any header or the sidebar's card has room for.
    const std::optional<APIUser> user = state.currentUser();
    if (user) {
        APIUser longPlan = *user;
        longPlan.planName = QStringLiteral("年费套餐（含 3 个月邀请奖励时长与家庭共享附加包）");
        AppStateTestAccess::setCurrentUser(state, longPlan);
        shootRoot(state, AppPage::home, later, directory, QStringLiteral("home-long-plan"));
        shootRoot(state, AppPage::plans, later, directory, QStringLiteral("plans-long-plan"));
        AppStateTestAccess::setCurrentUser(state, user);
    }
    state.setDevicesExpanded(true);
    shootRoot(state, AppPage::settings, later, directory,
              QStringLiteral("settings-devices-expanded"));
    shootRoot(state, AppPage::settings, later, directory, QStringLiteral("root-alert-empty"),
              [&state](RootView&) { state.setAlertMessage(QString()); });
    shootRoot(
        state, AppPage::settings, later, directory, QStringLiteral("root-alert"),
        [&state](RootView&) { state.setAlertMessage(QStringLiteral("请填写反馈标题和内容。")); });
    shootRoot(state, AppPage::plans, later, directory, QStringLiteral("root-alert-link"),
              [&state, &linksOpen](RootView&) {
                  linksOpen = false;
                  await(state.purchase(state.plans().first()), "plan page");
                  linksOpen = true;
              });

    await(state.cleanupBeforeExit(), "clean-up");
    return 0;
}
