#include "MenuEntry.h"

namespace orvane {

MenuEntry MenuEntry::label(QString title) {
    MenuEntry e;
    e.kind = Kind::text;
    e.text = std::move(title);
    e.enabled = false;
    return e;
}

MenuEntry MenuEntry::action(QString title, MenuCommand command, QString payload) {
    MenuEntry e;
    e.text = std::move(title);
    e.command = command;
    e.payload = std::move(payload);
    return e;
}

MenuEntry MenuEntry::toggle(QString title, bool checked, MenuCommand command) {
    MenuEntry e = action(std::move(title), command);
    e.checkable = true;
    e.checked = checked;
    return e;
}

MenuEntry MenuEntry::separator() {
    MenuEntry e;
    e.kind = Kind::separator;
    e.enabled = false;
    return e;
}

MenuEntry MenuEntry::menu(QString title, QList<MenuEntry> entries) {
    MenuEntry e;
    e.kind = Kind::submenu;
    e.text = std::move(title);
    e.submenu = std::move(entries);
    return e;
}

MenuEntry MenuEntry::choice(QString title, QList<MenuEntry> entries) {
    MenuEntry e = menu(std::move(title), std::move(entries));
    e.exclusive = true;
    return e;
}

} // namespace orvane
