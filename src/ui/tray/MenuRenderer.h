#pragma once

#include "MenuEntry.h"

#include <QList>

#include <functional>

class QMenu;

namespace orvane {

// Turns a menu model into the items of a QMenu. Never call it from inside one of the menu's own
// triggers: it deletes the old items.
class MenuRenderer {
public:
    using Handler = std::function<void(const MenuEntry&)>;

    static void render(QMenu& menu, const QList<MenuEntry>& entries, const Handler& handler);
};

} // namespace orvane
