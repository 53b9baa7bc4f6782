#include "MenuRenderer.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace orvane {

void MenuRenderer::render(QMenu& menu, const QList<MenuEntry>& entries, const Handler& handler) {
    // Submenus are children of the menu: clear() leaves them, so delete them with their actions.
    const QList<QMenu*> oldSubmenus = menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    menu.clear();
    qDeleteAll(oldSubmenus);
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
        case MenuEntry::Kind::separator:
            menu.addSeparator();
            break;
        case MenuEntry::Kind::submenu: {
            auto* submenu = new QMenu(entry.text, &menu);
            render(*submenu, entry.submenu, handler);
            if (entry.exclusive) {
                auto* group = new QActionGroup(submenu);
                group->setExclusive(true);
                for (QAction* action : submenu->actions()) {
                    if (action->isCheckable()) {
                        group->addAction(action);
                    }
                }
            }
            menu.addMenu(submenu)->setEnabled(entry.enabled);
            break;
        }
        case MenuEntry::Kind::text:
        case MenuEntry::Kind::action: {
            QAction* action = menu.addAction(entry.text);
            action->setEnabled(entry.enabled);
            action->setCheckable(entry.checkable);
            action->setChecked(entry.checked);
            if (entry.command != MenuCommand::none) {
                QObject::connect(action, &QAction::triggered, &menu,
                                 [handler, entry] { handler(entry); });
            }
            break;
        }
        }
    }
}

} // namespace orvane
