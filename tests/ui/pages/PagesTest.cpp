#include "AdaptiveGridLayout.h"
#include "BoundDevicesPanel.h"
#include "CapsuleButton.h"
#include "ClickableCard.h"
#include "ContentScrollArea.h"
#include "CurrentDevicePanel.h"
#include "DeviceRow.h"
#include "FeedbackForm.h"
#include "FeedbackRow.h"
#include "ModeButton.h"
#include "PlansView.h"
#include "RouteEndpointCard.h"
#include "RoutesView.h"
#include "SettingsView.h"
#include "TicketList.h"
#include "UiFixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSet>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;

namespace {

APIUser makeUser(const QString& planName, std::optional<QString> email) {
    APIUser user;
    user.id = QStringLiteral("u1");
    user.identity = QStringLiteral("13800000000");
    user.email = std::move(email);
    user.planName = planName;
    return user;
}

Device makeDevice(const QString& id, bool current, bool online) {
    Device d;
    d.id = id;
    d.platform = QStringLiteral("Windows");
    d.name = id + QStringLiteral(" · 10.5.1");
    d.action = current ? QStringLiteral("当前") : QStringLiteral("解绑");
    d.status = QStringLiteral("active");
    d.isCurrent = current;
    d.isOnline = online;
    return d;
}

class PagesTest : public ::testing::Test {
protected:
    StateFixture fixture;
    AppState& state = fixture.makeState();

    void signIn() {
        runTask(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                            QString::fromLatin1(dev::DevService::kDemoPassword)));
        waitForStateTasks(state);
        state.setAlertMessage(std::nullopt);
    }
};

TEST_F(PagesTest, RouteGridFillsColumnsOfAtLeast260AndReflows) {
    QList<Endpoint> endpoints;
    for (int i = 0; i < 7; ++i) {
        endpoints << makeEndpoint(QStringLiteral("n%1").arg(i), QStringLiteral("Node %1").arg(i),
                                  30 + i);
    }
    AppStateTestAccess::setEndpoints(state, endpoints);
    RoutesView view(state);
    for (const int width : {400, 560, 820, 1100}) {
        SCOPED_TRACE(width);
        showAt(view, QSize(width, 700));
        const int gridWidth = view.cards().first()->parentWidget()->width();
        const int columns = view.grid()->columnCount(gridWidth);
        EXPECT_EQ(columns, std::max(1, (gridWidth + 12) / 272));
        QSet<int> lefts;
        for (RouteEndpointCard* card : view.cards()) {
            lefts.insert(card->x());
            EXPECT_TRUE(columns == 1 || card->width() >= RoutesView::kMinimumCardWidth);
            EXPECT_LE(card->geometry().right(), gridWidth);
        }
        EXPECT_EQ(lefts.size(), columns);
    }
    EXPECT_EQ(AdaptiveGridLayout::columnCount(531, 260, 12), 1);
    EXPECT_EQ(AdaptiveGridLayout::columnCount(532, 260, 12), 2);
}

TEST_F(PagesTest, RoutesFollowTheSelectionModeAndAStaleSelection) {
    Endpoint checking = makeEndpoint(QStringLiteral("a"), QStringLiteral("Alpha"), 0);
    checking.loadPercent = 135;
    checking.preferredProtocol = ProtocolKind::unknown;
    AppStateTestAccess::setEndpoints(
        state, {checking, makeEndpoint(QStringLiteral("b"), QStringLiteral("Beta"), 45)});
    RoutesView view(state);
    showAt(view, QSize(900, 700));

    view.cards().at(1)->click();
    ASSERT_EQ(state.selectedEndpoint().id, QStringLiteral("b"));
    EXPECT_TRUE(view.cards().at(1)->isSelected());
    EXPECT_EQ(view.summaryText(), QStringLiteral("智能模式|香港 Beta|45 ms"));

    // The selected node leaves the list: the first card is the selected one.
    AppStateTestAccess::setEndpoints(
        state, {checking, makeEndpoint(QStringLiteral("c"), QStringLiteral("Gamma"), 50)});
    const QList<RouteEndpointCard*> cards = view.cards();
    ASSERT_EQ(cards.size(), 2);
    EXPECT_TRUE(cards.at(0)->isSelected());
    EXPECT_FALSE(cards.at(1)->isSelected());
    EXPECT_EQ(cards.at(0)->footerText(), QStringLiteral("当前使用"));
    EXPECT_EQ(cards.at(1)->footerText(), QStringLiteral("点击切换"));
    EXPECT_EQ(cards.at(0)->latencyText(), QStringLiteral("检测中"));
    EXPECT_EQ(view.summaryText(), QStringLiteral("智能模式|香港 Alpha|检测中"));

    view.modeButtons().at(2)->click();
    EXPECT_EQ(state.outboundMode(), OutboundMode::direct);
    EXPECT_TRUE(view.modeButtons().at(2)->isCurrent());
    EXPECT_FALSE(view.modeButtons().at(0)->isCurrent());

    AppStateTestAccess::setEndpoints(state, {});
    EXPECT_TRUE(view.cards().isEmpty());
    EXPECT_FALSE(view.emptyBox()->isHidden());
}

TEST_F(PagesTest, PlansPillAndAtMostThreeOrders) {
    PlansView view(state);
    EXPECT_EQ(view.pillText(), QStringLiteral("当前：未开通套餐"));
    AppStateTestAccess::setCurrentUser(state, makeUser(QString(), std::nullopt));
    EXPECT_EQ(view.pillText(), QStringLiteral("当前："));
    AppStateTestAccess::setCurrentUser(state, makeUser(QStringLiteral("年费套餐"), std::nullopt));
    EXPECT_EQ(view.pillText(), QStringLiteral("当前：年费套餐"));

    EXPECT_TRUE(view.ordersCard()->isHidden());
    QList<Order> orders;
    for (int i = 0; i < 5; ++i) {
        orders << Order{QStringLiteral("o%1").arg(i), QStringLiteral("月费套餐"),
                        QStringLiteral("已支付"), QStringLiteral("29.90 CNY")};
    }
    AppStateTestAccess::setOrders(state, orders);
    EXPECT_FALSE(view.ordersCard()->isHidden());
    EXPECT_EQ(view.orderRowCount(), 3);
    AppStateTestAccess::setOrders(state, orders.mid(0, 1));
    EXPECT_EQ(view.orderRowCount(), 1);
}

TEST_F(PagesTest, DevicePanelsWithoutAndWithDevices) {
    CurrentDevicePanel current(state);
    BoundDevicesPanel bound(state);
    EXPECT_EQ(current.nameText(), QStringLiteral("等待绑定"));
    EXPECT_EQ(current.figuresText(), QStringLiteral("macOS|v10.5.1|未绑定|-"));
    EXPECT_TRUE(bound.rows().isEmpty());
    EXPECT_FALSE(bound.expandButton()->isHidden());

    AppStateTestAccess::setDevices(state, {makeDevice(QStringLiteral("this"), true, false),
                                           makeDevice(QStringLiteral("phone"), false, true),
                                           makeDevice(QStringLiteral("tablet"), false, false)});
    ASSERT_EQ(bound.rows().size(), 2);
    EXPECT_FALSE(bound.rows().at(0)->button()->isEnabled());
    EXPECT_EQ(bound.rows().at(0)->button()->text(), QStringLiteral("当前"));
    EXPECT_TRUE(bound.rows().at(1)->button()->isEnabled());
    EXPECT_EQ(bound.rows().at(1)->connectionText(), QStringLiteral("正在使用"));
    bound.expandButton()->click();
    EXPECT_EQ(bound.rows().size(), 3);
    EXPECT_EQ(bound.expandButton()->text(), QStringLiteral("收起设备"));
}

TEST_F(PagesTest, RefusedUnbindKeepsTheRowAndShowsTheAlert) {
    signIn();
    BoundDevicesPanel bound(state);
    AppStateTestAccess::setDevices(state, {makeDevice(QStringLiteral("gone"), false, false)});
    bound.rows().at(0)->button()->click();
    waitForStateTasks(state);
    EXPECT_TRUE(state.alertMessage().has_value());
    ASSERT_EQ(bound.rows().size(), 1);
    EXPECT_EQ(bound.rows().at(0)->device().id, QStringLiteral("gone"));
}

TEST_F(PagesTest, FeedbackContactPrefillFollowsTheAccountButNeverTypedText) {
    state.setFeedbackExpanded(true);
    FeedbackRow row(state);
    FeedbackForm* form = row.form();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->emailField()->text(), QStringLiteral("未登录"));
    EXPECT_EQ(form->titleField()->text(), QStringLiteral("macOS 连接失败"));
    EXPECT_EQ(form->bodyField()->toPlainText(), QStringLiteral("连接时卡在正在启动隧道。"));

    // Pressing submit signed out opens the sheet; signing in there fills the address.
    form->submitButton()->click();
    waitForStateTasks(state);
    EXPECT_TRUE(state.showAuthSheet());
    signIn();
    EXPECT_EQ(form->emailField()->text(), QString::fromLatin1(dev::DevService::kDemoEmail));

    AppStateTestAccess::setCurrentUser(state, makeUser(QString(), std::nullopt));
    EXPECT_EQ(form->emailField()->text(), QStringLiteral("13800000000"));
    form->emailField()->clear();
    QTest::keyClicks(form->emailField(), QStringLiteral("me@example.com"));
    AppStateTestAccess::setCurrentUser(state, makeUser(QString(), QStringLiteral("x@y.z")));
    EXPECT_EQ(form->emailField()->text(), QStringLiteral("me@example.com"));

    // A refused ticket keeps what was typed.
    form->titleField()->setText(QStringLiteral(" "));
    form->submitButton()->click();
    waitForStateTasks(state);
    EXPECT_EQ(state.alertMessage(), QStringLiteral("请填写反馈标题和内容。"));
    EXPECT_EQ(form->titleField()->text(), QStringLiteral(" "));
    EXPECT_EQ(form->emailField()->text(), QStringLiteral("me@example.com"));

    // Collapsing discards the form; the next one starts afresh.
    row.header()->click();
    row.header()->click();
    settle();
    ASSERT_NE(row.form(), nullptr);
    EXPECT_EQ(row.form()->titleField()->text(), QStringLiteral("macOS 连接失败"));
    EXPECT_EQ(row.form()->emailField()->text(), QStringLiteral("x@y.z"));
}

TEST_F(PagesTest, TicketListShowsTheFirstThreeOrTheEmptyText) {
    TicketList list(state);
    EXPECT_FALSE(list.emptyBox()->isHidden());
    QList<Ticket> tickets;
    for (int i = 0; i < 5; ++i) {
        tickets << Ticket{QStringLiteral("t%1").arg(i), QStringLiteral("T%1").arg(i),
                          QStringLiteral("open"), QStringLiteral("03-07")};
    }
    AppStateTestAccess::setTickets(state, tickets);
    EXPECT_TRUE(list.emptyBox()->isHidden());
    EXPECT_EQ(list.shownTitles(),
              (QStringList{QStringLiteral("T0"), QStringLiteral("T1"), QStringLiteral("T2")}));
}

TEST_F(PagesTest, SettingsPageScrollsWhenItDoesNotFit) {
    SettingsView view(state);
    // The page area of the default window.
    showAt(view, QSize(904, 744));
    QScrollBar* bar = view.scrollArea()->verticalScrollBar();
    const int collapsed = bar->maximum();
    EXPECT_GT(collapsed, 0);
    view.feedbackRow()->header()->click();
    settle();
    EXPECT_GT(bar->maximum(), collapsed);
    bar->setValue(bar->maximum());
    settle();
    const QWidget* form = view.feedbackRow()->form();
    const QPoint bottom = form->mapTo(view.scrollArea()->viewport(), form->rect().bottomLeft());
    EXPECT_LE(bottom.y(), view.scrollArea()->viewport()->height());
}

} // namespace
