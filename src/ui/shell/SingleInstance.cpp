#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvane {

namespace {
const QString kLockName = QStringLiteral("orvane.lock");
const QString kSocketName = QStringLiteral("orvane.socket");
// The running instance may have taken the lock a moment before it listens.
constexpr int kHandOverAttempts = 20;
constexpr int kHandOverPauseMs = 100;
} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent) {
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
    if (::flock(m_lockFile, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        ::close(m_lockFile);
        m_lockFile = -1;
        if (taken) {
            m_isPrimary = false;
            handOver(dir.filePath(kSocketName));
        }
        return;
    }
    listen(dir.filePath(kSocketName));
}

SingleInstance::~SingleInstance() {
    if (m_server) {
        m_server->close();
    }
    if (m_lockFile >= 0) {
        ::close(m_lockFile);
    }
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
            socket->disconnectFromServer();
            socket->deleteLater();
            emit activationRequested();
        }
    });
}

void SingleInstance::handOver(const QString& socketPath) {
    for (int attempt = 0; attempt < kHandOverAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(1000)) {
            socket.disconnectFromServer();
            return;
        }
        QThread::msleep(kHandOverPauseMs);
    }
    qWarning("Orvane is already running but did not answer.");
}

} // namespace orvane
