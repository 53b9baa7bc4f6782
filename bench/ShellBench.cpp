// Starts the real orvane offscreen against the development service, signed in with the demo
// account, and beside it a bare window with one Chinese label (bare_window_bench_child) as the
// baseline, each several times, alternating, each in a fresh profile. Prints the medians of the
// time from process start to the first painted window and their ratio, the resident memory of
// both after some idle time, grouped by mapping, and the CPU time orvane spends idle.
//
// Needs a build whose first service URL is a local one (make run configures build-run/ so):
//   cmake --build build-run --target shell_bench
//   build-run/bench/shell_bench [idle-s] [cpu-s] [runs]
#include "DevService.h"
#include "Preferences.h"
#include "SessionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

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

// Resident memory by where it is mapped; the groups of smaps that tell our cost apart.
enum Mapping { binary, qtLibraries, otherLibraries, fonts, heap, anonymous, other, mappingCount };
constexpr std::array<const char*, mappingCount> kMappingNames = {
    "our binary", "libQt6*",   "other libraries",           "fonts (files, caches)",
    "[heap]",     "anonymous", "other (stack, locale, ...)"};

Mapping mappingOf(const QByteArray& path, const QByteArray& executable) {
    if (path.isEmpty()) {
        return anonymous;
    }
    if (path == "[heap]") {
        return heap;
    }
    if (path == executable) {
        return binary;
    }
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    if (path.contains("/fonts/") || path.contains("/fontconfig/") || name.endsWith(".ttc") ||
        name.endsWith(".ttf") || name.endsWith(".otf")) {
        return fonts;
    }
    if (name.startsWith("libQt6")) {
        return qtLibraries;
    }
    if (name.contains(".so")) {
        return otherLibraries;
    }
    return other;
}

// Kilobytes resident per mapping group, from /proc/<pid>/smaps.
std::array<long, mappingCount> residentByMapping(qint64 pid, const QString& executable) {
    std::array<long, mappingCount> kb{};
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly)) {
        return kb;
    }
    const QByteArray exe = QFileInfo(executable).canonicalFilePath().toUtf8();
    Mapping current = other;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.isEmpty() || fields.first().isEmpty()) {
            continue;
        }
        if (!fields.first().endsWith(':')) {
            // "start-end perms offset dev inode [path]"; the path may hold blanks.
            current = mappingOf(fields.size() > 5 ? fields.mid(5).join(' ') : QByteArray(), exe);
        } else if (fields.first() == "Rss:") {
            kb[current] += fields.value(1).toLong();
        }
    }
    return kb;
}

struct Run {
    qint64 firstPaintMs = -1;
    long rssAtPaintKB = -1;
    long rssKB = -1;
    std::array<long, mappingCount> byMapping{};
    double cpuPerMinute = -1;
    int exitCode = -1;
};

// A profile of its own, signed in as the demo account.
struct Profile {
    QTemporaryDir dir;
    QProcessEnvironment env;
};

std::unique_ptr<Profile> makeProfile(const QString& token) {
    auto profile = std::make_unique<Profile>();
    const QTemporaryDir& dir = profile->dir;
    for (const char* folder : {"home", "config/Orvane", "data", "cache", "runtime", "standins"}) {
        QDir().mkpath(dir.filePath(QLatin1String(folder)));
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    orvane::Preferences(dir.filePath(QStringLiteral("config/Orvane/preferences.json")))
        .setString(orvane::SessionStore().tokenKey, token);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("ORVANE_FAKE_TOOLS_HOME"), dir.filePath(QStringLiteral("standins")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    profile->env = env;
    return profile;
}

// One start of `program` to its first paint, `idleSeconds` shown, then the memory, the CPU time
// over `cpuWindowSeconds` (none when 0) and SIGTERM.
std::optional<Run> measure(const QString& program, const QString& token, int idleSeconds,
                           int cpuWindowSeconds) {
    const std::unique_ptr<Profile> profile = makeProfile(token);
    QProcess process;
    process.setProcessEnvironment(profile->env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    Run run;
    QElapsedTimer clock;
    clock.start();
    process.start(program, {QStringLiteral("--orvane-first-paint-marker")});
    while (clock.elapsed() < 30000 && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(20);
        if (process.readAllStandardOutput().contains("first-paint")) {
            run.firstPaintMs = clock.elapsed();
            break;
        }
    }
    if (run.firstPaintMs < 0) {
        std::fprintf(stderr, "shell_bench: no first paint from %s\n%s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const qint64 pid = process.processId();
    run.rssAtPaintKB = statusKB(pid, "VmRSS");
    wait(idleSeconds * 1000);
    run.rssKB = statusKB(pid, "VmRSS");
    run.byMapping = residentByMapping(pid, program);
    if (cpuWindowSeconds > 0) {
        const double cpuBefore = cpuSeconds(pid);
        wait(cpuWindowSeconds * 1000);
        run.cpuPerMinute = (cpuSeconds(pid) - cpuBefore) * 60.0 / cpuWindowSeconds;
    }
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

template <typename T> T median(QList<T> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? T{} : values.at(values.size() / 2);
}

double mb(long kb) {
    return static_cast<double>(kb) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int cpuWindowSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
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

    const QString bareProgram = QStringLiteral(ORVANE_BENCH_BARE_APP);
    const QString ourProgram = QStringLiteral(ORVANE_BENCH_APP);
    QList<Run> bare;
    QList<Run> ours;
    // Alternating, so a change in the machine's load falls on both alike.
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> b = measure(bareProgram, service.demoToken(), idleSeconds, 0);
        const std::optional<Run> o = measure(ourProgram, service.demoToken(), idleSeconds,
                                             i == runs - 1 ? cpuWindowSeconds : 0);
        if (!b || !o) {
            return 1;
        }
        bare.append(*b);
        ours.append(*o);
    }
    const auto medianOf = [](const QList<Run>& list, auto field) {
        QList<std::decay_t<decltype(field(list.first()))>> values;
        for (const Run& run : list) {
            values.append(field(run));
        }
        return median(values);
    };
    const auto paints = [](const QList<Run>& list) {
        QByteArray text;
        for (const Run& run : list) {
            text += ' ' + QByteArray::number(run.firstPaintMs);
        }
        return text;
    };
    const qint64 barePaint = medianOf(bare, [](const Run& r) { return r.firstPaintMs; });
    const qint64 ourPaint = medianOf(ours, [](const Run& r) { return r.firstPaintMs; });
    const long bareRss = medianOf(bare, [](const Run& r) { return r.rssKB; });
    const long ourRss = medianOf(ours, [](const Run& r) { return r.rssKB; });

    std::printf("orvane offscreen against %s, signed in as the demo account; medians of %d "
                "runs each\n",
                ORVANE_BENCH_API_URL, runs);
    std::printf("  process start to first painted window:\n");
    std::printf("    bare window, one label: %5lld ms  (runs:%s)\n",
                static_cast<long long>(barePaint), paints(bare).constData());
    std::printf("    orvane:                 %5lld ms  (runs:%s)\n",
                static_cast<long long>(ourPaint), paints(ours).constData());
    std::printf("    ratio:                  %5.2f x   (target <= 2 x)\n",
                barePaint > 0 ? static_cast<double>(ourPaint) / static_cast<double>(barePaint)
                              : 0.0);
    const long bareAtPaint = medianOf(bare, [](const Run& r) { return r.rssAtPaintKB; });
    const long ourAtPaint = medianOf(ours, [](const Run& r) { return r.rssAtPaintKB; });
    std::printf("  resident memory at the first paint:\n");
    std::printf("    bare window, one label: %5.1f MB\n", mb(bareAtPaint));
    std::printf("    orvane:                 %5.1f MB\n", mb(ourAtPaint));
    std::printf("  resident memory after %d s idle:\n", idleSeconds);
    std::printf("    bare window, one label: %5.1f MB\n", mb(bareRss));
    std::printf("    orvane:                 %5.1f MB  (target < 40 MB)\n", mb(ourRss));
    std::printf("    by mapping (MB, medians)       bare   orvane   difference\n");
    for (int m = 0; m < mappingCount; ++m) {
        const long b = medianOf(bare, [m](const Run& r) { return r.byMapping.at(m); });
        const long o = medianOf(ours, [m](const Run& r) { return r.byMapping.at(m); });
        std::printf("      %-26s %6.1f   %6.1f   %+6.1f\n", kMappingNames.at(m), mb(b), mb(o),
                    mb(o - b));
    }
    if (cpuWindowSeconds > 0) {
        const double perMinute = ours.last().cpuPerMinute;
        std::printf("  CPU time idle (orvane, last run):   %.3f s per minute = %.3f %% of one core "
                    "(target < 0.2 %%)\n",
                    perMinute, perMinute / 60.0 * 100.0);
    }
    std::printf("  orvane quit after SIGTERM with status %d\n", ours.last().exitCode);
    return 0;
}
