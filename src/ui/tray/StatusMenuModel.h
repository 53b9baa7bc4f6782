#pragma once

#include "MenuEntry.h"

#include <QList>
#include <QString>

namespace orvane {

class AppState;
class ConnectionState;
struct Endpoint;

// The status item's menu and tool tip, read from the state; a null state (gone at quit) gives
// the defaults: "未连接", "智能模式", "线路", no nodes, no check marks.
class StatusMenuModel {
public:
    static constexpr int kMenuNodeLimit = 12;

    static QList<MenuEntry> build(const AppState* state);
    static QString toolTip(const AppState* state);

    // Shared with the menu-bar menu.
    static QString connectionTitle(const ConnectionState& state);
    // "香港 HK-1 · VLESS · 85 ms", the latency "检测中" below 1 ms.
    static MenuEntry endpointEntry(const Endpoint& endpoint, bool checked);
    static QString latencyText(const Endpoint& endpoint);
    // "线路：" + region + " " + protocol of the selected node; "线路" without state.
    static QString routeTitle(const AppState* state);
    static QList<MenuEntry> outboundModeEntries(const AppState* state);
    // The first 12 nodes in stored order, the selected one checked.
    static QList<MenuEntry> endpointEntries(const AppState* state);
    // The three switches and the reload both menus end with; the reason names the menu.
    static QList<MenuEntry> preferenceEntries(const AppState* state, const QString& reloadReason);
};

} // namespace orvane
