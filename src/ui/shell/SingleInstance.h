#pragma once

#include "TerminationHandshake.h"

#include <QObject>
#include <QString>

#include <chrono>

class QLocalServer;
class QLocalSocket;

namespace orvane {

// How long a later start waits on the running instance.
struct SingleInstanceWaits {
    // For the running instance to say it has shown its window.
    std::chrono::milliseconds answer{5000};
    // For the lock of an instance that is quitting: its clean-up has up to the hand-shake's
    // limit, and the process still has to end after it.
    std::chrono::milliseconds lockRelease =
        TerminationHandshake::kLimit + std::chrono::milliseconds(2000);
};

// One application per user. The first start holds a lock in the user's runtime folder and
// listens on a socket beside it; a later start finds the lock taken, asks the running one to
// show its window, waits for its word that it did and ends, having touched nothing else. An
// instance that has begun to quit refuses, and the later start waits for its lock instead. The
// lock goes with the process that held it, so one left behind by a kill -9 blocks no later
// start.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        // This start is the one instance (or there is no guard, which refuses no start).
        primary,
        // The running instance took the request to show its window.
        handedOver,
        // Another instance holds the lock and neither answered nor ended.
        noAnswer,
    };

    // `folder` holds the guard; the user's runtime folder ($XDG_RUNTIME_DIR) when empty. A
    // later start returns only once it knows its outcome, within the bounds of `waits`; it runs
    // the event loop meanwhile, so make it before anything else is under way.
    explicit SingleInstance(const QString& folder = {}, SingleInstanceWaits waits = {},
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    Outcome outcome() const { return m_outcome; }
    bool isPrimary() const { return m_outcome == Outcome::primary; }
    // The status a start that is not the primary one ends with.
    int exitStatus() const { return m_outcome == Outcome::noAnswer ? 1 : 0; }
    bool refusesHandOvers() const { return m_refusing; }

    // From now on later starts are told to wait for this process to end: a window shown now
    // would go with it.
    void refuseHandOvers();

signals:
    // A later start is about to be answered. A quit asked for before it but not yet seen by the
    // event loop (a signal) is to be requested from here, so the start is refused.
    void aboutToAnswer();
    // A later start asked this instance to show its window.
    void activationRequested();
    // A later start came while this instance quits; it waits for the lock.
    void handOverRefused();

private:
    enum class Reply { shown, quitting, unreachable, silent };

    void listen(const QString& socketPath);
    void answer(QLocalSocket* socket);
    int lockError();
    Outcome waitForTheRunningOne(const QString& directory);
    Reply ask(QLocalSocket& socket, const QString& socketPath) const;

    SingleInstanceWaits m_waits;
    Outcome m_outcome = Outcome::primary;
    bool m_refusing = false;
    int m_lockFile = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace orvane
