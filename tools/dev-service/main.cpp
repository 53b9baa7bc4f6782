#include "DevService.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <exception>

#include <pthread.h>

namespace {

int intOption(const QCommandLineParser& parser, const QString& name, int fallback, bool& ok) {
    if (!parser.isSet(name)) {
        return fallback;
    }
    bool parsed = false;
    const int value = parser.value(name).toInt(&parsed);
    ok = ok && parsed && value >= 0;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-dev-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the Orvane service API, for development only."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (default 18080)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("ready-after-polls"),
                      QStringLiteral("Protocol-config answers \"not ready\" this many times per "
                                     "device and node (default 2)."),
                      QStringLiteral("N")});
    parser.process(app);

    orvane::dev::DevService::Options options;
    options.logToStderr = true;
    bool ok = true;
    options.port = intOption(parser, QStringLiteral("port"), 18080, ok);
    options.configReadyAfterPolls =
        intOption(parser, QStringLiteral("ready-after-polls"), options.configReadyAfterPolls, ok);
    if (!ok) {
        std::fprintf(stderr, "orvane-dev-service: --port and --ready-after-polls take a number\n");
        return 2;
    }

    // Block the stop signals before any thread exists, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    orvane::dev::DevService service(options);
    try {
        service.start();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("orvane-dev-service listening on %s\n", service.baseURL().toUtf8().constData());
    std::fflush(stdout);
    std::fprintf(stderr, "demo account: %s / %s\n", orvane::dev::DevService::kDemoEmail,
                 orvane::dev::DevService::kDemoPassword);

    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "orvane-dev-service: stopping\n");
    service.stop();
    return 0;
}
