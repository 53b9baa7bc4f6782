#pragma once

#include <QIcon>

namespace orvane {

// The two tray icons, told apart at a glance: the status item shows the product logo in a
// rounded square, the menu-bar entry a bolt in a circle. Each is drawn once per process.
class TrayIconImage {
public:
    static const QIcon& statusIcon();
    static const QIcon& menuBarIcon();
};

} // namespace orvane
