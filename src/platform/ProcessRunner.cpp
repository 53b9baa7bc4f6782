#include "ProcessRunner.h"

#include "OneShotEvent.h"

#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

#include <memory>

namespace orvane {

namespace {

// Runs are started and awaited on the one event loop, so plain counters serve.
struct ActivityClock {
    qint64 runs = 0;
    int running = 0;
    std::chrono::nanoseconds busy{0};
    std::chrono::steady_clock::time_point since;

    void started() {
        ++runs;
        if (running++ == 0) {
            since = std::chrono::steady_clock::now();
        }
    }
    void ended() {
        if (--running == 0) {
            busy += std::chrono::steady_clock::now() - since;
        }
    }
};

ActivityClock& activityClock() {
    static ActivityClock clock;
    return clock;
}

ProcessRunner::BeforeRun& beforeRun() {
    static ProcessRunner::BeforeRun hook;
    return hook;
}

} // namespace

void ProcessRunner::setBeforeRun(BeforeRun hook) { beforeRun() = std::move(hook); }

ProcessRunner::Activity ProcessRunner::activity() {
    const ActivityClock& clock = activityClock();
    Activity now{clock.runs, clock.busy};
    if (clock.running > 0) {
        now.busy += std::chrono::steady_clock::now() - clock.since;
    }
    return now;
}

QString ProcessRunner::decodeUTF8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

QCoro::Task<CommandResult> ProcessRunner::run(QString executable, QStringList arguments,
                                              std::optional<std::chrono::milliseconds> timeout) {
    if (beforeRun()) {
        // A copy: the hook may replace itself.
        const BeforeRun hook = beforeRun();
        hook(executable, arguments);
    }
    auto process = std::make_unique<QProcess>();
    process->setProgram(executable);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    OneShotEvent ended;
    bool failedToStart = false;
    QObject::connect(process.get(), &QProcess::finished, &ended, &OneShotEvent::set);
    QObject::connect(process.get(), &QProcess::errorOccurred, &ended,
                     [&ended, &failedToStart](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             failedToStart = true;
                             ended.set();
                         }
                     });

    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    if (timeout) {
        QObject::connect(&timer, &QTimer::timeout, process.get(), [&timedOut, p = process.get()] {
            timedOut = true;
            p->kill();
        });
    }

    activityClock().started();
    process->start(QIODevice::ReadOnly);
    if (timeout) {
        timer.start(*timeout);
    }
    co_await ended.wait();
    timer.stop();
    activityClock().ended();

    CommandResult result;
    if (failedToStart) {
        result.status = 127;
        result.launchFailed = true;
        result.standardError = process->errorString();
        co_return result;
    }
    // QProcess has been reading both pipes all along; this takes what is left.
    result.standardOutput = decodeUTF8(process->readAllStandardOutput());
    result.standardError = decodeUTF8(process->readAllStandardError());
    if (timedOut) {
        result.status = 124;
        if (result.standardError.isEmpty()) {
            result.standardError = QStringLiteral("命令执行超时：") + executable;
        }
    } else if (process->exitStatus() == QProcess::CrashExit) {
        // A child ended by a signal has no exit code of its own; report it like a shell does.
        result.status = 128 + 9;
    } else {
        result.status = process->exitCode();
    }
    co_return result;
}

} // namespace orvane
