#include "HomeView.h"
#include "AIEnhancedModeCard.h"
#include "CapsuleButton.h"
#include "ConnectButton.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "LogPanel.h"
#include "MetricCard.h"
#include "NodePanel.h"
#include "NodeRow.h"
#include "Palette.h"
#include "RightRail.h"
#include "SegmentedControl.h"
#include "UiFixture.h"

#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using Access = AppStateTestAccess;

namespace {

// The page area of a 980 × 680 window: the smallest the window gets.
const QSize kSmallPage(980 - 232 - 44, 680 - 36);

class HomeViewTest : public ::testing::Test {
protected:
    StateFixture fixture;
    AppState& state = fixture.makeState();
    QDateTime now = fixture.now;
    HomeView home{state, [this] { return now; }};
};

TEST_F(HomeViewTest, ConnectButtonFollowsTheConnection) {
    using C = ConnectionState::Case;
    struct Case {
        ConnectionState connection;
        bool busy;
        const char* title;
        QColor color;
        bool enabled;
    };
    const Case cases[] = {
        {C::disconnected, false, "一键连接", Palette::black(), true},
        {C::preparing, true, "正在连接", Palette::black(), false},
        {C::connected, false, "断开连接", Palette::blue(), true},
        {C::disconnecting, true, "正在断开", Palette::black(), false},
        {C::repairing, false, "正在修复", Palette::black(), true},
        {ConnectionState::failed(QStringLiteral("节点不可用")), false, "一键连接", Palette::black(),
         true},
    };
    showAt(home, kSmallPage);
    ConnectButton* button = home.connectionPanel()->connectButton();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        Access::setConnectionState(state, c.connection);
        state.setIsBusy(c.busy);
        EXPECT_EQ(button->text(), QString::fromUtf8(c.title));
        EXPECT_EQ(button->isEnabled(), c.enabled);
        // The middle of the circle, above the title.
        const QImage image = button->grab().toImage();
        const QPoint sample(button->width() / 2, button->height() / 5);
        EXPECT_EQ(image.pixelColor(sample * image.devicePixelRatio()).rgb(), c.color.rgb());
    }
}

TEST_F(HomeViewTest, DurationCardCountsMinutesAndSeconds) {
    MetricCard* card = home.connectionPanel()->durationCard();
    EXPECT_EQ(card->value(), QStringLiteral("--:--"));
    const struct {
        qint64 secondsAgo;
        const char* text;
    } cases[] = {{59, "00:59"}, {61, "01:01"}, {3725, "62:05"}, {-30, "00:00"}};
    for (const auto& c : cases) {
        Access::setConnectedAt(state, now.addSecs(-c.secondsAgo));
        home.connectionPanel()->tick();
        EXPECT_EQ(card->value(), QString::fromUtf8(c.text)) << c.secondsAgo;
    }
    Access::setConnectedAt(state, std::nullopt);
    EXPECT_EQ(card->value(), QStringLiteral("--:--"));
}

TEST_F(HomeViewTest, PanelsShowTwoRowsUntilExpanded) {
    QList<Endpoint> endpoints;
    for (int i = 0; i < 5; ++i) {
        endpoints << makeEndpoint(QStringLiteral("n%1").arg(i), QStringLiteral("Node %1").arg(i),
                                  i * 10);
    }
    endpoints[0].preferredProtocol = ProtocolKind::unknown;
    Access::setEndpoints(state, endpoints);
    for (int i = 0; i < 5; ++i) {
        state.appendLog(QStringLiteral("事件 %1").arg(i));
    }
    showAt(home, kSmallPage);
    NodePanel* nodes = home.rightRail()->nodePanel();
    LogPanel* logs = home.rightRail()->logPanel();

    ASSERT_EQ(nodes->rows().size(), 2);
    // Both collapsed rows show whole at the smallest window; the log gives way.
    EXPECT_EQ(nodes->scrollArea()->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(nodes->rows()[1]->geometry().bottom(), nodes->scrollArea()->viewport()->height());
    EXPECT_EQ(nodes->expandButton()->text(), QStringLiteral("展开全部节点"));
    EXPECT_EQ(nodes->rows()[0]->detailLabel()->text(),
              QStringLiteral("Node 0 · 自动 · 检测中 · 40%"));
    EXPECT_TRUE(nodes->rows()[0]->isSelectedRow());
    EXPECT_EQ(logs->rows().size(), 2);
    EXPECT_EQ(logs->expandButton()->text(), QStringLiteral("日志"));

    nodes->expandButton()->click();
    logs->expandButton()->click();
    EXPECT_EQ(nodes->rows().size(), 5);
    EXPECT_EQ(nodes->expandButton()->text(), QStringLiteral("收起节点"));
    EXPECT_EQ(logs->rows().size(), state.logs().size());
    EXPECT_EQ(logs->expandButton()->text(), QStringLiteral("收起"));

    // A click on a row selects its node; the rows stay and change their look in place.
    NodeRow* third = nodes->rows()[2];
    QTest::mouseClick(third, Qt::LeftButton);
    EXPECT_EQ(state.selectedEndpoint().id, QStringLiteral("n2"));
    EXPECT_EQ(nodes->rows()[2], third);
    EXPECT_TRUE(third->isSelectedRow());
    EXPECT_FALSE(nodes->rows()[0]->isSelectedRow());

    nodes->expandButton()->click();
    EXPECT_EQ(nodes->rows().size(), 2);
}

TEST_F(HomeViewTest, ExpandedNodesScrollInsideTheRailAndLeaveTheLogItsFloor) {
    QList<Endpoint> endpoints;
    for (int i = 0; i < 12; ++i) {
        endpoints << makeEndpoint(QStringLiteral("n%1").arg(i),
                                  QStringLiteral("Very Long Node Name Number %1 Premium").arg(i),
                                  30 + i);
    }
    Access::setEndpoints(state, endpoints);
    state.setNodesExpanded(true);
    state.setLogsExpanded(true);
    showAt(home, kSmallPage);
    RightRail* rail = home.rightRail();
    EXPECT_EQ(rail->width(), RightRail::kWidth);
    EXPECT_LE(rail->aiCard()->geometry().bottom(), rail->height());
    EXPECT_GE(rail->logPanel()->height(), rail->logPanel()->minimumSizeHint().height());
    EXPECT_GE(rail->logPanel()->height(), 150);
    EXPECT_GT(rail->nodePanel()->scrollArea()->verticalScrollBar()->maximum(), 0);
    EXPECT_LT(rail->nodePanel()->geometry().bottom(), rail->logPanel()->geometry().top());
}

// Whatever the width, a line neither ends with a separator nor starts with a latency's unit.
TEST_F(HomeViewTest, SeparatorsAndLatencyUnitsWrapWithWhatFollowsThem) {
    Endpoint endpoint = makeEndpoint(QStringLiteral("hk-02"), QStringLiteral("HK Premium 02"), 45);
    endpoint.preferredProtocol = ProtocolKind::hysteria2;
    endpoint.loadPercent = 61;
    Access::setEndpoints(state, {endpoint});
    showAt(home, kSmallPage);
    FitLabel access(22, Palette::ink());
    access.setMaxLines(2);
    access.setText(QStringLiteral("50.0GB / 02-09"));
    for (FitLabel* label : {home.rightRail()->nodePanel()->rows()[0]->detailLabel(), &access}) {
        for (int width = 110; width <= 320; ++width) {
            label->resize(width, 60);
            const QStringList lines = label->shownLines();
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const QString line = lines[i].trimmed();
                EXPECT_FALSE(line.endsWith(QStringLiteral("·")) || line.endsWith('/'))
                    << width << ": " << lines.join('|').toStdString();
                EXPECT_FALSE(line.startsWith(QStringLiteral("ms")))
                    << width << ": " << lines.join('|').toStdString();
            }
        }
    }
}

TEST_F(HomeViewTest, ModeSegmentsAndAICardFollowThePreferences) {
    showAt(home, kSmallPage);
    SegmentedControl* modes = home.connectionPanel()->modeControl();
    QTest::mouseClick(modes, Qt::LeftButton, {}, modes->segmentRect(1).center());
    EXPECT_EQ(state.outboundMode(), OutboundMode::enhanced);
    EXPECT_EQ(modes->selectedIndex(), 1);
    // A mode chosen elsewhere that the page does not offer highlights neither segment.
    state.setOutboundMode(OutboundMode::global);
    EXPECT_EQ(modes->selectedIndex(), -1);

    AIEnhancedModeCard* card = home.rightRail()->aiCard();
    EXPECT_EQ(card->stateWord(), QStringLiteral("未开启"));
    EXPECT_EQ(card->aiButton()->text(), QStringLiteral("AI增强功能"));
    card->aiButton()->click();
    EXPECT_TRUE(state.aiEnhancedModeEnabled());
    EXPECT_EQ(card->stateWord(), QStringLiteral("已开启"));
    EXPECT_EQ(card->aiButton()->text(), QStringLiteral("已开启AI增强功能"));
}

} // namespace
