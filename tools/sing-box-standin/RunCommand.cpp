#include "RunCommand.h"

#include "StandinLog.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>

namespace orvane {

namespace {

void printDiagnostic(const StandinConfig& config, const QString& context) {
    if (config.errorIsVerbatim()) {
        StandinLog::raw(config.error());
    } else {
        StandinLog::write(StandinLog::Level::Fatal, context + config.error());
    }
}

} // namespace

RunCommand::RunCommand(QString path) : m_path(std::move(path)) {
    connect(&m_signals, &SignalWatcher::received, this, &RunCommand::onSignal);
}

int RunCommand::exec() {
    auto config = std::make_shared<StandinConfig>(StandinConfig::load(m_path));
    StandinLog::setAnsi(config->knobs().ansiLog);
    if (!config->error().isEmpty()) {
        printDiagnostic(*config, QString());
        return 1;
    }
    m_config = config;
    const StandinConfig::Knobs& knobs = m_config->knobs();
    if (knobs.exitAfterMs) {
        const QString text = knobs.exitLog.isEmpty()
                                 ? QStringLiteral("FATAL[0000] stand-in: exiting as configured")
                                 : knobs.exitLog;
        QTimer::singleShot(*knobs.exitAfterMs, this, [text] {
            StandinLog::raw(text);
            QCoreApplication::exit(1);
        });
    }
    if (knobs.startDelayMs > 0) {
        StandinLog::write(
            StandinLog::Level::Info,
            QStringLiteral("stand-in: waiting %1 ms before listening").arg(knobs.startDelayMs));
        QTimer::singleShot(knobs.startDelayMs, this, &RunCommand::start);
    } else {
        start();
        if (m_startFailure != 0) {
            return m_startFailure;
        }
    }
    m_running = true;
    return QCoreApplication::exec();
}

void RunCommand::start() {
    const QString failure = m_service.apply(m_config);
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    m_started = true;
    StandinLog::write(StandinLog::Level::Info,
                      QStringLiteral("sing-box started (%1s)")
                          .arg(static_cast<double>(StandinLog::elapsedMs()) / 1000.0, 0, 'f', 2));
}

void RunCommand::onSignal(int signalNumber) {
    if (signalNumber == SIGHUP) {
        reload();
        return;
    }
    if (m_config->knobs().ignoreSigterm) {
        StandinLog::write(
            StandinLog::Level::Warn,
            QStringLiteral("stand-in: ignoring signal %1 as configured").arg(signalNumber));
        return;
    }
    StandinLog::write(StandinLog::Level::Info, QStringLiteral("sing-box closing"));
    m_service.closeAll();
    QCoreApplication::exit(0);
}

void RunCommand::reload() {
    StandinLog::write(StandinLog::Level::Info, QStringLiteral("received hang-up, reloading"));
    auto next = std::make_shared<StandinConfig>(StandinConfig::load(m_path));
    if (m_config->knobs().dieOnSighup || next->knobs().dieOnSighup) {
        fail(QStringLiteral("reload service: stand-in configured to die on hang-up"));
        return;
    }
    if (!next->error().isEmpty()) {
        if (next->errorIsVerbatim()) {
            StandinLog::raw(next->error());
            QCoreApplication::exit(1);
        } else {
            fail(QStringLiteral("reload service: ") + next->error());
        }
        return;
    }
    m_config = next;
    StandinLog::setAnsi(m_config->knobs().ansiLog);
    if (!m_started) {
        return; // the delayed start picks the new file up
    }
    const QString failure = m_service.apply(m_config);
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    StandinLog::write(StandinLog::Level::Info, QStringLiteral("sing-box reloaded"));
}

void RunCommand::fail(const QString& message) {
    StandinLog::write(StandinLog::Level::Fatal, message);
    m_service.closeAll();
    if (m_running) {
        QCoreApplication::exit(1);
    } else {
        m_startFailure = 1;
    }
}

} // namespace orvane
