#include "CancelToken.h"

#include "OneShotEvent.h"

#include <QPointer>
#include <QTimer>


namespace orvane {

void CancelToken::cancel() {
    if (!m_cancelled) {
        m_cancelled = true;
        emit cancelled();
    }
}


QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken* token) {
    QPointer<CancelToken> guard(token);
    if (token && token->isCancelled()) {
        co_return false;
    }
    OneShotEvent ended;
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may fire 5% early: a 1.1 s survival wait would end after 1.045 s.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &ended, &OneShotEvent::set);
    if (token) {
        QObject::connect(token, &CancelToken::cancelled, &ended, &OneShotEvent::set);
        QObject::connect(token, &QObject::destroyed, &ended, &OneShotEvent::set);
    }
    timer.start(duration);
    co_await ended.wait();
    if (!token) {
        co_return true;
    }
    // A token destroyed meanwhile counts as cancelled: its owner is gone.
    co_return guard && !guard->isCancelled();
}

} // namespace orvane
