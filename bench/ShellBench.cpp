// Starts the real orvane offscreen against the development service, signed in with the demo
// account, and prints: the time from process start to the first painted window, the resident
// memory after some idle time with the window shown, and the CPU time it spends idle.
//
// Needs a build whose first service URL is a local one (make run configures build-run/ so):
//   cmake --build build-run --target shell_bench && build-run/bench/shell_bench [idle-s] [cpu-s]
#include "DevService.h"
#include "Preferences.h"
#include "SessionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

void wait(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
}

// Kilobytes of one "Vm…"/"Rss…" line of the process's status.
long statusKB(qint64 pid, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// User plus system CPU seconds so far.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks: state is field 3, utime 14.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int cpuWindowSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const QUrl api(QStringLiteral(ORVANE_BENCH_API_URL));
    if (api.host() != QLatin1String("127.0.0.1") || api.port() <= 0) {
        std::fprintf(stderr,
                     "shell_bench: this build talks to %s; configure it with a local service URL "
                     "(make run does, in build-run/)\n",
                     ORVANE_BENCH_API_URL);
        return 2;
    }

    orvane::dev::DevService::Options options;
    options.port = api.port();
    orvane::dev::DevService service(options);
    service.start();

    QTemporaryDir profile;
    for (const char* folder : {"home", "config/Orvane", "data", "cache", "runtime", "standins"}) {
        QDir().mkpath(profile.filePath(QLatin1String(folder)));
    }
    QFile::setPermissions(profile.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    orvane::Preferences(profile.filePath(QStringLiteral("config/Orvane/preferences.json")))
        .setString(orvane::SessionStore().tokenKey, service.demoToken());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), profile.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), profile.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), profile.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), profile.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), profile.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("ORVANE_FAKE_TOOLS_HOME"),
               profile.filePath(QStringLiteral("standins")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess orvane;
    orvane.setProcessEnvironment(env);
    orvane.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    orvane.start(QStringLiteral(ORVANE_BENCH_APP), {QStringLiteral("--orvane-first-paint-marker")});
    qint64 firstPaintMs = -1;
    while (clock.elapsed() < 30000 && orvane.state() != QProcess::NotRunning) {
        orvane.waitForReadyRead(20);
        if (orvane.readAllStandardOutput().contains("first-paint")) {
            firstPaintMs = clock.elapsed();
            break;
        }
    }
    if (firstPaintMs < 0) {
        std::fprintf(stderr, "shell_bench: no first paint\n%s\n",
                     orvane.readAllStandardError().constData());
        orvane.kill();
        orvane.waitForFinished();
        return 1;
    }
    const qint64 pid = orvane.processId();
    wait(idleSeconds * 1000);
    const long rss = statusKB(pid, "VmRSS");
    const long anonymous = statusKB(pid, "RssAnon");
    const long files = statusKB(pid, "RssFile") + statusKB(pid, "RssShmem");
    const double cpuBefore = cpuSeconds(pid);
    wait(cpuWindowSeconds * 1000);
    const double cpuUsed = cpuSeconds(pid) - cpuBefore;
    const double perMinute = cpuUsed * 60.0 / cpuWindowSeconds;

    ::kill(static_cast<pid_t>(pid), SIGTERM);
    orvane.waitForFinished(10000);

    std::printf("orvane offscreen against %s, signed in as the demo account\n",
                ORVANE_BENCH_API_URL);
    std::printf("  process start to first painted window: %lld ms (target < 300 ms)\n",
                static_cast<long long>(firstPaintMs));
    std::printf("  resident memory after %d s idle:        %.1f MB (target < 40 MB)\n", idleSeconds,
                static_cast<double>(rss) / 1024.0);
    // Mapped libraries and font files are shared with other processes and can be dropped.
    std::printf("    of which private: %.1f MB; mapped files (libraries, fonts): %.1f MB\n",
                static_cast<double>(anonymous) / 1024.0, static_cast<double>(files) / 1024.0);
    std::printf("  CPU time idle:                          %.3f s per minute = %.3f %% of one "
                "core (target < 0.2 %%)\n",
                perMinute, perMinute / 60.0 * 100.0);
    std::printf("  quit after SIGTERM with status %d\n", orvane.exitCode());
    return 0;
}
