#pragma once

#include "MenuEntry.h"

#include <QList>
#include <QString>

namespace orvane {

class AppState;

// The menu-bar entry's menu: the status item's commands plus the speed switch, with its own
// titles ("出站模式：" and the mode, "退出"), its own reload reason and an empty node submenu
// when there are no nodes.
class MenuBarMenuModel {
public:
    static QList<MenuEntry> build(const AppState* state);
    // The icon's tool tip: the speed while the speed display is on, else the product name.
    static QString toolTip(const AppState* state);
};

} // namespace orvane
