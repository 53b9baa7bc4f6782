#include "TerminationHandshake.h"

#include "CancelToken.h"

namespace orvane {

TerminationHandshake::TerminationHandshake(Cleanup cleanup, Sleep sleep, QObject* parent)
    : QObject(parent), m_cleanup(std::move(cleanup)), m_sleep(std::move(sleep)) {
    if (!m_sleep) {
        m_sleep = [](std::chrono::milliseconds duration) -> QCoro::Task<void> {
            co_await sleepFor(duration);
        };
    }
}

TerminationHandshake::Reply TerminationHandshake::request() {
    emit requested();
    if (m_isTerminating) {
        return Reply::now;
    }
    std::optional<QCoro::Task<void>> cleanup = m_cleanup ? m_cleanup() : std::nullopt;
    if (!cleanup) {
        return Reply::now;
    }
    m_isTerminating = true;
    QPointer<TerminationHandshake> self(this);
    awaitCleanup(self, std::move(*cleanup));
    if (self && !m_didReply) {
        awaitLimit(self, m_sleep);
    }
    return Reply::later;
}

QCoro::Task<void> TerminationHandshake::awaitCleanup(QPointer<TerminationHandshake> self,
                                                     QCoro::Task<void> cleanup) {
    try {
        co_await std::move(cleanup);
    } catch (...) {
        // Quitting goes on whatever the clean-up met.
    }
    if (self) {
        self->reply();
    }
}

QCoro::Task<void> TerminationHandshake::awaitLimit(QPointer<TerminationHandshake> self,
                                                   Sleep sleep) {
    co_await sleep(kLimit);
    if (self) {
        self->reply();
    }
}

void TerminationHandshake::reply() {
    if (m_didReply) {
        return;
    }
    m_didReply = true;
    emit replied();
}

} // namespace orvane
