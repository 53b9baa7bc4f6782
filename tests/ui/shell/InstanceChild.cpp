#include "InstanceChild.h"

#include "ApplicationShell.h"
#include "MainWindow.h"
#include "OneShotEvent.h"
#include "SingleInstance.h"
#include "StateFixture.h"
#include "UiFixture.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <poll.h>
#include <unistd.h>

namespace orvane::test {

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

std::chrono::milliseconds waitFromEnvironment(const char* name,
                                              std::chrono::milliseconds fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? std::chrono::milliseconds(value) : fallback;
}

QCoro::Task<void> until(std::shared_ptr<OneShotEvent> event) {
    co_await event->wait();
}

// Blocks the main thread, as a loaded machine would, until a later start has connected. Bounded
// only so that a child the test forgot does not stay for ever. False when there is no socket to
// hold on: the test would then not see one pass with both.
bool holdUntilAStartWaits(SingleInstance& instance) {
    const QLocalServer* server = instance.findChild<QLocalServer*>();
    if (!server || server->socketDescriptor() < 0) {
        return false;
    }
    pollfd waiting{static_cast<int>(server->socketDescriptor()), POLLIN, 0};
    const QDeadlineTimer bound(60000);
    while (!bound.hasExpired()) {
        const int ready = ::poll(&waiting, 1, static_cast<int>(bound.remainingTime()));
        // A signal interrupts the wait, not the hold.
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return ready > 0;
        }
    }
    return false;
}

} // namespace

int runInstanceChild() {
    SingleInstanceWaits waits;
    waits.answer = waitFromEnvironment(kInstanceAnswerVariable, waits.answer);
    waits.lockRelease = waitFromEnvironment(kInstanceLockVariable, waits.lockRelease);
    SingleInstance instance(qEnvironmentVariable(kInstanceFolderVariable), waits);
    if (!instance.isPrimary()) {
        return instance.exitStatus();
    }

    StateFixture fixture;
    AppState& state = fixture.makeState();
    auto released = std::make_shared<OneShotEvent>();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input, released] {
        input.setEnabled(false);
        released->set();
    });
    fixture.tunnel->onCleanup = [released](bool) { return until(released); };

    ApplicationShell::Options options;
    options.sleep = [released](std::chrono::milliseconds) { return until(released); };
    ApplicationShell shell(state, std::move(options));
    shell.attachInstanceGuard(instance);
    QObject::connect(&instance, &SingleInstance::activationRequested, [] { say("shown"); });
    QObject::connect(&instance, &SingleInstance::handOverRefused, [] { say("refused"); });
    QObject::connect(&shell.handshake(), &TerminationHandshake::requested, [] { say("quitting"); });
    shell.window()->show();
    say("ready");
    int status = 2;
    if (!qEnvironmentVariableIsSet(kInstanceHoldVariable) || holdUntilAStartWaits(instance)) {
        status = QApplication::exec();
    } else {
        std::fprintf(stderr, "The hold found no start at the guard's socket.\n");
    }
    // The state's own requests end before it goes, as in every test of the shell.
    waitForStateTasks(state);
    return status;
}

} // namespace orvane::test
