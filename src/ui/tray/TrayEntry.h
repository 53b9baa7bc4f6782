#pragma once

#include "MenuCommands.h"
#include "MenuEntry.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace orvane {

class AppState;

// One entry of the application in the desktop's tray: an icon with a tool tip and a menu built
// from a model of the state. The menu is rebuilt with a queued call whenever the state changes
// and after every chosen item (a refused toggle must show its old check again), never inside
// the item's own trigger. Without a tray host the menu exists all the same and no icon is made.
class TrayEntry : public QObject {
    Q_OBJECT
public:
    using Model = std::function<QList<MenuEntry>(const AppState*)>;
    using ToolTip = std::function<QString(const AppState*)>;

    TrayEntry(AppState* state, Model model, ToolTip toolTip, MenuCommands::Shell shell,
              const QIcon& icon, bool trayAvailable, QObject* parent = nullptr);
    ~TrayEntry() override;

    QMenu* menu() const { return m_menu.get(); }
    QSystemTrayIcon* trayIcon() const { return m_icon; }
    const QIcon& icon() const { return m_iconImage; }
    const QList<MenuEntry>& entries() const { return m_entries; }
    const QString& toolTip() const { return m_toolTip; }

    // Rebuilds the menu now; from inside a trigger use scheduleRefresh().
    void refresh();
    void scheduleRefresh();

private:
    void updateToolTip();
    void choose(const MenuEntry& entry);

    QPointer<AppState> m_state;
    Model m_model;
    ToolTip m_toolTipOf;
    MenuCommands::Shell m_shell;
    std::unique_ptr<QMenu> m_menu;
    QIcon m_iconImage;
    QSystemTrayIcon* m_icon = nullptr;
    QList<MenuEntry> m_entries;
    QString m_toolTip;
    bool m_refreshPending = false;
};

} // namespace orvane
