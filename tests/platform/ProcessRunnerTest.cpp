#include "AsyncMutex.h"
#include "CancelToken.h"
#include "ProcessRunner.h"
#include "RunTask.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using namespace orvane;
using namespace std::chrono_literals;

namespace {
CommandResult sh(const char* script, std::optional<std::chrono::milliseconds> timeout =
                                         ProcessRunner::kDefaultTimeout) {
    const QStringList arguments{QStringLiteral("-c"), QString::fromUtf8(script)};
    return test::runTask(ProcessRunner::run(QStringLiteral("/bin/sh"), arguments, timeout));
}
} // namespace

TEST(ProcessRunnerTest, CollectsStatusAndBothPipes) {
    const CommandResult result = sh("printf 'out 中文'; printf 'err' >&2; exit 3");
    EXPECT_EQ(result.status, 3);
    EXPECT_FALSE(result.launchFailed);
    EXPECT_EQ(result.standardOutput, QStringLiteral("out 中文"));
    EXPECT_EQ(result.standardError, QStringLiteral("err"));
    EXPECT_EQ(result.output(), QStringLiteral("out 中文\nerr"));
    EXPECT_EQ(sh("printf x").output(), QStringLiteral("x"));
    EXPECT_EQ(sh("printf x >&2").output(), QStringLiteral("x"));
    EXPECT_EQ(sh("true").output(), QString());
}

TEST(ProcessRunnerTest, LargeOutputDoesNotStall) {
    // Far more than a pipe holds, on both pipes at once.
    const CommandResult result = sh("head -c 3000000 /dev/zero | tr '\\0' a; "
                                    "head -c 3000000 /dev/zero | tr '\\0' b >&2");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardOutput.size(), 3000000);
    EXPECT_EQ(result.standardError.size(), 3000000);
}

TEST(ProcessRunnerTest, InvalidUTF8GivesEmptyText) {
    const CommandResult result = sh("printf '\\377\\376'; printf 'ok' >&2");
    EXPECT_EQ(result.standardOutput, QString());
    EXPECT_EQ(result.standardError, QStringLiteral("ok"));
}

TEST(ProcessRunnerTest, MissingExecutableIsStatus127) {
    const CommandResult result = test::runTask(
        ProcessRunner::run(QStringLiteral("/nonexistent/tool"), QStringList{QStringLiteral("x")}));
    EXPECT_EQ(result.status, 127);
    EXPECT_TRUE(result.launchFailed);
    EXPECT_TRUE(result.standardOutput.isEmpty());
    EXPECT_FALSE(result.standardError.isEmpty());
}

TEST(ProcessRunnerTest, HungToolIsKilledAfterItsTimeout) {
    QElapsedTimer clock;
    clock.start();
    const CommandResult result = sh("exec sleep 30", 300ms);
    EXPECT_EQ(result.status, 124);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(result.standardError.isEmpty());
}

TEST(ProcessRunnerTest, ArgumentsReachTheToolUnchanged) {
    const QStringList arguments{QStringLiteral("-c"), QStringLiteral("printf '%s|' \"$@\""),
                                QStringLiteral("sh"), QStringLiteral("a b"),
                                QStringLiteral("'q'"), QStringLiteral("$HOME;x")};
    const CommandResult result =
        test::runTask(ProcessRunner::run(QStringLiteral("/bin/sh"), arguments));
    EXPECT_EQ(result.standardOutput, QStringLiteral("a b|'q'|$HOME;x|"));
}

TEST(ProcessRunnerTest, ActivityCountsRunsAndTheTimeAnyOfThemRan) {
    const QStringList nap{QStringLiteral("-c"), QStringLiteral("sleep 0.3")};
    const ProcessRunner::Activity before = ProcessRunner::activity();
    auto both = [nap]() -> QCoro::Task<void> {
        // Side by side: the busy time is the span of the pair, not the sum of both.
        QCoro::Task<CommandResult> first = ProcessRunner::run(QStringLiteral("/bin/sh"), nap);
        QCoro::Task<CommandResult> second = ProcessRunner::run(QStringLiteral("/bin/sh"), nap);
        co_await first;
        co_await second;
    };
    QElapsedTimer span;
    span.start();
    test::runTask(both());
    const std::chrono::nanoseconds pairSpan(span.nsecsElapsed());
    const ProcessRunner::Activity pair = ProcessRunner::activity();
    EXPECT_GE(pair.busy - before.busy, 300ms);
    // However slowly the machine ran them, the union of two spans fits in the pair's own span.
    EXPECT_LE(pair.busy - before.busy, pairSpan);
    test::runTask(ProcessRunner::run(QStringLiteral("/nonexistent/tool"), QStringList{}));
    const ProcessRunner::Activity after = ProcessRunner::activity();
    EXPECT_EQ(after.runs - before.runs, 3);

    // Nothing running: the clock stands still.
    test::runTask(sleepFor(50ms));
    EXPECT_EQ(ProcessRunner::activity().busy, after.busy);
}

TEST(CancelTokenTest, SleepWakesEarlyWhenCancelled) {
    CancelToken token;
    QTimer::singleShot(50, &token, [&token] { token.cancel(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(test::runTask(sleepFor(10s, &token)));
    EXPECT_LT(clock.elapsed(), 5000);
    // Already cancelled: returns at once.
    EXPECT_FALSE(test::runTask(sleepFor(10s, &token)));
    EXPECT_TRUE(test::runTask(sleepFor(10ms)));
    CancelToken fresh;
    EXPECT_TRUE(test::runTask(sleepFor(10ms, &fresh)));
}

TEST(AsyncMutexTest, HoldersNeverOverlap) {
    AsyncMutex mutex;
    std::vector<QString> trace;
    auto worker = [&](QString name) -> QCoro::Task<void> {
        auto lock = co_await mutex.lock();
        trace.push_back(name + QStringLiteral(" in"));
        co_await sleepFor(20ms);
        trace.push_back(name + QStringLiteral(" out"));
    };
    auto all = [&]() -> QCoro::Task<void> {
        auto a = worker(QStringLiteral("a"));
        auto b = worker(QStringLiteral("b"));
        auto c = worker(QStringLiteral("c"));
        co_await std::move(a);
        co_await std::move(b);
        co_await std::move(c);
    };
    test::runTask(all());
    ASSERT_EQ(trace.size(), 6u);
    for (size_t i = 0; i < trace.size(); i += 2) {
        EXPECT_TRUE(trace[i].endsWith(QStringLiteral(" in")));
        EXPECT_EQ(trace[i + 1], trace[i].left(1) + QStringLiteral(" out"));
    }
    EXPECT_FALSE(mutex.isLocked());
}
