#pragma once

#include <QString>

class QFileDevice;

namespace orvane {

// The reason a system call or a file gave, for a message the user reads: the common cases in
// Chinese, any other as the system words it.
class SystemErrorText {
public:
    static QString fromErrno(int error);
    // The reason of the device's last failure (QFile reports the system's own words).
    static QString fromFileDevice(const QFileDevice& device);
};

} // namespace orvane
