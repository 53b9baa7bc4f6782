#pragma once

#include <QObject>

#include <QCoro/QCoroTask>

namespace orvane {

class AsyncMutex;

// Holds an AsyncMutex until destroyed.
class AsyncMutexLock {
public:
    explicit AsyncMutexLock(AsyncMutex* mutex) : m_mutex(mutex) {}
    AsyncMutexLock(AsyncMutexLock&& other) noexcept : m_mutex(other.m_mutex) { other.m_mutex = nullptr; }
    AsyncMutexLock(const AsyncMutexLock&) = delete;
    AsyncMutexLock& operator=(const AsyncMutexLock&) = delete;
    AsyncMutexLock& operator=(AsyncMutexLock&&) = delete;
    ~AsyncMutexLock();

private:
    AsyncMutex* m_mutex;
};

// Lets coroutines on the one event loop take turns across their suspensions: an operation
// that holds the lock runs to its end before the next one starts.
class AsyncMutex : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QCoro::Task<AsyncMutexLock> lock();
    bool isLocked() const { return m_locked; }

signals:
    void released();

private:
    friend class AsyncMutexLock;
    void unlock();

    bool m_locked = false;
};

} // namespace orvane
