#pragma once

#include "AppState.h"
#include "OrvaneRuntimeError.h"
#include "CancelToken.h"
#include "DevService.h"
#include "OrvaneAPIClient.h"
#include "Preferences.h"
#include "ScriptedTunnel.h"
#include "TempHome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUrl>

#include <functional>
#include <memory>

namespace orvane::test {

// An application state against the local service over real HTTP, with a scripted tunnel,
// instant sleeps, a settable clock and recorded links, in its own temporary home.
class StateFixture {
public:
    explicit StateFixture(dev::DevService::Options options = {}) : service(options) {
        service.start();
    }
    // A keep-alive still asleep would never end and its frames would leak: wake it once the
    // state is gone and let the loop run, so it finds no state and returns.
    ~StateFixture() {
        state.reset();
        releaseLongSleeps();
        for (int turn = 0; turn < 10; ++turn) {
            QCoreApplication::processEvents();
        }
    }
    StateFixture(const StateFixture&) = delete;
    StateFixture& operator=(const StateFixture&) = delete;

    // Call after adjusting the fields below; the state reads its preferences at creation.
    // `engine` takes the scripted tunnel's place; `tunnel` then stays null.
    AppState& makeState(std::unique_ptr<TunnelControl> engine = nullptr) {
        AppStateDependencies d;
        d.api = std::make_unique<OrvaneAPIClient>(QUrl(service.baseURL()));
        if (engine) {
            d.tunnel = std::move(engine);
        } else {
            auto scripted = std::make_unique<ScriptedTunnel>();
            tunnel = scripted.get();
            d.tunnel = std::move(scripted);
        }
        d.preferences = preferences;
        d.webBaseURL = QUrl(QStringLiteral("https://web.orvane.test"));
        d.wallClock = [this] { return now; };
        d.monotonicClock = [this] { return monotonicMs; };
        d.sleep = [this](std::chrono::milliseconds duration) -> QCoro::Task<void> {
            sleeps.append(duration);
            if (onSleep) {
                onSleep(duration);
            }
            if (duration >= std::chrono::seconds(30)) {
                ++longSleepsStarted;
                const auto gate = longSleepGate;
                co_await sleepFor(std::chrono::hours(24), gate.get());
                co_return;
            }
            if (advanceClockOnSleep) {
                now = now.addMSecs(duration.count());
            }
        };
        d.openURL = [this](const QUrl& url) {
            openedURLs.append(url);
            return urlsOpen;
        };
        d.copyToClipboard = [this](const QString& text) { clipboard = text; };
        d.isApplicationInstalled = [this](const QString& id) { return installedApps.contains(id); };
        d.hostName = [this] { return hostName; };
        d.operatingSystemVersion = [this] { return osVersion; };
        d.sampleTraffic = [this] { return traffic; };
        d.startDetached = [this](const QString& program, const QStringList& args) {
            started.append(QStringList{program} + args);
            return startsSucceed;
        };
        d.findExecutable = [this](const QString& name) { return executables.value(name); };
        d.setLaunchAtLogin = [this](bool enabled) {
            if (launchAtLoginRefusal) {
                throw *launchAtLoginRefusal;
            }
            launchAtLoginRequests.append(enabled);
        };
        d.arguments = arguments;
        d.startSpeedTimer = false;
        if (adjustDependencies) {
            adjustDependencies(d);
        }
        state = std::make_unique<AppState>(std::move(d));
        return *state;
    }

    // Wakes every sleep of 30 s or more (the keep-alive's), which otherwise waits for ever.
    void releaseLongSleeps() {
        const auto gate = longSleepGate;
        longSleepGate = std::make_shared<CancelToken>();
        gate->cancel();
    }

    QStringList logMessages() const {
        QStringList messages;
        for (const LogEntry& entry : state->logs()) {
            messages << entry.message;
        }
        return messages;
    }

    TempHome home;
    dev::DevService service;
    std::shared_ptr<Preferences> preferences = std::make_shared<Preferences>();
    QDateTime now = QDateTime::fromString(QStringLiteral("2026-12-09T10:00:00Z"), Qt::ISODate);
    qint64 monotonicMs = 0;
    QList<std::chrono::milliseconds> sleeps;
    bool advanceClockOnSleep = false;
    std::function<void(std::chrono::milliseconds)> onSleep;
    int longSleepsStarted = 0;
    std::shared_ptr<CancelToken> longSleepGate = std::make_shared<CancelToken>();
    QList<QUrl> openedURLs;
    bool urlsOpen = true;
    QString clipboard;
    QStringList installedApps;
    QString hostName = QStringLiteral("Test Mac");
    QString osVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    NetworkTrafficSample traffic;
    QStringList arguments{QStringLiteral("orvane")};
    QList<QStringList> started;
    bool startsSucceed = true;
    QMap<QString, QString> executables{{QStringLiteral("bash"), QStringLiteral("/bin/bash")}};
    std::optional<OrvaneRuntimeError> launchAtLoginRefusal;
    QList<bool> launchAtLoginRequests;
    ScriptedTunnel* tunnel = nullptr;
    // Last word on the dependencies before the state is made (another HTTP session, say).
    std::function<void(AppStateDependencies&)> adjustDependencies;
    std::unique_ptr<AppState> state;
};

} // namespace orvane::test
