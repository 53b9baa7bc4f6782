#pragma once

#include <QObject>

#include <QCoro/QCoroTask>

namespace orvane {

// Something that happens once (a child ended, a timer fired) and that a coroutine awaits;
// Qt signals may race ahead of the await, the event remembers.
class OneShotEvent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isSet() const { return m_set; }
    // The first call wakes the waiter; later calls do nothing.
    void set();
    // Returns at once when the event has already happened.
    QCoro::Task<void> wait();

signals:
    void fired();

private:
    bool m_set = false;
};

} // namespace orvane
