#include "InstalledApplications.h"

#include <QStandardPaths>

namespace orvane {

bool InstalledApplications::isInstalled(const QString& bundleId) {
    if (bundleId.isEmpty() || bundleId.contains(u'/') || bundleId.contains(QStringLiteral("..")) ||
        bundleId.contains(QChar::Null)) {
        return false;
    }
    return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                   bundleId + QStringLiteral(".desktop"))
                .isEmpty();
}

} // namespace orvane
