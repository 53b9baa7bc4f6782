#pragma once

#include "NetworkSpeedSampler.h"
#include "TunnelControl.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

namespace orvane {

class OrvaneAPIClient;
class Preferences;

// Everything the application state reaches outside itself. The application fills it with the
// real services; tests replace what they need (instant sleeps, a scripted tunnel, fake links).
struct AppStateDependencies {
    std::unique_ptr<OrvaneAPIClient> api;
    std::unique_ptr<TunnelControl> tunnel;
    std::shared_ptr<Preferences> preferences;
    // The service's web pages (pricing, sign-in, client home).
    QUrl webBaseURL;

    std::function<QDateTime()> wallClock;
    // Milliseconds on a clock that never jumps; only differences count.
    std::function<qint64()> monotonicClock;
    std::function<QCoro::Task<void>(std::chrono::milliseconds)> sleep;

    // Whether the system opened it.
    std::function<bool(const QUrl&)> openURL;
    std::function<void(const QString&)> copyToClipboard;
    // Throws a LocalizedError when the system refuses.
    std::function<void(bool)> setLaunchAtLogin;
    std::function<bool(const QString& bundleId)> isApplicationInstalled;
    std::function<QString()> hostName;
    std::function<QString()> operatingSystemVersion;
    std::function<NetworkTrafficSample()> sampleTraffic;
    // Starts a program without waiting for it; false when it could not start.
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
    // The absolute path of a program on the PATH, empty when there is none.
    std::function<QString(const QString& name)> findExecutable;
    QStringList arguments;
    // Off in tests that drive the speed by hand.
    bool startSpeedTimer = true;

    // The production services that need no window system: the service's base URLs and web
    // address from the build, the real tunnel, the user's preferences, real clocks and
    // sleeps, this machine's facts and the process arguments. Opening links, the clipboard,
    // launch at login and the installed-application lookup stay empty: the application fills
    // them from the desktop layer, and a call through one left empty throws.
    static AppStateDependencies standard();
};

} // namespace orvane
