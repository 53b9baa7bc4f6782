#include "StandinLog.h"

#include <QElapsedTimer>

#include <unistd.h>

#include <cstdio>

namespace orvane {

namespace {

bool g_ansi = false;

QElapsedTimer& clock() {
    static QElapsedTimer timer = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return timer;
}

void emitLine(int fd, const QString& line) {
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            return;
        }
        done += written;
    }
}

} // namespace

void StandinLog::setAnsi(bool enabled) {
    g_ansi = enabled;
}

void StandinLog::write(Level level, const QString& message) {
    const char* name = "INFO";
    const char* colour = "36";
    switch (level) {
    case Level::Info:
        break;
    case Level::Warn:
        name = "WARN";
        colour = "33";
        break;
    case Level::Error:
        name = "ERROR";
        colour = "31";
        break;
    case Level::Fatal:
        name = "FATAL";
        colour = "31";
        break;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "[%04lld]", static_cast<long long>(elapsedMs() / 1000));
    const QString label =
        g_ansi ? QStringLiteral("\x1b[%1m%2\x1b[0m").arg(QLatin1String(colour), QLatin1String(name))
               : QLatin1String(name);
    const bool toStderr = level == Level::Error || level == Level::Fatal;
    emitLine(toStderr ? STDERR_FILENO : STDOUT_FILENO,
             label + QLatin1String(seconds) + QLatin1Char(' ') + message);
}

void StandinLog::raw(const QString& line) {
    emitLine(STDERR_FILENO, line);
}

qint64 StandinLog::elapsedMs() {
    return clock().elapsed();
}

} // namespace orvane
