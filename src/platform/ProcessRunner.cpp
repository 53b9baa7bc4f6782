#include "ProcessRunner.h"

#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

#include <QCoro/QCoroSignal>

#include <memory>

namespace orvane {

namespace {

// Fires `ended` exactly once: after `finished`, or after a failure to start.
class ProcessWatch : public QObject {
    Q_OBJECT
public:
    explicit ProcessWatch(QProcess* process) {
        connect(process, &QProcess::finished, this, &ProcessWatch::finish);
        connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                failedToStart = true;
                finish();
            }
        });
    }
    bool done = false;
    bool failedToStart = false;

signals:
    void ended();

private:
    void finish() {
        if (!done) {
            done = true;
            emit ended();
        }
    }
};

} // namespace

QString ProcessRunner::decodeUTF8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

QCoro::Task<CommandResult> ProcessRunner::run(QString executable, QStringList arguments,
                                              std::optional<std::chrono::milliseconds> timeout) {
    auto process = std::make_unique<QProcess>();
    process->setProgram(executable);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    ProcessWatch watch(process.get());

    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    if (timeout) {
        QObject::connect(&timer, &QTimer::timeout, process.get(), [&timedOut, p = process.get()] {
            timedOut = true;
            p->kill();
        });
    }

    process->start(QIODevice::ReadOnly);
    if (timeout) {
        timer.start(*timeout);
    }
    if (!watch.done) {
        co_await qCoro(&watch, &ProcessWatch::ended);
    }
    timer.stop();

    CommandResult result;
    if (watch.failedToStart) {
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

#include "ProcessRunner.moc"
