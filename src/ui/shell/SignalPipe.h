#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvane {

// SIGINT and SIGTERM as a Qt signal on the event loop: the handler only writes the signal's
// number into a pipe, which a socket notifier reads. A second signal ends the process at once
// by its default action, without waiting for the loop. The previous handlers come back when the
// object goes.
class SignalPipe : public QObject {
    Q_OBJECT
public:
    explicit SignalPipe(QObject* parent = nullptr);
    ~SignalPipe() override;

    // Emits received() now for a signal already caught that still waits for the event loop's
    // turn.
    void deliverPending();

signals:
    void received(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace orvane
