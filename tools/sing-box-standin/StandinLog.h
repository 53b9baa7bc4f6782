#pragma once

#include <QString>

namespace orvane {

// Log lines in the shape the client's log reader expects: "LEVEL[SSSS] message", seconds
// since start. Info and warnings go to stdout, errors to stderr; every line is written at once
// so a log file shared by both streams keeps their order.
class StandinLog {
public:
    enum class Level { Info, Warn, Error, Fatal };

    static void setAnsi(bool enabled);
    static void write(Level level, const QString& message);
    // A line written as it is (the fault knobs' texts), to stderr.
    static void raw(const QString& line);
    static qint64 elapsedMs();
};

} // namespace orvane
