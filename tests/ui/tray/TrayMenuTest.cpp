#include "MenuBarMenuModel.h"
#include "MenuCommands.h"
#include "OrvaneRuntimeError.h"
#include "StatusMenuModel.h"
#include "TrayEntry.h"
#include "UiFixture.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using Access = AppStateTestAccess;
using C = ConnectionState::Case;

namespace {

QStringList titles(const QList<MenuEntry>& entries) {
    QStringList list;
    for (const MenuEntry& e : entries) {
        list << (e.kind == MenuEntry::Kind::separator ? QStringLiteral("—") : e.text);
    }
    return list;
}

const MenuEntry& entryTitled(const QList<MenuEntry>& entries, const QString& prefix) {
    for (const MenuEntry& e : entries) {
        if (e.text.startsWith(prefix)) {
            return e;
        }
    }
    static const MenuEntry none;
    ADD_FAILURE() << "no entry " << prefix.toStdString();
    return none;
}

QAction* actionTitled(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    ADD_FAILURE() << "no action " << text.toStdString();
    return nullptr;
}

QList<Endpoint> endpoints(int count) {
    QList<Endpoint> list;
    for (int i = 1; i <= count; ++i) {
        list << makeEndpoint(QStringLiteral("n%1").arg(i), QStringLiteral("HK-%1").arg(i),
                             i == 1 ? 0 : 85);
    }
    return list;
}

TEST(TrayMenuModel, WithoutStateBothMenusShowTheirDefaults) {
    const QList<MenuEntry> status = StatusMenuModel::build(nullptr);
    EXPECT_EQ(titles(status),
              (QStringList{"Orvane · 未连接 · 智能模式", "—", "显示仪表盘", "一键连接", "—",
                           "出站模式", "线路", "—", "设为系统代理", "AI 增强入口", "登录时启动",
                           "重载配置", "—", "退出 Orvane"}));
    EXPECT_EQ(titles(status[5].submenu),
              (QStringList{"智能模式", "全局代理", "直连模式", "增强模式"}));
    ASSERT_EQ(status[6].submenu.size(), 1);
    EXPECT_EQ(status[6].submenu[0].text, QStringLiteral("暂无可用节点"));
    EXPECT_FALSE(status[6].submenu[0].enabled);
    EXPECT_EQ(StatusMenuModel::toolTip(nullptr), QStringLiteral("Orvane · 未连接"));

    const QList<MenuEntry> bar = MenuBarMenuModel::build(nullptr);
    EXPECT_EQ(titles(bar),
              (QStringList{"Orvane · 未连接", "显示仪表盘", "一键连接", "—", "实时显示网速",
                           "出站模式：智能模式", "线路", "设为系统代理", "AI 增强入口",
                           "登录时启动", "重载配置", "—", "退出"}));
    EXPECT_TRUE(bar[6].submenu.isEmpty());
    for (const auto* list : {&status, &bar}) {
        for (const MenuEntry& e : *list) {
            EXPECT_FALSE(e.checked) << e.text.toStdString();
            for (const MenuEntry& sub : e.submenu) {
                EXPECT_FALSE(sub.checked) << sub.text.toStdString();
            }
        }
    }
    EXPECT_EQ(entryTitled(status, "重载配置").payload, QStringLiteral("状态栏菜单手动重载配置"));
    EXPECT_EQ(entryTitled(bar, "重载配置").payload, QStringLiteral("菜单手动重载配置"));
}

TEST(TrayMenuModel, ConnectionItemAndStatusLineFollowEachState) {
    StateFixture f;
    AppState& state = f.makeState();
    state.setOutboundMode(OutboundMode::global);
    const struct {
        ConnectionState connection;
        const char* item;
        const char* status;
    } cases[] = {
        {C::disconnected, "一键连接", "未连接"},
        {C::preparing, "正在连接", "正在连接"},
        {C::configReady, "一键连接", "配置已准备"},
        {C::connected, "断开连接", "已连接"},
        {C::disconnecting, "正在断开", "正在断开"},
        {C::repairing, "正在修复", "正在修复连接"},
        {ConnectionState::failed(QStringLiteral("x")), "一键连接", "连接异常"},
    };
    for (const auto& c : cases) {
        Access::setConnectionState(state, c.connection);
        const QString status = QString::fromUtf8(c.status);
        const QList<MenuEntry> item = StatusMenuModel::build(&state);
        const QList<MenuEntry> bar = MenuBarMenuModel::build(&state);
        EXPECT_EQ(item[3].text, QString::fromUtf8(c.item));
        EXPECT_EQ(bar[2].text, QString::fromUtf8(c.item));
        EXPECT_EQ(item[0].text,
                  QStringLiteral("Orvane · ") + status + QStringLiteral(" · 全局代理"));
        EXPECT_EQ(bar[0].text, QStringLiteral("Orvane · ") + status);
        EXPECT_EQ(StatusMenuModel::toolTip(&state), QStringLiteral("Orvane · ") + status);
        // The connection item stays enabled in every state.
        EXPECT_TRUE(item[3].enabled);
    }
    EXPECT_EQ(MenuBarMenuModel::build(&state)[5].text, QStringLiteral("出站模式：全局代理"));
    EXPECT_TRUE(StatusMenuModel::build(&state)[5].submenu[1].checked);
}

TEST(TrayMenuModel, NodeSubmenuListsTheFirstTwelveAndChecksTheSelected) {
    StateFixture f;
    AppState& state = f.makeState();
    Access::setEndpoints(state, endpoints(20));
    state.selectEndpointFromMenu(state.endpoints()[4]);

    const QList<MenuEntry> nodes = StatusMenuModel::build(&state)[6].submenu;
    ASSERT_EQ(nodes.size(), 12);
    EXPECT_EQ(nodes[11].payload, QStringLiteral("n12"));
    for (int i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i].checked, i == 4);
    }
    EXPECT_EQ(StatusMenuModel::build(&state)[6].text, QStringLiteral("线路：香港 VLESS"));
    EXPECT_EQ(nodes[0].text, QStringLiteral("香港 HK-1 · VLESS · 检测中"));
    EXPECT_EQ(nodes[1].text, QStringLiteral("香港 HK-2 · VLESS · 85 ms"));

    state.selectEndpointFromMenu(state.endpoints()[19]);
    const QList<MenuEntry> barNodes = MenuBarMenuModel::build(&state)[6].submenu;
    ASSERT_EQ(barNodes.size(), 12);
    for (const MenuEntry& e : barNodes) {
        EXPECT_FALSE(e.checked);
    }
}

TEST(TrayMenuCommands, StaleModeOrNodeIsIgnoredAndNoStateDoesOnlyTheShellsPart) {
    StateFixture f;
    AppState& state = f.makeState();
    Access::setEndpoints(state, endpoints(3));
    state.selectEndpointFromMenu(state.endpoints()[0]);
    int shown = 0;
    int quits = 0;
    const MenuCommands::Shell shell{[&] { ++shown; }, [&] { ++quits; }};

    MenuCommands::run(&state, MenuEntry::action({}, MenuCommand::setOutboundMode, "gone"), shell);
    MenuCommands::run(&state, MenuEntry::action({}, MenuCommand::selectEndpoint, "n9"), shell);
    EXPECT_EQ(state.outboundMode(), OutboundMode::smart);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("n1"));
    MenuCommands::run(&state, MenuEntry::action({}, MenuCommand::setOutboundMode, "direct"), shell);
    MenuCommands::run(&state, MenuEntry::action({}, MenuCommand::selectEndpoint, "n3"), shell);
    EXPECT_EQ(state.outboundMode(), OutboundMode::direct);
    EXPECT_EQ(state.selectedEndpointId(), QStringLiteral("n3"));

    for (const MenuEntry& e : StatusMenuModel::build(nullptr) + MenuBarMenuModel::build(nullptr)) {
        MenuCommands::run(nullptr, e, shell);
    }
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(quits, 2);
}

TEST(TrayEntry, ToggleTakesItsValueFromTheStateAndARefusalShowsUnchecked) {
    StateFixture f;
    f.launchAtLoginRefusal = OrvaneRuntimeError::connectionFailed(QStringLiteral("refused"));
    AppState& state = f.makeState();
    TrayEntry entry(&state, &StatusMenuModel::build, &StatusMenuModel::toolTip, {}, QIcon(), false);

    QAction* login = actionTitled(entry.menu(), QStringLiteral("登录时启动"));
    ASSERT_TRUE(login);
    login->trigger(); // Qt checks it before the state refuses
    settle();
    EXPECT_FALSE(state.launchAtLogin());
    EXPECT_FALSE(actionTitled(entry.menu(), QStringLiteral("登录时启动"))->isChecked());

    // A second trigger of a stale (already checked) action still asks for "on".
    f.launchAtLoginRefusal.reset();
    QAction* again = actionTitled(entry.menu(), QStringLiteral("登录时启动"));
    again->setChecked(true);
    again->trigger();
    settle();
    EXPECT_EQ(f.launchAtLoginRequests, QList<bool>{true});
    EXPECT_TRUE(actionTitled(entry.menu(), QStringLiteral("登录时启动"))->isChecked());
}

// Modes and nodes are one choice of many: radio items in one exclusive group per submenu.
TEST(TrayEntry, ModeAndNodeSubmenusAreExclusiveChoices) {
    StateFixture f;
    AppState& state = f.makeState();
    Access::setEndpoints(state, endpoints(3));
    state.selectEndpointFromMenu(state.endpoints()[1]);
    for (const TrayEntry::Model& model :
         {TrayEntry::Model(&StatusMenuModel::build), TrayEntry::Model(&MenuBarMenuModel::build)}) {
        TrayEntry entry(&state, model, &StatusMenuModel::toolTip, {}, QIcon(), false);
        int choices = 0;
        for (QAction* item : entry.menu()->actions()) {
            QMenu* submenu = item->menu();
            if (!submenu) {
                continue;
            }
            ++choices;
            const QList<QAction*> actions = submenu->actions();
            ASSERT_FALSE(actions.isEmpty());
            QActionGroup* group = actions.first()->actionGroup();
            ASSERT_NE(group, nullptr) << item->text().toStdString();
            EXPECT_TRUE(group->isExclusive());
            EXPECT_EQ(group->actions(), actions);
            EXPECT_EQ(group->checkedAction() ? 1 : 0, 1) << item->text().toStdString();
        }
        EXPECT_EQ(choices, 2);
    }
}

TEST(TrayEntry, ToolTipsFollowTheStateWithoutTheMenuOpening) {
    StateFixture f;
    AppState& state = f.makeState();
    TrayEntry status(&state, &StatusMenuModel::build, &StatusMenuModel::toolTip, {}, QIcon(),
                     false);
    TrayEntry bar(&state, &MenuBarMenuModel::build, &MenuBarMenuModel::toolTip, {}, QIcon(), false);
    EXPECT_EQ(status.toolTip(), QStringLiteral("Orvane · 未连接"));
    EXPECT_EQ(bar.toolTip(), QStringLiteral("Orvane"));

    Access::setConnectionState(state, C::connected);
    EXPECT_EQ(status.toolTip(), QStringLiteral("Orvane · 已连接"));

    // The speed switch rebuilds its own menu from inside its trigger: queued, so no crash.
    actionTitled(bar.menu(), QStringLiteral("实时显示网速"))->trigger();
    EXPECT_TRUE(state.showMenuBarSpeed());
    EXPECT_EQ(bar.toolTip(), state.menuBarTitle());
    EXPECT_TRUE(bar.toolTip().startsWith(QStringLiteral("↓ ")));
    settle();
    EXPECT_TRUE(actionTitled(bar.menu(), QStringLiteral("实时显示网速"))->isChecked());
    EXPECT_EQ(actionTitled(status.menu(), QStringLiteral("断开连接"))->text(),
              QStringLiteral("断开连接"));
}

} // namespace
