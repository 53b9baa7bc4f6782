#pragma once

#include <QString>

namespace orvane {

// Facts about this machine that the service is told when a device is bound.
class HostInfo {
public:
    // The pretty host name, else the machine's host name, else "Mac".
    static QString hostName();
    // The operating system and its version, e.g. "Debian GNU/Linux 12 (bookworm)". The same
    // text on every run: a bound device is found again by exact equality.
    static QString operatingSystemVersion();
};

} // namespace orvane
