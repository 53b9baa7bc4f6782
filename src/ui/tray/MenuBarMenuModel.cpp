#include "MenuBarMenuModel.h"

#include "AppState.h"
#include "ConnectionLabels.h"
#include "StatusMenuModel.h"

namespace orvane {

QList<MenuEntry> MenuBarMenuModel::build(const AppState* state) {
    const QString status = state ? state->statusTitle() : QStringLiteral("未连接");
    const OutboundMode mode = state ? state->outboundMode() : OutboundMode::smart;
    const ConnectionState connection = state ? state->connectionState() : ConnectionState();
    QList<MenuEntry> entries{
        MenuEntry::label(QStringLiteral("Orvane · ") + status),
        MenuEntry::action(QStringLiteral("显示仪表盘"), MenuCommand::showDashboard),
        MenuEntry::action(StatusMenuModel::connectionTitle(connection),
                          MenuCommand::toggleConnection),
        MenuEntry::separator(),
        MenuEntry::toggle(QStringLiteral("实时显示网速"), state && state->showMenuBarSpeed(),
                          MenuCommand::toggleMenuBarSpeed),
        MenuEntry::choice(QStringLiteral("出站模式：") + outboundModeTitle(mode),
                          StatusMenuModel::outboundModeEntries(state)),
        MenuEntry::choice(StatusMenuModel::routeTitle(state),
                          StatusMenuModel::endpointEntries(state)),
    };
    entries << StatusMenuModel::preferenceEntries(state, QStringLiteral("菜单手动重载配置"));
    entries << MenuEntry::action(QStringLiteral("退出"), MenuCommand::quit);
    return entries;
}

QString MenuBarMenuModel::toolTip(const AppState* state) {
    return state && state->showMenuBarSpeed() ? state->menuBarTitle() : QStringLiteral("Orvane");
}

} // namespace orvane
