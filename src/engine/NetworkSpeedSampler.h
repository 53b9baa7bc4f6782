#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace orvane {

// Cumulative byte counters of the counted interfaces at one moment.
struct NetworkTrafficSample {
    quint64 receivedBytes = 0;
    quint64 sentBytes = 0;
    QDateTime date;
};

// One entry of the system's interface list, as far as the sums need it.
struct InterfaceCounters {
    QString name;
    unsigned int flags = 0;
    int family = 0; // AF_UNSPEC when the entry has no address
    bool hasData = false;
    quint32 rxBytes = 0; // the system keeps 32-bit counters that wrap at 4 GiB
    quint32 txBytes = 0;
};

// Reads the machine's network byte counters for the live speed display. Stateless.
class NetworkSpeedSampler {
public:
    // Never fails: an unreadable interface list gives zero sums.
    static NetworkTrafficSample sample();

    // Sums the up, non-loopback link-layer entries that carry data.
    static NetworkTrafficSample sum(const QList<InterfaceCounters>& interfaces, QDateTime date);
    // The machine's interface list, empty when it cannot be read.
    static QList<InterfaceCounters> readInterfaces();
};

} // namespace orvane
