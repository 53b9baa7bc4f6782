#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvane {

// Hang-up, terminate and interrupt arrive as a Qt signal on the event loop (signalfd), so
// handling them may touch sockets and timers.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    // Blocks the watched signals; call before any thread starts so every thread inherits it.
    static void blockWatchedSignals();

    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace orvane
