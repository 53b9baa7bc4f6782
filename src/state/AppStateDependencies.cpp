#include "AppStateDependencies.h"

#include "BuildConfig.h"
#include "CancelToken.h"
#include "EngineTunnel.h"
#include "HostInfo.h"
#include "OrvaneAPIClient.h"
#include "Preferences.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

namespace orvane {

AppStateDependencies AppStateDependencies::standard() {
    AppStateDependencies d;
    d.api = std::make_unique<OrvaneAPIClient>(OrvaneAPIClient::productionBaseURL());
    d.tunnel = std::make_unique<EngineTunnel>();
    d.preferences = std::make_shared<Preferences>();
    d.webBaseURL = QUrl(QString::fromUtf8(build::kWebBaseURL));
    d.wallClock = [] { return QDateTime::currentDateTime(); };
    d.monotonicClock = [] {
        static QElapsedTimer clock = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return clock.elapsed();
    };
    d.sleep = [](std::chrono::milliseconds duration) -> QCoro::Task<void> {
        co_await sleepFor(duration);
    };
    d.hostName = [] { return HostInfo::hostName(); };
    d.operatingSystemVersion = [] { return HostInfo::operatingSystemVersion(); };
    d.sampleTraffic = [] { return NetworkSpeedSampler::sample(); };
    d.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    d.findExecutable = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    d.arguments = QCoreApplication::arguments();
    return d;
}

} // namespace orvane
