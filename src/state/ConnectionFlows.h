#pragma once

#include "Device.h"
#include "Endpoint.h"
#include "StateEnumerations.h"
#include "TunnelActivation.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace orvane {

class OneShotEvent;

// What the tunnel runs: the node and device it was started or last reloaded with, and the
// choices that start or reload applied.
struct RunningConnection {
    Endpoint endpoint;
    Device device;
    TunnelActivation::Mode mode = TunnelActivation::Mode::singBox;
    OutboundMode outboundMode = OutboundMode::smart;
    bool aiEnhancedModeEnabled = false;
    bool systemProxyEnabled = false;
};

// The rules by which the connection's flows (connect, disconnect, reload, proxy switch,
// keep-alive, recovery, sign-out, exit) share one tunnel and one busy mark.
//
// - Generations: a disconnect, a sign-out, an exit, or an end the state finds itself (a lost
//   system proxy, a reload that lost sing-box) opens a new one. A flow keeps the generation it
//   began in and stops at its next step once that is no longer current.
// - The busy mark is on while any hold is: a connection hold ends with its generation, an
//   account hold with the session (a sign-out); every hold ends at exit and when its lease goes.
// - Changes of the running connection (reloads, system-proxy switches) take turns, in the
//   order they were asked for. They belong to their connection, which ends with its generation
//   or earlier, when its node is taken down while the flow goes on (a candidate failing after
//   its start, a recovery beginning): from then on they hold back nothing and touch nothing,
//   except a call into the tunnel still under way.
// - A connect begins once no take-down, no node start of a stopped flow and no call of a
//   change into the tunnel is left.
class ConnectionFlows : public QObject {
    Q_OBJECT
public:
    // Ends what it stands for when it goes (or at `end()`); harmless once the flows are gone.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { end(); }
        void end();
        explicit operator bool() const { return m_flows != nullptr; }
        quint64 id() const { return m_id; }

    private:
        friend class ConnectionFlows;
        using Ending = void (ConnectionFlows::*)(quint64);
        Lease(ConnectionFlows* flows, Ending ending, quint64 id)
            : m_flows(flows), m_ending(ending), m_id(id) {}
        QPointer<ConnectionFlows> m_flows;
        Ending m_ending = nullptr;
        quint64 m_id = 0;
    };

    enum class Scope { connection, account };

    explicit ConnectionFlows(QObject* parent = nullptr);
    ~ConnectionFlows() override;

    // --- Generations -----------------------------------------------------------------------
    quint64 generation() const { return m_generation; }
    bool isCurrent(quint64 generation) const { return !m_exiting && generation == m_generation; }
    bool isExiting() const { return m_exiting; }
    // Every older flow stops, and lets go of the busy mark.
    void advance();
    // A sign-out: the account actions' holds end too.
    void endSession();
    // Nothing starts any more; every hold ends.
    void beginExit();

    // --- Connections ---------------------------------------------------------------------
    // The connection that runs, or the next one to: every generation is a new one too.
    quint64 connection() const { return m_connection; }
    bool isCurrentConnection(quint64 connection) const {
        return !m_exiting && connection == m_connection;
    }
    // The running connection ended, though the flow that made it goes on: its record and its
    // changes go.
    void endConnection();

    // --- The busy mark ---------------------------------------------------------------------
    Lease holdBusy(Scope scope);
    bool isBusy() const { return !m_holds.empty(); }

    // --- The connect -----------------------------------------------------------------------
    // One connect per generation: a second press while it runs starts none. A connect that a
    // disconnect or sign-out stopped holds back no later one.
    Lease beginConnect();
    bool connectRunning() const { return m_connect == m_generation; }

    // --- What runs -------------------------------------------------------------------------
    const std::optional<RunningConnection>& running() const { return m_running; }
    void setRunning(RunningConnection running) { m_running = std::move(running); }
    void setRunningSystemProxy(bool enabled);
    void forgetRunning() { m_running.reset(); }

    // --- Node picks ------------------------------------------------------------------------
    // A flow that began before the user's latest pick leaves the selection to it.
    void notePick() { ++m_picks; }
    quint64 picks() const { return m_picks; }
    // A reload that a newer one follows leaves the tunnel to it: each reload, and each one
    // announced to follow a change, is counted.
    quint64 noteReload() { return ++m_reloads; }
    quint64 reloads() const { return m_reloads; }

    // --- Refreshes -------------------------------------------------------------------------
    // A refresh the user asked for (a manual reload) is owed until a reload that requested its
    // configuration after the ask has told its outcome, or its connection ended: every reload
    // until then fetches a fresh configuration, whatever runs already.
    void askRefresh() { ++m_refreshesAsked; }
    quint64 refreshesAsked() const { return m_refreshesAsked; }
    bool refreshOwed() const { return m_refreshesAsked > m_refreshedThrough; }
    // `asked`: the count of refreshes asked when the configuration was requested.
    void noteRefreshed(quint64 asked) { m_refreshedThrough = std::max(m_refreshedThrough, asked); }

    // --- Work under way --------------------------------------------------------------------
    Lease beginNodeStart();
    Lease beginTakeDown();
    // A change's own call into the tunnel (a reload, a proxy switch): it outlives the change's
    // generation, as the tunnel is busy until it returns.
    Lease beginTunnelCall();
    int nodeStartsUnderWay() const { return m_nodeStarts; }
    int takeDownsUnderWay() const { return m_takeDowns; }
    int tunnelCallsUnderWay() const { return m_tunnelCalls; }
    // Until no take-down, node start or tunnel call is left; false when the flows went away.
    QCoro::Task<bool> untilTunnelIsFree();

    // A change of the running connection counts from its request until its turn ends, or
    // until its generation ends, whichever comes first.
    Lease requestChange();
    // Resumes once every change of the generation asked for before this one (the request's
    // id) has ended; false when the flows went away meanwhile.
    QCoro::Task<bool> untilTurnOf(quint64 ticket);
    // A change that will be asked for once the one before it ends (a switch to direct mode
    // turns the proxy off, then reloads): it counts as under way from now, without a turn.
    Lease announceChange();
    // The changes of the current connection, announced ones included.
    int changesUnderWay() const { return static_cast<int>(m_changes.size() + m_announced.size()); }
    // How many changes have been asked for: a keep-alive check that overlapped one probed a
    // connection in change.
    quint64 changesBegun() const { return m_changesBegun; }

    // The automatic recovery of the current generation, like the connect: one at a time, and
    // one that was stopped counts no more.
    Lease beginRecovery();
    bool recovering() const { return m_recovery == m_generation; }

signals:
    void busyChanged();

private:
    struct Hold {
        Scope scope;
        quint64 generation;
    };
    void releaseHold(quint64 id);
    void endConnect(quint64 generation);
    void endRecovery(quint64 generation);
    void endNodeStart(quint64);
    void endTakeDown(quint64);
    void endTunnelCall(quint64);
    void endChange(quint64 ticket);
    void endAnnouncement(quint64 id);
    // A new generation: the changes of the old one give up their turns.
    void newGeneration();
    // The changes of the ended connection give up their turns.
    void newConnection();
    void dropHolds(bool keepCurrentConnection, bool keepAccount);
    // Wakes every waiter, which then looks again at what it waits for.
    void wakeWaiters();
    // Until the next wake; false when the flows went away meanwhile.
    QCoro::Task<bool> untilWoken();

    quint64 m_generation = 0;
    quint64 m_connection = 0;
    bool m_exiting = false;
    quint64 m_nextHold = 0;
    std::map<quint64, Hold> m_holds;
    std::optional<quint64> m_connect;
    std::optional<RunningConnection> m_running;
    quint64 m_picks = 0;
    quint64 m_reloads = 0;
    quint64 m_refreshesAsked = 0;
    quint64 m_refreshedThrough = 0;
    int m_nodeStarts = 0;
    int m_takeDowns = 0;
    int m_tunnelCalls = 0;
    quint64 m_nextTicket = 0;
    quint64 m_changesBegun = 0;
    // Tickets of the current generation's changes under way, oldest first.
    std::set<quint64> m_changes;
    std::set<quint64> m_announced;
    quint64 m_nextAnnouncement = 0;
    std::optional<quint64> m_recovery;
    // Each waiter's own event: it outlives these flows, which set every one as they go.
    QList<std::shared_ptr<OneShotEvent>> m_waiters;
};

} // namespace orvane
