#include "OneShotEvent.h"

#include <QCoro/QCoroSignal>

namespace orvane {

void OneShotEvent::set() {
    if (!m_set) {
        m_set = true;
        emit fired();
    }
}

QCoro::Task<void> OneShotEvent::wait() {
    if (!m_set) {
        co_await qCoro(this, &OneShotEvent::fired);
    }
}

} // namespace orvane
