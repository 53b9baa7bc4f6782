#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <chrono>
#include <functional>

namespace orvane::test {

// Runs the event loop until `done` holds, for at most `limit`; says whether it came to hold.
// Work through real processes gets a longer limit: a loaded machine may be slow to run them.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

} // namespace orvane::test
