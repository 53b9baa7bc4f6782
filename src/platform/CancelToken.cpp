#include "CancelToken.h"

#include <QPointer>
#include <QTimer>

#include <QCoro/QCoroSignal>

namespace orvane {

void CancelToken::cancel() {
    if (!m_cancelled) {
        m_cancelled = true;
        emit cancelled();
    }
}

namespace {

// Ends when its timer fires or the token is cancelled, whichever is first.
class SleepWatch : public QObject {
    Q_OBJECT
public:
    SleepWatch(std::chrono::milliseconds duration, CancelToken* token) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &SleepWatch::finish);
        if (token) {
            connect(token, &CancelToken::cancelled, this, &SleepWatch::finish);
            connect(token, &QObject::destroyed, this, &SleepWatch::finish);
        }
        m_timer.start(duration);
    }
    bool done = false;

signals:
    void ended();

private:
    void finish() {
        if (!done) {
            done = true;
            m_timer.stop();
            emit ended();
        }
    }
    QTimer m_timer;
};

} // namespace

QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken* token) {
    QPointer<CancelToken> guard(token);
    if (token && token->isCancelled()) {
        co_return false;
    }
    SleepWatch watch(duration, token);
    co_await qCoro(&watch, &SleepWatch::ended);
    if (!token) {
        co_return true;
    }
    // A token destroyed meanwhile counts as cancelled: its owner is gone.
    co_return guard && !guard->isCancelled();
}

} // namespace orvane

#include "CancelToken.moc"
