#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvane {

namespace {
const QString kLockName = QStringLiteral("orvane.lock");
const QString kSocketName = QStringLiteral("orvane.socket");
// The running instance's one-byte answers.
constexpr char kShown = '1';
constexpr char kRefused = '0';
// Only when there is no socket to wait on: the running instance has taken the lock a moment
// before it listens, or its end closed the socket a moment before the lock.
constexpr std::chrono::milliseconds kRetryPause{20};

// Runs the event loop until `deadline`, or until `socket` (if any) disconnects. The running
// instance may live in this very process (tests), so its socket is served meanwhile.
void runUntil(QDeadlineTimer deadline, QLocalSocket* socket = nullptr) {
    if (deadline.hasExpired()) {
        return;
    }
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (socket) {
        QObject::connect(socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    }
    limit.start(static_cast<int>(deadline.remainingTime()));
    loop.exec();
}

void sayNoAnswer(const QString& directory) {
    qWarning("Orvane is already running but did not answer (instance lock in %s).",
             qPrintable(directory));
}
} // namespace

SingleInstance::SingleInstance(const QString& folder, SingleInstanceWaits waits, QObject* parent)
    : QObject(parent), m_waits(waits) {
    const QString directory =
        folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                         : folder;
    if (directory.isEmpty()) {
        // Without a runtime folder there is no guard; a start is never refused for that.
        qWarning("No runtime folder: a second instance cannot be detected.");
        return;
    }
    const QDir dir(directory);
    // Close-on-exec: a sing-box outliving a kill -9 must not keep holding the lock.
    m_lockFile = ::open(QFile::encodeName(dir.filePath(kLockName)).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFile < 0) {
        const int error = errno;
        qWarning("Cannot open the instance lock in %s: %s.", qPrintable(directory),
                 qPrintable(qt_error_string(error)));
        return;
    }
    if (lockError() == EWOULDBLOCK) {
        m_outcome = waitForTheRunningOne(directory);
    }
    if (m_outcome != Outcome::primary || m_lockFile < 0) {
        if (m_lockFile >= 0) {
            ::close(m_lockFile);
            m_lockFile = -1;
        }
        return;
    }
    listen(dir.filePath(kSocketName));
}

SingleInstance::~SingleInstance() {
    if (m_server) {
        // Before the lock goes: close() removes the socket file, which could by then be the
        // next instance's.
        m_server->close();
    }
    if (m_lockFile >= 0) {
        ::close(m_lockFile);
    }
    // Only now do the refused starts' connections close: they wake to a free lock.
    delete m_server;
}

void SingleInstance::refuseHandOvers() {
    m_refusing = true;
}

// 0 once the lock is ours; otherwise errno, EWOULDBLOCK while another instance holds it. On any
// other failure the guard is off: a start is never refused for that.
int SingleInstance::lockError() {
    if (::flock(m_lockFile, LOCK_EX | LOCK_NB) == 0) {
        return 0;
    }
    const int error = errno;
    if (error != EWOULDBLOCK) {
        ::close(m_lockFile);
        m_lockFile = -1;
    }
    return error;
}

void SingleInstance::listen(const QString& socketPath) {
    // Whatever socket is there was left by an instance that is gone: the lock is ours.
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath)) {
        qWarning("Cannot listen on %s: %s", qPrintable(socketPath),
                 qPrintable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            answer(socket);
        }
    });
}

void SingleInstance::answer(QLocalSocket* socket) {
    // The loop may serve this start before a signal sent ahead of it.
    emit aboutToAnswer();
    if (m_refusing) {
        // Left open: it closes when this process lets go of the lock, which wakes the start.
        socket->write(&kRefused, 1);
        socket->flush();
        emit handOverRefused();
        return;
    }
    emit activationRequested();
    // Only now that the window has come forward: the later start ends on this byte.
    socket->write(&kShown, 1);
    socket->flush();
    socket->disconnectFromServer();
    if (socket->state() == QLocalSocket::UnconnectedState) {
        socket->deleteLater();
    } else {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

SingleInstance::Outcome SingleInstance::waitForTheRunningOne(const QString& directory) {
    const QString socketPath = QDir(directory).filePath(kSocketName);
    const QDeadlineTimer lockDeadline(m_waits.lockRelease);
    for (;;) {
        QLocalSocket socket;
        switch (ask(socket, socketPath)) {
        case Reply::shown:
            return Outcome::handedOver;
        case Reply::silent:
            sayNoAnswer(directory);
            return Outcome::noAnswer;
        case Reply::quitting:
            if (socket.state() != QLocalSocket::UnconnectedState) {
                runUntil(lockDeadline, &socket);
            }
            break;
        case Reply::unreachable: {
            QDeadlineTimer pause(kRetryPause);
            if (lockDeadline < pause) {
                pause = lockDeadline;
            }
            runUntil(pause);
            break;
        }
        }
        const int error = lockError();
        if (error != EWOULDBLOCK) {
            return Outcome::primary;
        }
        if (lockDeadline.hasExpired()) {
            sayNoAnswer(directory);
            return Outcome::noAnswer;
        }
    }
}

SingleInstance::Reply SingleInstance::ask(QLocalSocket& socket, const QString& socketPath) const {
    QEventLoop loop;
    std::optional<Reply> reply;
    bool connected = false;
    const auto end = [&](Reply value) {
        if (!reply) {
            reply = value;
            loop.quit();
        }
    };
    const auto readAnswer = [&] {
        char byte = 0;
        if (socket.getChar(&byte)) {
            end(byte == kShown ? Reply::shown : Reply::quitting);
        }
    };
    connect(&socket, &QLocalSocket::connected, &loop, [&] { connected = true; });
    connect(&socket, &QLocalSocket::readyRead, &loop, readAnswer);
    connect(&socket, &QLocalSocket::disconnected, &loop, [&] {
        readAnswer();
        // Closed without a word: its end came before it could answer.
        end(Reply::quitting);
    });
    connect(&socket, &QLocalSocket::errorOccurred, &loop, [&] {
        if (!connected) {
            end(Reply::unreachable);
        }
    });
    socket.connectToServer(socketPath);
    if (reply) {
        return *reply;
    }
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, [&] { end(Reply::silent); });
    limit.start(m_waits.answer);
    loop.exec();
    return *reply;
}

} // namespace orvane
