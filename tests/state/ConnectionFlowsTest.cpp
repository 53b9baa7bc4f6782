#include "ConnectionFlows.h"

#include "RunTask.h"
#include "WaitUntil.h"


#include <gtest/gtest.h>

#include <memory>

using namespace orvane;
using namespace orvane::test;
using Scope = ConnectionFlows::Scope;

// The busy mark is on exactly while a current hold is: whatever order flows end in, and
// whichever action moves the generation on, no hold strands it and none clears another's.
TEST(ConnectionFlows, BusyHoldsEndWithTheirGenerationOrSession) {
    ConnectionFlows flows;
    int changes = 0;
    QObject::connect(&flows, &ConnectionFlows::busyChanged, [&changes] { ++changes; });

    ConnectionFlows::Lease connect = flows.holdBusy(Scope::connection);
    ConnectionFlows::Lease unbind = flows.holdBusy(Scope::account);
    EXPECT_TRUE(flows.isBusy());
    EXPECT_EQ(changes, 1);

    // A disconnect: the stopped connect lets go, the unbind beside it does not.
    flows.advance();
    ConnectionFlows::Lease disconnect = flows.holdBusy(Scope::connection);
    unbind.end();
    EXPECT_TRUE(flows.isBusy());
    // The stopped connect ending late clears nothing of the disconnect's.
    connect.end();
    EXPECT_TRUE(flows.isBusy());
    // A connect pressed while the disconnect's report is out keeps its mark past it.
    ConnectionFlows::Lease next = flows.holdBusy(Scope::connection);
    disconnect.end();
    EXPECT_TRUE(flows.isBusy());
    next.end();
    EXPECT_FALSE(flows.isBusy());
    EXPECT_EQ(changes, 2);

    // A sign-out ends account holds as well; the exit ends every hold and takes none after.
    ConnectionFlows::Lease signIn = flows.holdBusy(Scope::account);
    flows.endSession();
    EXPECT_FALSE(flows.isBusy());
    ConnectionFlows::Lease refresh = flows.holdBusy(Scope::account);
    flows.beginExit();
    EXPECT_FALSE(flows.isBusy());
    EXPECT_FALSE(flows.holdBusy(Scope::connection));
    EXPECT_FALSE(flows.isBusy());
    EXPECT_FALSE(flows.isCurrent(flows.generation()));
}

TEST(ConnectionFlows, AStoppedConnectOrRecoveryHoldsBackNoNewOne) {
    ConnectionFlows flows;
    std::optional<ConnectionFlows::Lease> connect = flows.beginConnect();
    std::optional<ConnectionFlows::Lease> recovery = flows.beginRecovery();
    EXPECT_TRUE(flows.connectRunning());
    EXPECT_TRUE(flows.recovering());
    flows.advance();
    EXPECT_FALSE(flows.connectRunning());
    EXPECT_FALSE(flows.recovering());
    ConnectionFlows::Lease nextConnect = flows.beginConnect();
    ConnectionFlows::Lease nextRecovery = flows.beginRecovery();
    // The stopped ones ending do not end the new ones.
    connect.reset();
    recovery.reset();
    EXPECT_TRUE(flows.connectRunning());
    EXPECT_TRUE(flows.recovering());
    nextConnect.end();
    nextRecovery.end();
    EXPECT_FALSE(flows.connectRunning());
    EXPECT_FALSE(flows.recovering());
}

// Leases outliving the flows (a frame that ends after the state is gone) end harmlessly.
TEST(ConnectionFlows, LeasesOutlivingTheFlowsEndQuietly) {
    auto flows = std::make_unique<ConnectionFlows>();
    ConnectionFlows::Lease hold = flows->holdBusy(Scope::connection);
    ConnectionFlows::Lease change = flows->requestChange();
    ConnectionFlows::Lease start = flows->beginNodeStart();
    flows.reset();
    hold.end();
    change.end();
    start.end();
    SUCCEED();
}

namespace {

QCoro::Task<void> afterTurn(ConnectionFlows& flows, quint64 ticket, QStringList& order,
                            QString name) {
    const bool alive = co_await flows.untilTurnOf(ticket);
    order << (alive ? name : name + QStringLiteral(" gone"));
}

QCoro::Task<void> onceFree(ConnectionFlows& flows, bool& free) {
    free = co_await flows.untilTunnelIsFree();
}

} // namespace

// Changes of the running connection take turns in the order they were asked for, whatever
// order their own waits end in; one that ends before its turn hands it on.
TEST(ConnectionFlows, ChangesTakeTurnsInTheOrderAsked) {
    ConnectionFlows flows;
    QStringList order;
    ConnectionFlows::Lease first = flows.requestChange();
    ConnectionFlows::Lease second = flows.requestChange();
    ConnectionFlows::Lease third = flows.requestChange();
    EXPECT_EQ(flows.changesUnderWay(), 3);
    EXPECT_EQ(flows.changesBegun(), 3u);
    QCoro::Task<void> thirdWaits = afterTurn(flows, third.id(), order, QStringLiteral("third"));
    QCoro::Task<void> secondWaits = afterTurn(flows, second.id(), order, QStringLiteral("second"));
    QCoro::Task<void> firstGoes = afterTurn(flows, first.id(), order, QStringLiteral("first"));
    EXPECT_EQ(order, QStringList{QStringLiteral("first")});

    // The third ends early (its flow was stopped): the second still waits for the first.
    third.end();
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(order, QStringList{QStringLiteral("first")});
    first.end();
    ASSERT_TRUE(waitUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, QStringList({"first", "second"}));
    // Its turn still comes after the second, which is how it learns it was stopped.
    second.end();
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order.last(), QStringLiteral("third"));
    EXPECT_EQ(flows.changesUnderWay(), 0);
    runTask(std::move(thirdWaits));
    runTask(std::move(secondWaits));
    runTask(std::move(firstGoes));
}

// A change of an ended connection can no longer reach the tunnel but through a call already
// under way: it holds back none of the next connection's changes, and only that call holds
// back its connect.
TEST(ConnectionFlows, ChangesOfAnEndedConnectionHoldBackOnlyTheirTunnelCall) {
    ConnectionFlows flows;
    QStringList order;
    ConnectionFlows::Lease waiting = flows.requestChange();
    ConnectionFlows::Lease calling = flows.requestChange();
    ConnectionFlows::Lease call = flows.beginTunnelCall();
    ConnectionFlows::Lease announced = flows.announceChange();
    EXPECT_EQ(flows.changesUnderWay(), 3);

    flows.advance();
    EXPECT_EQ(flows.changesUnderWay(), 0);
    bool free = false;
    QCoro::Task<void> connect = onceFree(flows, free);
    ConnectionFlows::Lease next = flows.requestChange();
    QCoro::Task<void> nextGoes = afterTurn(flows, next.id(), order, QStringLiteral("next"));
    EXPECT_EQ(order, QStringList{QStringLiteral("next")});
    EXPECT_EQ(flows.changesUnderWay(), 1);
    // The stopped ones ending late take nothing of the new one's.
    waiting.end();
    announced.end();
    calling.end();
    EXPECT_EQ(flows.changesUnderWay(), 1);
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(free);
    call.end();
    runTask(std::move(connect));
    EXPECT_TRUE(free);
    next.end();
    EXPECT_EQ(flows.changesUnderWay(), 0);
    runTask(std::move(nextGoes));
}

// A connection can end while its flow goes on (a candidate failing after its node started):
// its record and changes go, the generation and the flow's own hold stay.
TEST(ConnectionFlows, AConnectionEndsWithoutEndingItsGeneration) {
    ConnectionFlows flows;
    ConnectionFlows::Lease busy = flows.holdBusy(ConnectionFlows::Scope::connection);
    ConnectionFlows::Lease connect = flows.beginConnect();
    flows.setRunning(RunningConnection{});
    const quint64 generation = flows.generation();
    const quint64 connection = flows.connection();
    ConnectionFlows::Lease change = flows.requestChange();

    flows.endConnection();
    EXPECT_FALSE(flows.isCurrentConnection(connection));
    EXPECT_TRUE(flows.isCurrent(generation));
    EXPECT_TRUE(flows.connectRunning());
    EXPECT_TRUE(flows.isBusy());
    EXPECT_FALSE(flows.running().has_value());
    EXPECT_EQ(flows.changesUnderWay(), 0);

    // The next connection is current until its generation ends too, or the exit begins.
    const quint64 next = flows.connection();
    EXPECT_TRUE(flows.isCurrentConnection(next));
    flows.advance();
    EXPECT_FALSE(flows.isCurrentConnection(next));
    const quint64 afterDisconnect = flows.connection();
    flows.beginExit();
    EXPECT_FALSE(flows.isCurrentConnection(afterDisconnect));
}

// An announced change counts as under way without taking a turn: the change before it goes.
TEST(ConnectionFlows, AnAnnouncedChangeTakesNoTurn) {
    ConnectionFlows flows;
    QStringList order;
    ConnectionFlows::Lease announced = flows.announceChange();
    ConnectionFlows::Lease change = flows.requestChange();
    QCoro::Task<void> goes = afterTurn(flows, change.id(), order, QStringLiteral("switch"));
    EXPECT_EQ(order, QStringList{QStringLiteral("switch")});
    change.end();
    EXPECT_EQ(flows.changesUnderWay(), 1);
    announced.end();
    EXPECT_EQ(flows.changesUnderWay(), 0);
    runTask(std::move(goes));
}

TEST(ConnectionFlows, TheTunnelIsFreeOnceNoStartAndNoTakeDownIsLeft) {
    auto flows = std::make_unique<ConnectionFlows>();
    bool free = false;
    {
        ConnectionFlows::Lease start = flows->beginNodeStart();
        ConnectionFlows::Lease takeDown = flows->beginTakeDown();
        QCoro::Task<void> waiting = onceFree(*flows, free);
        start.end();
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
        EXPECT_FALSE(free);
        takeDown.end();
        runTask(std::move(waiting));
        EXPECT_TRUE(free);
    }
    // A node start alone holds the tunnel too.
    {
        ConnectionFlows::Lease start = flows->beginNodeStart();
        free = false;
        QCoro::Task<void> waiting = onceFree(*flows, free);
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
        EXPECT_FALSE(free);
        start.end();
        runTask(std::move(waiting));
        EXPECT_TRUE(free);
    }
    // Flows that go away wake their waiters, which then give up.
    ConnectionFlows::Lease takeDown = flows->beginTakeDown();
    free = true;
    QCoro::Task<void> waiting = onceFree(*flows, free);
    flows.reset();
    runTask(std::move(waiting));
    EXPECT_FALSE(free);
}
