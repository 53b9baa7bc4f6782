#include "ApplicationShell.h"
#include "AuthView.h"
#include "InstanceChild.h"
#include "MainWindow.h"
#include "OneShotEvent.h"
#include "RootView.h"
#include "SignalPipe.h"
#include "SingleInstance.h"
#include "TrayEntry.h"
#include "UiFixture.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
        QTemporaryDir runtime;
        SingleInstance guard(runtime.path());
        shell->attachInstanceGuard(guard);
        shell->window()->show();
        settle();
        EXPECT_FALSE(shell->handshake().isTerminating());
        EXPECT_FALSE(guard.refusesHandOvers());
        path(*shell);
        settle();
        EXPECT_TRUE(shell->handshake().isTerminating());
        // A start from now on would hand over to a window about to go.
        EXPECT_TRUE(guard.refusesHandOvers());
        EXPECT_TRUE(shell->window()->isVisible());
        clock.advanceTo(clock.now + 3000);
    }
    EXPECT_EQ(exits.size(), 6);
}

// Through the kernel's own delivery, in a child process: the first signal only asks the loop
// to quit; a second one ends the process while the loop is still busy with the clean-up.
TEST(SignalPipeDeathTest, ASecondSignalEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int second : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(
            {
                SignalPipe pipe;
                int received = 0;
                QObject::connect(&pipe, &SignalPipe::received, [&] { ++received; });
                std::raise(SIGTERM);
                settle();
                if (received != 1) {
                    std::_Exit(3);
                }
                std::raise(second);
                std::_Exit(0);
            },
            ::testing::KilledBySignal(second), "");
    }
}

TEST_F(ShellTest, CtrlQQuitsFromTheSheetAndTheAlert) {
    const std::function<QWidget*(RootView&)> windows[] = {
        [this](RootView& root) -> QWidget* {
            state.setShowAuthSheet(true);
            settle();
            return root.sheet() ? root.sheet()->identityField() : nullptr;
        },
        [this](RootView& root) -> QWidget* {
            state.setAlertMessage(QStringLiteral("请填写反馈标题和内容。"));
            settle();
            return root.alert();
        },
    };
    for (const auto& open : windows) {
        auto shell = makeShell(false);
        shell->window()->show();
        settle();
        QWidget* focus = open(*static_cast<RootView*>(shell->window()->content()));
        ASSERT_NE(focus, nullptr);
        QApplication::setActiveWindow(focus->window());
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_TRUE(shell->handshake().isTerminating());
        clock.advanceTo(clock.now + 3000);
        state.setShowAuthSheet(false);
        state.setAlertMessage(std::nullopt);
        settle();
    }
    EXPECT_EQ(exits.size(), 2);
}

TEST_F(ShellTest, ShowDashboardBringsBackAMinimisedWindow) {
    auto shell = makeShell(true);
    shell->window()->show();
    settle();
    for (TrayEntry* entry : {shell->statusEntry(), shell->menuBarEntry()}) {
        shell->window()->showMinimized();
        settle();
        ASSERT_TRUE(shell->window()->isMinimized());
        actionTitled(entry->menu(), QStringLiteral("显示仪表盘"))->trigger();
        settle();
        EXPECT_FALSE(shell->window()->isMinimized());
        EXPECT_TRUE(shell->window()->isVisible());
    }
}

TEST_F(ShellTest, WithATrayCloseHidesAndShowDashboardBringsTheHomePageBack) {
    auto shell = makeShell(true);
    EXPECT_EQ(shell->statusEntry(), nullptr);
    shell->window()->show();
    // The status item comes after the window's first frame.
    EXPECT_EQ(shell->statusEntry(), nullptr);
    settle();
    TrayEntry* status = shell->statusEntry();
    ASSERT_NE(status, nullptr);
    // Two icons in the tray, told apart without hovering.
    EXPECT_NE(status->icon().pixmap(18).toImage(),
              shell->menuBarEntry()->icon().pixmap(18).toImage());
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

// A guard as a kill -9 leaves it: the lock file unlocked, the socket file bound but unheard.
void leaveStaleGuard(const QString& folder) {
    QFile lock(folder + QStringLiteral("/orvane.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/orvane.socket"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

TEST(SingleInstance, ASecondStartHandsOverToTheFirstAndAStaleGuardBlocksNothing) {
    QTemporaryDir runtime;
    leaveStaleGuard(runtime.path());
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    auto first = std::make_unique<SingleInstance>();
    if (previousRuntime.isEmpty()) {
        qunsetenv("XDG_RUNTIME_DIR");
    } else {
        qputenv("XDG_RUNTIME_DIR", previousRuntime);
    }
    EXPECT_TRUE(first->isPrimary());
    QSignalSpy shown(first.get(), &SingleInstance::activationRequested);

    for (int start = 1; start <= 2; ++start) {
        SingleInstance second(runtime.path());
        EXPECT_FALSE(second.isPrimary());
        EXPECT_EQ(second.exitStatus(), 0);
        // It returns only once the first has shown its window.
        EXPECT_EQ(shown.count(), start);
    }
    // A test run with a runtime folder of its own is apart.
    QTemporaryDir elsewhere;
    EXPECT_TRUE(SingleInstance(elsewhere.path()).isPrimary());

    first.reset();
    EXPECT_TRUE(SingleInstance(runtime.path()).isPrimary());
}

// The warnings the process writes while the object lives.
class CapturedWarnings {
public:
    CapturedWarnings() {
        s_lines.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { s_lines << text; });
    }
    ~CapturedWarnings() { qInstallMessageHandler(m_previous); }
    // Those that name `text`.
    QStringList about(const QString& text) const { return s_lines.filter(text); }

private:
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

TEST(SingleInstance, ALockThatCannotBeOpenedGivesTheReasonAndRefusesNoStart) {
    QTemporaryDir runtime;
    const QString missing = runtime.filePath(QStringLiteral("missing"));
    const QString occupied = runtime.filePath(QStringLiteral("occupied"));
    ASSERT_TRUE(QDir().mkpath(occupied + QStringLiteral("/orvane.lock")));
    for (const auto& [folder, error] : {std::pair{missing, ENOENT}, std::pair{occupied, EISDIR}}) {
        CapturedWarnings warnings;
        EXPECT_TRUE(SingleInstance(folder).isPrimary());
        const QStringList lines = warnings.about(folder);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].contains(qt_error_string(error))) << qPrintable(lines[0]);
    }
}

TEST(SingleInstance, AStartWhileTheOneInstanceQuitsIsRefusedAndWaitsForTheLockWithinItsBound) {
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    ASSERT_TRUE(first.isPrimary());
    first.refuseHandOvers();
    QSignalSpy shown(&first, &SingleInstance::activationRequested);
    QSignalSpy refused(&first, &SingleInstance::handOverRefused);

    CapturedWarnings warnings;
    SingleInstanceWaits waits;
    waits.answer = 30s;
    // The first never ends here: the wait for its lock can only run out.
    waits.lockRelease = 200ms;
    SingleInstance second(runtime.path(), waits);
    EXPECT_EQ(second.outcome(), SingleInstance::Outcome::noAnswer);
    EXPECT_NE(second.exitStatus(), 0);
    EXPECT_FALSE(refused.isEmpty());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(warnings.about(runtime.path()).size(), 1);
}

// One start of the application in a child process: this executable in its instance mode.
class InstanceStart {
public:
    explicit InstanceStart(const QString& folder, std::optional<int> answerMs = std::nullopt,
                           std::optional<int> lockMs = std::nullopt, bool hold = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kInstanceFolderVariable), folder);
        if (hold) {
            environment.insert(QLatin1String(kInstanceHoldVariable), QStringLiteral("1"));
        }
        if (answerMs) {
            environment.insert(QLatin1String(kInstanceAnswerVariable), QString::number(*answerMs));
        }
        if (lockMs) {
            environment.insert(QLatin1String(kInstanceLockVariable), QString::number(*lockMs));
        }
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), QStringList());
        process.waitForStarted(60000);
    }
    ~InstanceStart() {
        if (process.state() != QProcess::NotRunning) {
            signal(SIGCONT);
            process.kill();
            process.waitForFinished(60000);
        }
    }

    // Reads its standard output until one of `wanted` has come, for at most 60 s; that line,
    // or nothing when it ended or the time ran out first.
    QByteArray waitForLine(const QList<QByteArray>& wanted) {
        const QDeadlineTimer guard(60000);
        for (;;) {
            while (process.canReadLine()) {
                lines << process.readLine().trimmed();
            }
            for (const QByteArray& line : wanted) {
                if (lines.contains(line)) {
                    return line;
                }
            }
            if (process.state() == QProcess::NotRunning || guard.hasExpired() ||
                !process.waitForReadyRead(static_cast<int>(guard.remainingTime()))) {
                return {};
            }
        }
    }
    bool waitForLine(const QByteArray& line) { return waitForLine(QList{line}) == line; }
    // True when it ended normally within 60 s.
    bool waitForEnd() {
        return (process.state() == QProcess::NotRunning || process.waitForFinished(60000)) &&
               process.exitStatus() == QProcess::NormalExit;
    }
    void signal(int number) {
        // Never 0 or below: that would reach the whole process group.
        const auto pid = static_cast<pid_t>(process.processId());
        if (pid > 1 && pid != ::getpid()) {
            ::kill(pid, number);
        }
    }
    // Lets a quit under way finish its clean-up.
    void endQuit() {
        process.write("\n");
        process.waitForBytesWritten(60000);
    }
    // Asks it to quit and waits for it to end, its clean-up done.
    bool quit() {
        signal(SIGTERM);
        if (!waitForLine("quitting")) {
            return false;
        }
        endQuit();
        return waitForEnd() && process.exitCode() == 0;
    }
    QByteArray errors() { return process.readAllStandardError(); }

    QProcess process;
    QList<QByteArray> lines;
};

TEST(SingleInstanceProcess, AStartDuringAQuitWaitsForItsEndAndRunsAsTheOneInstance) {
    QTemporaryDir runtime;
    InstanceStart first(runtime.path());
    ASSERT_TRUE(first.waitForLine("ready")) << first.errors().constData();
    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForLine("quitting"));

    // Generous: it waits for as long as the test holds the first's clean-up.
    InstanceStart second(runtime.path(), std::nullopt, 60000);
    ASSERT_EQ(first.waitForLine({"refused", "shown"}), "refused");
    EXPECT_EQ(second.process.state(), QProcess::Running);

    first.endQuit();
    ASSERT_TRUE(first.waitForEnd()) << first.errors().constData();
    EXPECT_EQ(first.process.exitCode(), 0);
    ASSERT_TRUE(second.waitForLine("ready")) << second.errors().constData();

    // The one instance now: a later start hands over to it.
    InstanceStart third(runtime.path());
    ASSERT_TRUE(third.waitForEnd());
    EXPECT_EQ(third.process.exitCode(), 0) << third.errors().constData();
    EXPECT_TRUE(second.waitForLine("shown"));
    EXPECT_TRUE(second.quit()) << second.errors().constData();
}

// The instance busy when SIGTERM and then a later start come: its loop finds the start's
// connection and the signal ready in one pass, the guard's socket served first.
TEST(SingleInstanceProcess, AQuitSignalledBeforeAStartRefusesItThoughTheBusyLoopSeesBothAtOnce) {
    QTemporaryDir runtime;
    InstanceStart first(runtime.path(), std::nullopt, std::nullopt, true);
    ASSERT_TRUE(first.waitForLine("ready")) << first.errors().constData();
    // Held from "ready" until the second start has connected.
    first.signal(SIGTERM);

    InstanceStart second(runtime.path(), std::nullopt, 60000);
    ASSERT_EQ(first.waitForLine({"refused", "shown"}), "refused") << first.errors().constData();
    // Its quit came first.
    EXPECT_TRUE(first.lines.contains("quitting"));
    EXPECT_EQ(second.process.state(), QProcess::Running);

    first.endQuit();
    ASSERT_TRUE(first.waitForEnd()) << first.errors().constData();
    EXPECT_EQ(first.process.exitCode(), 0);
    EXPECT_FALSE(first.lines.contains("shown"));
    // Not ended with a hand-over to an instance that then went: it is the one instance now.
    ASSERT_TRUE(second.waitForLine("ready")) << second.errors().constData();
    EXPECT_TRUE(second.quit()) << second.errors().constData();
}

TEST(SingleInstanceProcess, AStartFacingAHungInstanceSaysSoAndFails) {
    QTemporaryDir runtime;
    InstanceStart first(runtime.path());
    ASSERT_TRUE(first.waitForLine("ready")) << first.errors().constData();
    first.signal(SIGSTOP);

    // A stopped process never answers: the bound only sets how long the test takes.
    InstanceStart second(runtime.path(), 1000);
    ASSERT_TRUE(second.waitForEnd());
    EXPECT_NE(second.process.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(second.errors());
    EXPECT_TRUE(errors.contains(runtime.path())) << qPrintable(errors);

    first.signal(SIGCONT);
    EXPECT_TRUE(first.quit());
}

} // namespace
