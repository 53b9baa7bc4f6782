// A stand-in for the sing-box executable, for development and tests; never installed with the
// application. It speaks the command line the client uses:
//
//   sing-box check -c FILE   validate FILE; silent exit 0, or one "FATAL[0000] ..." line on
//                            stderr and exit 1
//   sing-box run -c FILE     validate, then serve FILE's inbounds on loopback until SIGTERM or
//                            SIGINT (exit 0); SIGHUP rereads FILE and rebinds; errors exit 1
//   sing-box version         one line naming the stand-in
//
// Inbounds of type "mixed" (SOCKS5 and HTTP proxy on one port), "socks" and "http" are served;
// any other type is rejected by check. Every outbound connects straight to the target, except
// type "block", which refuses. Which outbound applies comes from the route's rules as far as
// they use "inbound", "domain", "domain_suffix" and "ip_cidr", else from route "final", else
// the first outbound. Only loopback destinations (127.0.0.0/8, ::1, localhost) are reached;
// any other is refused without a name lookup, so nothing ever leaves the machine. An outbound
// without a tag is known by its type. No pid file is written.
//
// Fault knobs, read from a top-level object "_standin" (sing-box itself has no such key):
//   "failCheck": "text"      check and run fail, printing the text as it is
//   "exitAfterMs": N         run prints "exitLog" (or a default line) and exits 1 after N ms
//   "exitLog": "text"
//   "ignoreSigterm": true    SIGTERM and SIGINT are logged and ignored
//   "dieOnSighup": true      SIGHUP logs a FATAL line and exits 1 (from the running file or the
//                            reread one)
//   "ansiLog": true          level names are wrapped in ANSI colours, "\e[36mINFO\e[0m[0000] ..."
//   "startDelayMs": N        run waits N ms before it listens

#include "RunCommand.h"
#include "SignalWatcher.h"
#include "StandinConfig.h"
#include "StandinLog.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

using orvane::StandinConfig;
using orvane::StandinLog;

namespace {

int usage() {
    StandinLog::raw(QStringLiteral("usage: sing-box check|run -c FILE"));
    return 1;
}

// "-c FILE", "-c=FILE", "--config FILE" or "--config=FILE"; other options are ignored.
QString configPath(int argc, char** argv) {
    QString path;
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if ((arg == QLatin1String("-c") || arg == QLatin1String("--config")) && i + 1 < argc) {
            path = QString::fromLocal8Bit(argv[++i]);
        } else if (arg.startsWith(QLatin1String("-c=")) ||
                   arg.startsWith(QLatin1String("--config="))) {
            path = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
        }
    }
    return path;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        return usage();
    }
    const char* command = argv[1];
    if (std::strcmp(command, "version") == 0) {
        std::fputs("sing-box version 0.0.0 (orvane stand-in)\n", stdout);
        return 0;
    }
    const QString path = configPath(argc, argv);
    if (path.isEmpty()) {
        return usage();
    }
    if (std::strcmp(command, "check") == 0) {
        const StandinConfig config = StandinConfig::load(path);
        if (config.error().isEmpty()) {
            return 0;
        }
        StandinLog::setAnsi(config.knobs().ansiLog);
        if (config.errorIsVerbatim()) {
            StandinLog::raw(config.error());
        } else {
            StandinLog::write(StandinLog::Level::Fatal, config.error());
        }
        return 1;
    }
    if (std::strcmp(command, "run") == 0) {
        // Before any thread exists, so that every thread leaves these signals to the watcher.
        orvane::SignalWatcher::blockWatchedSignals();
        QCoreApplication app(argc, argv);
        orvane::RunCommand run(path);
        return run.exec();
    }
    return usage();
}
