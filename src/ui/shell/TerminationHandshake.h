#pragma once

#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace orvane {

// The answer to a request to quit: the clean-up runs against a 3 s limit and whichever ends
// first sends the one reply; neither cancels the other. A second request while the clean-up
// runs is answered at once, so a second Ctrl+C or SIGTERM quits without waiting.
class TerminationHandshake : public QObject {
    Q_OBJECT
public:
    enum class Reply { now, later };
    static constexpr std::chrono::milliseconds kLimit{3000};

    // Starts the clean-up; nothing when there is nothing to clean up (the state is gone).
    using Cleanup = std::function<std::optional<QCoro::Task<void>>()>;
    using Sleep = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;

    // `sleep` times the limit; the event loop's timer when empty.
    explicit TerminationHandshake(Cleanup cleanup, Sleep sleep = {}, QObject* parent = nullptr);

    // `later`: replied() follows exactly once, after the clean-up or at the limit.
    Reply request();
    bool isTerminating() const { return m_isTerminating; }
    bool hasReplied() const { return m_didReply; }

signals:
    // Every request, before its clean-up starts.
    void requested();
    void replied();

private:
    static QCoro::Task<void> awaitCleanup(QPointer<TerminationHandshake> self,
                                          QCoro::Task<void> cleanup);
    static QCoro::Task<void> awaitLimit(QPointer<TerminationHandshake> self, Sleep sleep);
    void reply();

    Cleanup m_cleanup;
    Sleep m_sleep;
    bool m_isTerminating = false;
    bool m_didReply = false;
};

} // namespace orvane
