#include "TrayEntry.h"

#include "AppState.h"
#include "MenuRenderer.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace orvane {

TrayEntry::TrayEntry(AppState* state, Model model, ToolTip toolTip, MenuCommands::Shell shell,
                     const QIcon& icon, bool trayAvailable, QObject* parent)
    : QObject(parent), m_state(state), m_model(std::move(model)), m_toolTipOf(std::move(toolTip)),
      m_shell(std::move(shell)), m_menu(std::make_unique<QMenu>()), m_iconImage(icon) {
    if (trayAvailable) {
        m_icon = new QSystemTrayIcon(icon, this);
        m_icon->setContextMenu(m_menu.get());
        // A left click opens the menu too, as a click on a menu-bar item does.
        connect(m_icon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) {
                        m_menu->popup(QCursor::pos());
                    }
                });
    }
    if (state) {
        for (auto signal : {&AppState::connectionStateChanged, &AppState::preferencesChanged,
                            &AppState::endpointsChanged, &AppState::selectedEndpointChanged}) {
            connect(state, signal, this, &TrayEntry::scheduleRefresh);
        }
        // The tool tip follows the state as it changes, not only when the menu opens.
        for (auto signal : {&AppState::connectionStateChanged, &AppState::preferencesChanged,
                            &AppState::speedChanged}) {
            connect(state, signal, this, &TrayEntry::updateToolTip);
        }
        connect(state, &QObject::destroyed, this, &TrayEntry::scheduleRefresh);
    }
    refresh();
    if (m_icon) {
        m_icon->show();
    }
}

TrayEntry::~TrayEntry() = default;

void TrayEntry::refresh() {
    m_refreshPending = false;
    m_entries = m_model(m_state.data());
    MenuRenderer::render(*m_menu, m_entries, [this](const MenuEntry& entry) { choose(entry); });
    updateToolTip();
}

void TrayEntry::scheduleRefresh() {
    if (m_refreshPending) {
        return;
    }
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &TrayEntry::refresh, Qt::QueuedConnection);
}

void TrayEntry::updateToolTip() {
    const QString text = m_toolTipOf(m_state.data());
    if (text == m_toolTip) {
        return;
    }
    m_toolTip = text;
    if (m_icon) {
        m_icon->setToolTip(text);
    }
}

void TrayEntry::choose(const MenuEntry& entry) {
    scheduleRefresh();
    MenuCommands::run(m_state.data(), entry, m_shell);
}

} // namespace orvane
