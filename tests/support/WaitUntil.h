#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace orvane::test {

// Runs the event loop until `done` holds, for at most 15 s; says whether it came to hold.
inline bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < 15000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

} // namespace orvane::test
