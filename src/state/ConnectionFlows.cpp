#include "ConnectionFlows.h"

#include "OneShotEvent.h"

namespace orvane {

// --- Lease ---------------------------------------------------------------------------------

ConnectionFlows::Lease::Lease(Lease&& other) noexcept
    : m_flows(std::move(other.m_flows)), m_ending(other.m_ending), m_id(other.m_id) {
    other.m_flows = nullptr;
}

ConnectionFlows::Lease& ConnectionFlows::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        end();
        m_flows = std::move(other.m_flows);
        m_ending = other.m_ending;
        m_id = other.m_id;
        other.m_flows = nullptr;
    }
    return *this;
}

void ConnectionFlows::Lease::end() {
    const QPointer<ConnectionFlows> flows = std::move(m_flows);
    m_flows = nullptr;
    if (flows) {
        (flows.data()->*m_ending)(m_id);
    }
}

// --- Flows ---------------------------------------------------------------------------------

ConnectionFlows::ConnectionFlows(QObject* parent) : QObject(parent) {}

ConnectionFlows::~ConnectionFlows() {
    // A waiter resumes, finds the flows gone and ends.
    wakeWaiters();
}

void ConnectionFlows::advance() {
    newGeneration();
    dropHolds(false, true);
}

void ConnectionFlows::endSession() {
    newGeneration();
    dropHolds(false, false);
}

void ConnectionFlows::beginExit() {
    m_exiting = true;
    newGeneration();
    dropHolds(false, false);
}

void ConnectionFlows::newGeneration() {
    ++m_generation;
    newConnection();
}

void ConnectionFlows::endConnection() {
    m_running.reset();
    newConnection();
}

void ConnectionFlows::newConnection() {
    ++m_connection;
    m_refreshedThrough = m_refreshesAsked; // nothing is owed to a connection that ended
    // A stopped change can no longer reach the tunnel but through a call already under way,
    // which counts on its own.
    m_changes.clear();
    m_announced.clear();
    wakeWaiters();
}

void ConnectionFlows::dropHolds(bool keepCurrentConnection, bool keepAccount) {
    const bool wasBusy = isBusy();
    for (auto it = m_holds.begin(); it != m_holds.end();) {
        const Hold& hold = it->second;
        const bool keep = hold.scope == Scope::account
                              ? keepAccount
                              : keepCurrentConnection && hold.generation == m_generation;
        it = keep ? std::next(it) : m_holds.erase(it);
    }
    if (wasBusy != isBusy()) {
        emit busyChanged();
    }
}

ConnectionFlows::Lease ConnectionFlows::holdBusy(Scope scope) {
    const quint64 id = ++m_nextHold;
    // Nothing holds the mark once the exit began.
    if (m_exiting) {
        return {};
    }
    const bool wasBusy = isBusy();
    m_holds.emplace(id, Hold{scope, m_generation});
    if (!wasBusy) {
        emit busyChanged();
    }
    return Lease(this, &ConnectionFlows::releaseHold, id);
}

void ConnectionFlows::releaseHold(quint64 id) {
    if (m_holds.erase(id) > 0 && m_holds.empty()) {
        emit busyChanged();
    }
}

ConnectionFlows::Lease ConnectionFlows::beginConnect() {
    m_connect = m_generation;
    return Lease(this, &ConnectionFlows::endConnect, m_generation);
}

void ConnectionFlows::endConnect(quint64 generation) {
    if (m_connect == generation) {
        m_connect.reset();
    }
}

ConnectionFlows::Lease ConnectionFlows::beginRecovery() {
    m_recovery = m_generation;
    return Lease(this, &ConnectionFlows::endRecovery, m_generation);
}

void ConnectionFlows::endRecovery(quint64 generation) {
    if (m_recovery == generation) {
        m_recovery.reset();
    }
}

void ConnectionFlows::setRunningSystemProxy(bool enabled) {
    if (m_running) {
        m_running->systemProxyEnabled = enabled;
    }
}

ConnectionFlows::Lease ConnectionFlows::beginNodeStart() {
    ++m_nodeStarts;
    return Lease(this, &ConnectionFlows::endNodeStart, 0);
}

void ConnectionFlows::endNodeStart(quint64) {
    if (--m_nodeStarts == 0) {
        wakeWaiters();
    }
}

ConnectionFlows::Lease ConnectionFlows::beginTakeDown() {
    ++m_takeDowns;
    return Lease(this, &ConnectionFlows::endTakeDown, 0);
}

void ConnectionFlows::endTakeDown(quint64) {
    if (--m_takeDowns == 0) {
        wakeWaiters();
    }
}

ConnectionFlows::Lease ConnectionFlows::beginTunnelCall() {
    ++m_tunnelCalls;
    return Lease(this, &ConnectionFlows::endTunnelCall, 0);
}

void ConnectionFlows::endTunnelCall(quint64) {
    if (--m_tunnelCalls == 0) {
        wakeWaiters();
    }
}

QCoro::Task<bool> ConnectionFlows::untilTunnelIsFree() {
    QPointer<ConnectionFlows> self(this);
    while (m_takeDowns > 0 || m_nodeStarts > 0 || m_tunnelCalls > 0) {
        const bool alive = co_await untilWoken();
        if (!alive || !self) {
            co_return false;
        }
    }
    co_return true;
}

ConnectionFlows::Lease ConnectionFlows::requestChange() {
    const quint64 ticket = m_nextTicket++;
    ++m_changesBegun;
    m_changes.insert(ticket);
    return Lease(this, &ConnectionFlows::endChange, ticket);
}

void ConnectionFlows::endChange(quint64 ticket) {
    // The oldest change ending hands the turn on.
    const bool hadTurn = !m_changes.empty() && *m_changes.begin() == ticket;
    m_changes.erase(ticket);
    if (hadTurn) {
        wakeWaiters();
    }
}

ConnectionFlows::Lease ConnectionFlows::announceChange() {
    const quint64 id = m_nextAnnouncement++;
    m_announced.insert(id);
    return Lease(this, &ConnectionFlows::endAnnouncement, id);
}

void ConnectionFlows::endAnnouncement(quint64 id) {
    m_announced.erase(id);
}

QCoro::Task<bool> ConnectionFlows::untilTurnOf(quint64 ticket) {
    QPointer<ConnectionFlows> self(this);
    while (!m_changes.empty() && *m_changes.begin() < ticket) {
        const bool alive = co_await untilWoken();
        if (!alive || !self) {
            co_return false;
        }
    }
    co_return true;
}

void ConnectionFlows::wakeWaiters() {
    const QList<std::shared_ptr<OneShotEvent>> waiters = std::move(m_waiters);
    m_waiters.clear();
    for (const std::shared_ptr<OneShotEvent>& waiter : waiters) {
        waiter->set();
    }
}

QCoro::Task<bool> ConnectionFlows::untilWoken() {
    QPointer<ConnectionFlows> self(this);
    const auto woken = std::make_shared<OneShotEvent>();
    m_waiters.append(woken);
    co_await woken->wait();
    co_return !self.isNull();
}

} // namespace orvane
