#include "HostInfo.h"

#include <QSysInfo>

namespace orvane {

QString HostInfo::hostName() {
    const QString name = QSysInfo::machineHostName().trimmed();
    return name.isEmpty() ? QStringLiteral("Orvane 设备") : name;
}

QString HostInfo::operatingSystemVersion() { return QSysInfo::prettyProductName(); }

} // namespace orvane
