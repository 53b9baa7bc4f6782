// Renders the built pages and the sign-in sheet offscreen into PNG files, against the local
// development service, so a reviewer sees what a user sees: `make screenshots`.
#include "AppState.h"
#include "AuthView.h"
#include "DevService.h"
#include "HomeView.h"
#include "OrvaneAPIClient.h"
#include "PlainTextButton.h"
#include "Palette.h"
#include "Preferences.h"
#include "ScriptedTunnel.h"
#include "SidebarView.h"
#include "Typography.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <QCoro/QCoroTimer>

#include <cstdio>
#include <exception>

using namespace orvane;

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
    pageLayout->addWidget(new HomeView(state, [now] { return now; }, pageArea));
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

void shootSheet(AppState& state, const QString& directory, const QString& name,
                bool registering, const QString& identity) {
    AuthView sheet(state);
    if (registering) {
        sheet.modeSwitch()->click();
    }
    sheet.identityField()->setText(identity);
    sheet.passwordField()->setText(identity.isEmpty() ? QString() : QStringLiteral("secret"));
    shoot(&sheet, QStringLiteral("%1/%2.png").arg(directory, name));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    for (const char* folder : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                               "XDG_STATE_HOME"}) {
        const QString path = home.path() + QLatin1Char('/') + QString::fromLatin1(folder);
        QDir().mkpath(path);
        qputenv(folder, path.toUtf8());
    }
    QApplication app(argc, argv);
    Typography::pinApplicationFont();
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                       : QStringLiteral("build/screenshots");
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
    d.openURL = [](const QUrl&) { return true; };
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

    await(state.cleanupBeforeExit(), "clean-up");
    return 0;
}
