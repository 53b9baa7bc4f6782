#include "AsyncMutex.h"

#include <QCoro/QCoroSignal>

namespace orvane {

AsyncMutexLock::~AsyncMutexLock() {
    if (m_mutex) {
        m_mutex->unlock();
    }
}

QCoro::Task<AsyncMutexLock> AsyncMutex::lock() {
    while (m_locked) {
        co_await qCoro(this, &AsyncMutex::released);
    }
    m_locked = true;
    co_return AsyncMutexLock(this);
}

void AsyncMutex::unlock() {
    m_locked = false;
    emit released();
}

} // namespace orvane
