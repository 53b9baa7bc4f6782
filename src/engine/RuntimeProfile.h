#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace orvane {

// The loopback ports and the sing-box markers one installation of the client claims as its own.
// Everything that picks, sweeps or switches off "our" ports or processes goes by this, so a
// second copy (a test run beside the application) can be given ports and markers of its own.
struct RuntimeProfile {
    // The default local proxy port, first of the candidates.
    int firstProxyPort = 19090;
    int proxyPortCount = 20;
    int aiProxyPort = 19110;
    // A sing-box whose command line holds one of these, in any letter case, is ours.
    QStringList ownershipMarkers{QStringLiteral("orvane"), QStringLiteral("velmo"),
                                 QStringLiteral("orvane-active.json"),
                                 QStringLiteral("/application support/orvane/")};

    // The candidate local proxy ports, ascending.
    QList<int> proxyPortRange() const {
        QList<int> ports;
        for (int i = 0; i < proxyPortCount; ++i) {
            ports << firstProxyPort + i;
        }
        return ports;
    }
};

} // namespace orvane
