#pragma once

#include <QObject>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>

namespace orvane {

// Cooperative cancellation for long-running coroutines: a waiter checks `isCancelled()` after
// each suspension, and `sleep` wakes early when the token is cancelled.
class CancelToken : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isCancelled() const { return m_cancelled; }
    void cancel();

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

// Suspends for `duration` on the event loop. Returns false when `token` (if any) was cancelled
// before or during the wait.
QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken* token = nullptr);

// Awaits an injected sleep, ended early when `cancel` is cancelled; a failed sleep only ends
// the wait.
QCoro::Task<void> sleepUnlessCancelled(QCoro::Task<void> sleep,
                                       std::shared_ptr<CancelToken> cancel);

} // namespace orvane
