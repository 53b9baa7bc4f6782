#include "RootView.h"
#include "AuthView.h"
#include "BusyOverlay.h"
#include "FitLabel.h"
#include "MainWindow.h"
#include "Pill.h"
#include "RoutesView.h"
#include "SidebarButton.h"
#include "SidebarView.h"
#include "UiFixture.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;

namespace {

class RootViewTest : public ::testing::Test {
protected:
    StateFixture fixture;
};

QAbstractButton* alertButton(QMessageBox* alert) {
    return alert->buttons().isEmpty() ? nullptr : alert->buttons().first();
}

// The right edge of the widest line the text laid out, in its viewport's coordinates: a word
// that only breaks at its boundaries runs past the box while the box still grows in height.
qreal widestLineEdge(const AlertText& text) {
    QTextDocument* doc = text.document();
    doc->documentLayout()->documentSize(); // lays out what is still pending
    qreal edge = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            edge = std::max(edge, layout->position().x() + line.x() + line.naturalTextWidth());
        }
    }
    return edge;
}

TEST_F(RootViewTest, AlertFollowsTheMessageAndIsDismissedByButtonOrEscape) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(1180, 780));
    waitForStateTasks(state);
    state.setShowAuthSheet(false);
    state.setAlertMessage(std::nullopt);
    settle();

    // An empty message still shows the alert.
    state.setAlertMessage(QString());
    QMessageBox* alert = root.alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Orvane"));
    ASSERT_NE(alertButton(alert), nullptr);
    EXPECT_EQ(alertButton(alert)->text(), QStringLiteral("知道了"));
    alertButton(alert)->click();
    settle();
    EXPECT_FALSE(state.alertMessage().has_value());
    EXPECT_EQ(root.alert(), nullptr);

    state.setAlertMessage(QStringLiteral("连接失败"));
    ASSERT_NE(root.alert(), nullptr);
    QTest::keyClick(root.alert(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(state.alertMessage().has_value());
    EXPECT_EQ(root.alert(), nullptr);
}

// An address the user is asked to visit is longer than a line: it wraps inside the box, whole,
// and copies exactly as it stands; a longer message on the open alert grows the box.
TEST_F(RootViewTest, AlertShowsALongAddressWholeAndCopiesIt) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(980, 680));
    waitForStateTasks(state);
    state.setShowAuthSheet(false);
    settle();

    const QString address = QStringLiteral(
        "https://web.orvane.test/pricing/?plan=monthly&source=macos&client_version=v10.5.1"
        "&account=demo%40orvane.dev");
    const QStringList messages{QStringLiteral("无法打开浏览器，请手动访问：") + address,
                               QStringLiteral("需要升级到 v10.6.0\n无法打开浏览器，请手动访问：") +
                                   address + QStringLiteral("&channel=stable&arch=x86_64")};
    for (const QString& message : messages) {
        SCOPED_TRACE(message.toStdString());
        state.setAlertMessage(message);
        settle();
        QMessageBox* alert = root.alert();
        AlertText* text = root.alertText();
        ASSERT_NE(alert, nullptr);
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->isVisible());
        EXPECT_EQ(text->message(), message);
        EXPECT_TRUE(alert->rect().contains(text->geometry()));
        EXPECT_LE(text->width(), AlertText::kMaximumWidth);
        EXPECT_LE(std::ceil(text->document()->size().height()), text->height());
        EXPECT_GE(text->height(), 2 * text->fontMetrics().height()); // wrapped, not cut
        EXPECT_LE(widestLineEdge(*text), text->viewport()->width());

        text->selectAll();
        text->copy();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), message);
    }
    state.setAlertMessage(QString());
    settle();
    ASSERT_NE(root.alertText(), nullptr);
    EXPECT_FALSE(root.alertText()->isVisible());
}

// Part of the message dragged over with the mouse copies with the copy keys, as the box's own
// label did; the box's keys still reach its button afterwards.
TEST_F(RootViewTest, AlertCopiesWhatTheMouseSelectedAndKeepsItsKeys) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(980, 680));
    waitForStateTasks(state);
    state.setShowAuthSheet(false);
    settle();

    const QString lead = QStringLiteral("无法打开浏览器，请手动访问：");
    const QString address = QStringLiteral(
        "https://web.orvane.test/pricing/?plan=monthly&source=macos&client_version=v10.5.1"
        "&account=demo%40orvane.dev");
    for (const int key : {Qt::Key_Return, Qt::Key_Escape}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        state.setAlertMessage(lead + address);
        settle();
        QMessageBox* alert = root.alert();
        AlertText* text = root.alertText();
        ASSERT_NE(alert, nullptr);
        ASSERT_NE(text, nullptr);
        // Opened, the box's button has the keys.
        EXPECT_EQ(QApplication::focusWidget(), alertButton(alert));

        // From the address's first character across its lines to the end of the message.
        QTextCursor cursor(text->document());
        cursor.setPosition(static_cast<int>(lead.size()));
        const QPoint from = text->cursorRect(cursor).center();
        cursor.movePosition(QTextCursor::End);
        const QPoint to = text->cursorRect(cursor).center();
        ASSERT_GT(to.y(), from.y());
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::mousePress(text->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(text->viewport(), to);
        QTest::mouseRelease(text->viewport(), Qt::LeftButton, {}, to);
        EXPECT_EQ(text->textCursor().selectedText().toStdString(), address.toStdString());
        EXPECT_EQ(QApplication::focusWidget(), text);
        // Keys go where the user's would: to the widget that has the focus.
        QTest::keySequence(static_cast<QWidget*>(nullptr), QKeySequence::Copy);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), address.toStdString());

        QTest::keyClick(static_cast<QWidget*>(nullptr), static_cast<Qt::Key>(key));
        settle();
        EXPECT_FALSE(state.alertMessage().has_value());
        EXPECT_EQ(root.alert(), nullptr);
    }
}

TEST_F(RootViewTest, FailedSignInAlertShowsAboveTheSheetAndStaysWhenItCloses) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(1180, 780));
    waitForStateTasks(state);
    state.setAlertMessage(std::nullopt);
    state.setShowAuthSheet(true);
    settle();
    AuthView* sheet = root.sheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->width(), 460);

    runTask(state.login(QString::fromLatin1(dev::DevService::kDemoEmail), QStringLiteral("wrong")));
    settle();
    ASSERT_TRUE(state.alertMessage().has_value());
    ASSERT_NE(root.alert(), nullptr);
    EXPECT_EQ(root.alert()->parentWidget(), sheet);
    EXPECT_TRUE(root.alert()->isVisible());

    // Escape on the sheet: the state stops asking for it; the alert moves above the window.
    sheet->reject();
    settle();
    EXPECT_FALSE(state.showAuthSheet());
    ASSERT_NE(root.alert(), nullptr);
    EXPECT_EQ(root.alert()->parentWidget(), &root);
    EXPECT_TRUE(root.alert()->isVisible());
}

TEST_F(RootViewTest, SheetOrAlertAskedForWhileHiddenShowsTheWindowFirst) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(1180, 780));
    waitForStateTasks(state);
    state.setShowAuthSheet(false);
    state.setAlertMessage(std::nullopt);
    root.hide();
    settle();
    int requests = 0;
    bool shownBeforeOpening = false;
    QObject::connect(&root, &RootView::windowRequested, &root, [&] {
        ++requests;
        shownBeforeOpening = root.alert() == nullptr && root.sheet() == nullptr;
        root.show();
    });
    state.setAlertMessage(QStringLiteral("菜单里的消息"));
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(shownBeforeOpening);
    EXPECT_TRUE(root.isVisible());
    // Already visible: nothing more to ask.
    state.setShowAuthSheet(true);
    EXPECT_EQ(requests, 1);
}

TEST_F(RootViewTest, BusyMarkCoversOnlyItsOwnBox) {
    AppState& state = fixture.makeState();
    RootView root(state);
    showAt(root, QSize(1180, 780));
    waitForStateTasks(state);
    state.setShowAuthSheet(false);
    state.setIsBusy(true);
    settle();
    BusyOverlay* busy = root.busyOverlay();
    ASSERT_TRUE(busy->isVisible());
    EXPECT_LT(busy->width(), 200);
    const QPoint centre = root.rect().center();
    QWidget* hit = root.childAt(centre);
    EXPECT_TRUE(hit == busy || busy->isAncestorOf(hit));

    // A click beside it reaches the sidebar: the routes page is built.
    SidebarButton* routes = root.sidebar()->pageButtons().at(1);
    const QPoint onRoutes = routes->mapTo(&root, routes->rect().center());
    QWidget* target = root.childAt(onRoutes);
    ASSERT_NE(target, nullptr);
    EXPECT_FALSE(target == busy || busy->isAncestorOf(target));
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&root, onRoutes));
    settle();
    EXPECT_EQ(state.selectedPage(), AppPage::routes);
    EXPECT_NE(qobject_cast<RoutesView*>(root.page()), nullptr);
    state.setIsBusy(false);
    EXPECT_FALSE(busy->isVisible());
}

TEST_F(RootViewTest, ALongPlanNameStaysInsideItsBoxesAtTheSmallestWindow) {
    AppState& state = fixture.makeState();
    runTask(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                        QString::fromLatin1(dev::DevService::kDemoPassword)));
    APIUser user = *state.currentUser();
    user.planName = QStringLiteral("年费套餐（含 3 个月邀请奖励时长与家庭共享附加包）");
    for (const AppPage page : {AppPage::home, AppPage::plans}) {
        state.setSelectedPage(page);
        RootView root(state);
        showAt(root, MainWindow::kMinimumSize);
        waitForStateTasks(state);
        state.setShowAuthSheet(false);
        AppStateTestAccess::setCurrentUser(state, user);
        settle();
        SCOPED_TRACE(static_cast<int>(page));
        EXPECT_LE(root.minimumSizeHint().width(), MainWindow::kMinimumSize.width());
        for (const Pill* pill : root.page()->findChildren<Pill*>()) {
            if (pill->text().contains(user.planName)) {
                EXPECT_LE(pill->width(), Pill::kHeaderMaximumWidth);
                const QPoint right = pill->mapTo(root.page(), pill->rect().topRight());
                EXPECT_LT(right.x(), root.page()->width());
            }
        }
        // The home page's status keeps its full size beside the pill.
        for (const FitLabel* label : root.page()->findChildren<FitLabel*>()) {
            if (label->text() == state.statusTitle()) {
                EXPECT_EQ(label->shownLines(), QStringList{state.statusTitle()});
                EXPECT_EQ(label->currentScale(), 1.0);
            }
        }
        // The sidebar's plan line: two lines, the name shortened, the device count whole.
        const FitLabel* planLine = nullptr;
        for (const FitLabel* label : root.sidebar()->findChildren<FitLabel*>()) {
            planLine = label->text() == root.sidebar()->planLineText() ? label : planLine;
        }
        ASSERT_NE(planLine, nullptr);
        const QStringList lines = planLine->shownLines();
        ASSERT_EQ(lines.size(), 2);
        const QString usage = QStringLiteral("· ") + state.deviceUsage();
        EXPECT_TRUE(lines[1].endsWith(QString(usage).replace(QLatin1Char(' '), QChar(0x00A0))))
            << lines[1].toStdString();
    }
}

// Its clean-up starts child processes at once: the first frame goes out before it.
TEST_F(RootViewTest, LaunchTaskStartsAfterTheFirstFrame) {
    AppState& state = fixture.makeState();
    RootView root(state);
    root.resize(1180, 780);
    root.show();
    EXPECT_EQ(state.runningTaskCount(), 0);
    settle();
    waitForStateTasks(state);
    EXPECT_TRUE(
        fixture.logMessages().contains(QStringLiteral("已检查并清理上次异常退出残留连接。")));
}

TEST_F(RootViewTest, LaunchTaskRunsOnceWhenTheWindowIsShownAgain) {
    fixture.arguments << QStringLiteral("--orvane-autoconnect-smoke");
    AppState& state = fixture.makeState();
    runTask(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                        QString::fromLatin1(dev::DevService::kDemoPassword)));
    const auto connected = [&state] {
        return state.connectionState().stateCase() == ConnectionState::Case::connected;
    };
    RootView root(state);
    showAt(root, QSize(1180, 780));
    // The keep-alive runs on, so wait for the connection rather than for every task.
    for (int i = 0; i < 2000 && !connected(); ++i) {
        QTest::qWait(5);
    }
    ASSERT_TRUE(connected());
    // A second run would log its start at once and press connect again, disconnecting.
    root.hide();
    settle();
    root.show();
    RootView second(state);
    showAt(second, QSize(1180, 780));
    QTest::qWait(50);
    EXPECT_TRUE(connected());
    EXPECT_EQ(fixture.logMessages().count(QStringLiteral("自动化连接测试：准备触发一键连接。")), 1);
    runTask(state.cleanupBeforeExit());
}

} // namespace
