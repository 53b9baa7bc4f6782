#pragma once

#include <QString>

namespace orvane {

// Facts about this machine that the service is told when a device is bound.
class HostInfo {
public:
    // The machine's host name, or "Orvane 设备" when it has none.
    static QString hostName();
    // The operating system and its version, e.g. "Debian GNU/Linux 12 (bookworm)".
    static QString operatingSystemVersion();
};

} // namespace orvane
