#include "SidebarView.h"
#include "ClickableCard.h"
#include "PlainTextButton.h"
#include "UiFixture.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using Access = AppStateTestAccess;

namespace {

class SidebarViewTest : public ::testing::Test {
protected:
    StateFixture fixture;
    AppState& state = fixture.makeState();
    SidebarView sidebar{state};

    void expectSignedOutCard() {
        EXPECT_FALSE(sidebar.signedIn());
        EXPECT_EQ(sidebar.identityText(), QStringLiteral("未登录"));
        EXPECT_TRUE(sidebar.planLineText().startsWith(QStringLiteral("未开通套餐 ·")));
        EXPECT_EQ(sidebar.accountButton()->text(), QStringLiteral("登录账号"));
        // Both the card and its button ask for the sign-in sheet.
        QTest::mouseClick(sidebar.accountCard(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_TRUE(state.showAuthSheet());
        state.setShowAuthSheet(false);
        sidebar.accountButton()->click();
        EXPECT_TRUE(state.showAuthSheet());
        state.setShowAuthSheet(false);
    }
};

TEST_F(SidebarViewTest, SignedOutCardOpensTheSheet) {
    showAt(sidebar, QSize(SidebarView::kWidth, 680));
    expectSignedOutCard();
    // A token alone, without the user's record, still counts as signed out.
    Access::setToken(state, QStringLiteral("token-without-user"));
    expectSignedOutCard();
}

TEST_F(SidebarViewTest, SignedInCardShowsTheAccountAndSignsOut) {
    runTask(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                        QString::fromLatin1(dev::DevService::kDemoPassword)));
    showAt(sidebar, QSize(SidebarView::kWidth, 680));
    ASSERT_TRUE(sidebar.signedIn());
    EXPECT_EQ(sidebar.identityText(), QString::fromLatin1(dev::DevService::kDemoEmail));
    EXPECT_EQ(sidebar.planLineText().replace(QChar(0x00A0), QLatin1Char(' ')),
              state.currentUser()->planName + QStringLiteral(" · ") + state.deviceUsage());
    EXPECT_EQ(sidebar.accountButton()->text(), QStringLiteral("退出登录"));

    QTest::mouseClick(sidebar.accountCard(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(state.showAuthSheet());

    sidebar.accountButton()->click();
    for (int i = 0; i < 500 && state.runningTaskCount() > 0; ++i) {
        QTest::qWait(5);
    }
    EXPECT_FALSE(sidebar.signedIn());
    EXPECT_EQ(sidebar.identityText(), QStringLiteral("未登录"));
    EXPECT_EQ(sidebar.accountButton()->text(), QStringLiteral("登录账号"));
}

TEST_F(SidebarViewTest, ServiceLineFollowsWhetherAnyNodeIsKnown) {
    EXPECT_EQ(sidebar.serviceStatusText(), QStringLiteral("节点服务正常"));
    Access::setEndpoints(state, {});
    EXPECT_EQ(sidebar.serviceStatusText(), QStringLiteral("节点服务待同步"));
}

} // namespace
