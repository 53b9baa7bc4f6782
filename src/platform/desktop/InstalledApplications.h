#pragma once

#include <QString>

namespace orvane {

// Whether another application is installed, by its desktop entry in the XDG data folders.
class InstalledApplications {
public:
    // True when "<bundleId>.desktop" is in an applications folder. Ids that could name a
    // file outside those folders are never installed.
    static bool isInstalled(const QString& bundleId);
};

} // namespace orvane
