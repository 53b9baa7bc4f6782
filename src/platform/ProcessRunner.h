#pragma once

#include "CommandResult.h"
#include "LocalizedError.h"

#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace orvane {

// A program that could not be started.
class ProcessLaunchError : public LocalizedError {
public:
    ProcessLaunchError(QString program, QString reason)
        : m_program(std::move(program)), m_reason(std::move(reason)) {}
    const QString& program() const { return m_program; }
    const QString& reason() const { return m_reason; }
    QString localizedDescription() const override {
        return QStringLiteral("无法启动 %1：%2").arg(m_program, m_reason);
    }

private:
    QString m_program;
    QString m_reason;
};

// Runs a tool by absolute path with an argument list (no shell), collecting both pipes while
// it runs. Never throws: a launch failure is status 127 with the launch error as standard
// error; a tool that outlives `timeout` is killed and reported as status 124.
class ProcessRunner {
public:
    // Long enough for any tool we run, short enough that a hung one cannot stall us for ever.
    static constexpr std::chrono::milliseconds kDefaultTimeout{60000};

    static QCoro::Task<CommandResult>
    run(QString executable, QStringList arguments,
        std::optional<std::chrono::milliseconds> timeout = kDefaultTimeout);

    // Text as UTF-8, or empty when the bytes are not valid UTF-8.
    static QString decodeUTF8(const QByteArray& bytes);

    // How many runs have started in this process, and the wall time during which at least one
    // was under way: lets a benchmark tell the tools' time from our own.
    struct Activity {
        qint64 runs = 0;
        std::chrono::nanoseconds busy{0};
    };
    static Activity activity();

    // Called just before every run starts: lets a test make another operation arrive at a
    // chosen tool run. The application never sets one.
    using BeforeRun = std::function<void(const QString& executable, const QStringList& arguments)>;
    static void setBeforeRun(BeforeRun hook);
};

} // namespace orvane
