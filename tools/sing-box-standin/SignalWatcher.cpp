#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace orvane {

namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void SignalWatcher::blockWatchedSignals() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    blockWatchedSignals();
    const sigset_t set = watchedSignals();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::drain);
    }
}

SignalWatcher::~SignalWatcher() {
    delete m_notifier;
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void SignalWatcher::drain() {
    signalfd_siginfo info;
    while (::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        emit received(static_cast<int>(info.ssi_signo));
    }
}

} // namespace orvane
