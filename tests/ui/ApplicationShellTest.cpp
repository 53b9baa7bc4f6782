#include "ApplicationShell.h"
#include "MainWindow.h"
#include "OneShotEvent.h"
#include "TrayEntry.h"
#include "UiFixture.h"

#include <QAction>
#include <QMenu>
#include <QTest>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::test;
using namespace std::chrono_literals;

namespace {

// Sleeps that end only when the test moves this clock past them.
class VirtualClock {
public:
    qint64 now = 0;

    TerminationHandshake::Sleep sleep() {
        return [this](std::chrono::milliseconds d) { return wake(this, d); };
    }
    void advanceTo(qint64 target) {
        for (;;) {
            auto next = std::min_element(m_wakes.begin(), m_wakes.end(),
                                         [](auto& a, auto& b) { return a.first < b.first; });
            if (next == m_wakes.end() || next->first > target) {
                break;
            }
            now = next->first;
            const std::shared_ptr<OneShotEvent> event = next->second;
            m_wakes.erase(next);
            event->set();
            settle();
        }
        now = target;
    }

private:
    static QCoro::Task<void> wake(VirtualClock* clock, std::chrono::milliseconds d) {
        auto event = std::make_shared<OneShotEvent>();
        clock->m_wakes.append({clock->now + d.count(), event});
        co_await event->wait();
    }
    QList<std::pair<qint64, std::shared_ptr<OneShotEvent>>> m_wakes;
};

class ShellTest : public ::testing::Test {
protected:
    StateFixture fixture;
    AppState& state = fixture.makeState();
    VirtualClock clock;
    QList<qint64> exits; // when the event loop was told to end

    std::unique_ptr<ApplicationShell> makeShell(bool trayAvailable, bool handleSignals = false) {
        ApplicationShell::Options options;
        options.trayAvailable = trayAvailable;
        options.sleep = clock.sleep();
        options.exit = [this] { exits << clock.now; };
        options.handleSignals = handleSignals;
        return std::make_unique<ApplicationShell>(state, std::move(options));
    }
    void cleanupTakes(std::chrono::milliseconds duration) {
        fixture.tunnel->onCleanup = [this, duration](bool) { return clock.sleep()(duration); };
    }
    void TearDown() override {
        // Ends every clean-up and limit still asleep, so no coroutine is left suspended.
        clock.advanceTo(clock.now + 60000);
        waitForStateTasks(state);
    }
};

QAction* actionTitled(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

TEST_F(ShellTest, HandshakeRepliesOnceWhenTheCleanUpEndsOrAtThreeSeconds) {
    for (const auto& [cleanup, replyAt] : {std::pair{200ms, 200}, std::pair{10000ms, 3000}}) {
        exits.clear();
        clock = VirtualClock();
        cleanupTakes(cleanup);
        auto shell = makeShell(false);
        shell->requestQuit();
        clock.advanceTo(replyAt - 1);
        EXPECT_TRUE(exits.isEmpty());
        clock.advanceTo(replyAt);
        EXPECT_EQ(exits, QList<qint64>{replyAt});
        clock.advanceTo(12000);
        EXPECT_EQ(exits, QList<qint64>{replyAt}) << "exactly one reply";
    }
}

TEST_F(ShellTest, SecondRequestDuringTheCleanUpQuitsAtOnce) {
    cleanupTakes(10000ms);
    auto shell = makeShell(false);
    shell->requestQuit();
    clock.advanceTo(1000);
    EXPECT_TRUE(exits.isEmpty());
    shell->requestQuit();
    EXPECT_EQ(exits, QList<qint64>{1000});
}

TEST_F(ShellTest, EveryQuitPathReachesTheHandshake) {
    cleanupTakes(10000ms);
    const std::function<void(ApplicationShell&)> paths[] = {
        [](ApplicationShell& s) {
            actionTitled(s.statusEntry()->menu(), QStringLiteral("退出 Orvane"))->trigger();
        },
        [](ApplicationShell& s) {
            actionTitled(s.menuBarEntry()->menu(), QStringLiteral("退出"))->trigger();
        },
        [](ApplicationShell& s) {
            QApplication::setActiveWindow(s.window());
            QTest::keyClick(s.window(), Qt::Key_Q, Qt::ControlModifier);
        },
        [](ApplicationShell&) { std::raise(SIGTERM); },
        [](ApplicationShell&) { std::raise(SIGINT); },
        [](ApplicationShell& s) { s.window()->close(); }, // no tray
    };
    for (const auto& path : paths) {
        auto shell = makeShell(false, true);
        shell->window()->show();
        settle();
        EXPECT_FALSE(shell->handshake().isTerminating());
        path(*shell);
        settle();
        EXPECT_TRUE(shell->handshake().isTerminating());
        EXPECT_TRUE(shell->window()->isVisible());
        clock.advanceTo(clock.now + 3000);
    }
    EXPECT_EQ(exits.size(), 6);
}

TEST_F(ShellTest, WithATrayCloseHidesAndShowDashboardBringsTheHomePageBack) {
    auto shell = makeShell(true);
    EXPECT_EQ(shell->statusEntry(), nullptr);
    shell->window()->show();
    settle();
    TrayEntry* status = shell->statusEntry();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(shell->window()->size(), MainWindow::kDefaultSize);
    EXPECT_EQ(shell->window()->minimumSize(), MainWindow::kMinimumSize);
    EXPECT_EQ(shell->window()->windowTitle(), QStringLiteral("Orvane"));

    EXPECT_TRUE(shell->window()->close());
    EXPECT_FALSE(shell->window()->isVisible());
    EXPECT_FALSE(shell->handshake().isTerminating());

    state.setSelectedPage(AppPage::plans);
    actionTitled(status->menu(), QStringLiteral("显示仪表盘"))->trigger();
    settle();
    EXPECT_TRUE(shell->window()->isVisible());
    EXPECT_EQ(state.selectedPage(), AppPage::home);
    EXPECT_EQ(shell->statusEntry(), status) << "one status item for the process";
    EXPECT_TRUE(exits.isEmpty());
}

} // namespace
