#pragma once

#include <QString>
#include <QUuid>

namespace orvane {

struct LogEntry {
    QUuid id;
    QString time; // "HH:mm:ss", local
    QString message;

    friend bool operator==(const LogEntry&, const LogEntry&) = default;
};

} // namespace orvane
