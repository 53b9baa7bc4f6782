#pragma once

#include <QList>
#include <QString>

namespace orvane {

// What a menu item does when chosen; the payload says which mode, node or reload reason.
enum class MenuCommand {
    none,
    showDashboard,
    toggleConnection,
    toggleMenuBarSpeed,
    setOutboundMode,
    selectEndpoint,
    toggleSystemProxy,
    toggleAIEnhanced,
    toggleLaunchAtLogin,
    reloadConfiguration,
    quit,
};

// One item of a tray menu as plain data, so tests read a menu without a tray host.
struct MenuEntry {
    enum class Kind { text, action, separator, submenu };

    Kind kind = Kind::action;
    QString text;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    MenuCommand command = MenuCommand::none;
    QString payload;
    QList<MenuEntry> submenu;
    // A submenu whose checkable items are one choice of many: one exclusive group, radio marks.
    bool exclusive = false;

    static MenuEntry label(QString title);
    static MenuEntry action(QString title, MenuCommand command, QString payload = {});
    static MenuEntry toggle(QString title, bool checked, MenuCommand command);
    static MenuEntry separator();
    static MenuEntry menu(QString title, QList<MenuEntry> entries);
    static MenuEntry choice(QString title, QList<MenuEntry> entries);
};

} // namespace orvane
