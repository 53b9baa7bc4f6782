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

QCoro::Task<void> sleepUnlessCancelled(QCoro::Task<void> sleep,
                                       std::shared_ptr<CancelToken> cancel) {
    auto ended = std::make_shared<OneShotEvent>();
    QObject::connect(cancel.get(), &CancelToken::cancelled, ended.get(), &OneShotEvent::set);
    if (cancel->isCancelled()) {
        co_return;
    }
    [](QCoro::Task<void> work, std::shared_ptr<OneShotEvent> done) -> QCoro::Task<void> {
        try {
            co_await std::move(work);
        } catch (...) {
            // A failed sleep only ends the wait.
        }
        done->set();
    }(std::move(sleep), ended);
    co_await ended->wait();
}

} // namespace orvane
