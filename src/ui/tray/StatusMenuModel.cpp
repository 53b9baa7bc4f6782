#include "StatusMenuModel.h"

#include "AppState.h"
#include "ConnectionLabels.h"
#include "ConnectionPanel.h"

namespace orvane {

namespace {
const QString kProduct = QStringLiteral("Orvane · ");
const QString kNotConnected = QStringLiteral("未连接");
} // namespace

QString StatusMenuModel::connectionTitle(const ConnectionState& state) {
    return ConnectionPanel::connectButtonTitle(state);
}

QString StatusMenuModel::latencyText(const Endpoint& endpoint) {
    return endpoint.latencyMs >= 1 ? QString::number(endpoint.latencyMs) + QStringLiteral(" ms")
                                   : QStringLiteral("检测中");
}

MenuEntry StatusMenuModel::endpointEntry(const Endpoint& endpoint, bool checked) {
    const QString head = endpoint.region + QLatin1Char(' ') + endpoint.name +
                         QStringLiteral(" · ") + protocolLabel(endpoint.preferredProtocol) +
                         QStringLiteral(" · ");
    MenuEntry entry =
        MenuEntry::action(head + latencyText(endpoint), MenuCommand::selectEndpoint, endpoint.id);
    entry.checkable = true;
    entry.checked = checked;
    return entry;
}

QString StatusMenuModel::routeTitle(const AppState* state) {
    if (!state) {
        return QStringLiteral("线路");
    }
    const Endpoint selected = state->selectedEndpoint();
    return QStringLiteral("线路：") + selected.region + QLatin1Char(' ') +
           protocolLabel(selected.preferredProtocol);
}

QList<MenuEntry> StatusMenuModel::outboundModeEntries(const AppState* state) {
    QList<MenuEntry> entries;
    for (const OutboundMode mode : allOutboundModes()) {
        MenuEntry entry = MenuEntry::action(outboundModeTitle(mode), MenuCommand::setOutboundMode,
                                            rawValue(mode));
        entry.checkable = true;
        entry.checked = state && state->outboundMode() == mode;
        entries << entry;
    }
    return entries;
}

QList<MenuEntry> StatusMenuModel::endpointEntries(const AppState* state) {
    QList<MenuEntry> entries;
    if (!state) {
        return entries;
    }
    const QString selectedId = state->selectedEndpoint().id;
    const QList<Endpoint>& endpoints = state->endpoints();
    for (qsizetype i = 0; i < endpoints.size() && i < kMenuNodeLimit; ++i) {
        entries << endpointEntry(endpoints[i], endpoints[i].id == selectedId);
    }
    return entries;
}

QList<MenuEntry> StatusMenuModel::build(const AppState* state) {
    const QString status = state ? state->statusTitle() : kNotConnected;
    const QString mode = outboundModeTitle(state ? state->outboundMode() : OutboundMode::smart);
    QList<MenuEntry> nodes = endpointEntries(state);
    if (nodes.isEmpty()) {
        nodes << MenuEntry::label(QStringLiteral("暂无可用节点"));
    }
    const ConnectionState connection = state ? state->connectionState() : ConnectionState();
    QList<MenuEntry> entries{
        MenuEntry::label(kProduct + status + QStringLiteral(" · ") + mode),
        MenuEntry::separator(),
        MenuEntry::action(QStringLiteral("显示仪表盘"), MenuCommand::showDashboard),
        MenuEntry::action(connectionTitle(connection), MenuCommand::toggleConnection),
        MenuEntry::separator(),
        MenuEntry::choice(QStringLiteral("出站模式"), outboundModeEntries(state)),
        MenuEntry::choice(routeTitle(state), nodes),
        MenuEntry::separator(),
    };
    entries << preferenceEntries(state, QStringLiteral("状态栏菜单手动重载配置"));
    entries << MenuEntry::action(QStringLiteral("退出 Orvane"), MenuCommand::quit);
    return entries;
}

QList<MenuEntry> StatusMenuModel::preferenceEntries(const AppState* state,
                                                    const QString& reloadReason) {
    return {
        MenuEntry::toggle(QStringLiteral("设为系统代理"), state && state->systemProxyEnabled(),
                          MenuCommand::toggleSystemProxy),
        MenuEntry::toggle(QStringLiteral("AI 增强入口"), state && state->aiEnhancedModeEnabled(),
                          MenuCommand::toggleAIEnhanced),
        MenuEntry::toggle(QStringLiteral("登录时启动"), state && state->launchAtLogin(),
                          MenuCommand::toggleLaunchAtLogin),
        MenuEntry::action(QStringLiteral("重载配置"), MenuCommand::reloadConfiguration,
                          reloadReason),
        MenuEntry::separator(),
    };
}

QString StatusMenuModel::toolTip(const AppState* state) {
    return kProduct + (state ? state->statusTitle() : kNotConnected);
}

} // namespace orvane
