#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace orvane {

// One application per user. The first start holds a lock in the user's runtime folder and
// listens on a socket beside it; a later start finds the lock taken, asks the running one to
// show its window and ends, having touched nothing else. The lock goes with the process that
// held it, so one left behind by a kill -9 blocks no later start.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder` holds the guard; the user's runtime folder ($XDG_RUNTIME_DIR) when empty.
    explicit SingleInstance(const QString& folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // False when another instance runs; it has been asked to show its window.
    bool isPrimary() const { return m_isPrimary; }

signals:
    // A later start asked this instance to show its window.
    void activationRequested();

private:
    void listen(const QString& socketPath);
    static void handOver(const QString& socketPath);

    bool m_isPrimary = true;
    int m_lockFile = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace orvane
