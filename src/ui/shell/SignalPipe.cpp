#include "SignalPipe.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane {

namespace {

// One pipe per process: a signal handler can reach only global state.
int g_pipe[2] = {-1, -1};
constexpr std::array<int, 2> kSignals{SIGINT, SIGTERM};
struct sigaction g_previous[kSignals.size()];
// Set by the first signal. A second one must not wait for the event loop, which may be busy
// with the clean-up the first one started.
volatile std::sig_atomic_t g_received = 0;

extern "C" void writeSignalNumber(int signalNumber) {
    if (g_received) {
        // Blocked while this handler runs, so the default action ends the process on return.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    g_received = 1;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(QObject* parent) : QObject(parent) {
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        return;
    }
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::deliverPending);
    g_received = 0;
    struct sigaction action {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

SignalPipe::~SignalPipe() {
    if (!m_notifier) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    delete m_notifier;
    for (int& fd : g_pipe) {
        ::close(fd);
        fd = -1;
    }
}

void SignalPipe::deliverPending() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        emit received(byte);
    }
}

} // namespace orvane
