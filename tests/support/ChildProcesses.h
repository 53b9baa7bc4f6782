#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QThread>

#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

#include "WaitUntil.h"

namespace orvane::test {

// This process's children still in the process table, zombies included.
inline QList<pid_t> ownChildren() {
    QList<pid_t> children;
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (comm) state ppid …": comm may hold spaces, so read after the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1] == self) {
            children << entry.toInt();
        }
    }
    return children;
}

// A process's command line, its arguments joined by spaces; empty for a zombie or a process gone.
inline QByteArray commandLineOf(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    QByteArray command = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    command.replace('\0', ' ');
    return command.trimmed();
}

// Live processes other than this one whose command line holds `text`.
inline QList<pid_t> processesMentioning(const QString& text) {
    QList<pid_t> found;
    const QByteArray wanted = text.toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = entry.toInt();
        if (pid > 0 && pid != ::getpid() && commandLineOf(pid).contains(wanted)) {
            found << pid;
        }
    }
    return found;
}

// Runs the event loop until `find` gives exactly `expected` processes. A process told to end
// may take a while to leave the table on a loaded machine (a sanitized one first runs its leak
// check, in a second process with the same command line), so one look proves nothing: the
// wait gives up only after `guard`, naming each process still found.
inline testing::AssertionResult
untilProcessCount(const std::function<QList<pid_t>()>& find, qsizetype expected,
                  std::chrono::seconds guard = std::chrono::seconds(60)) {
    const auto giveUp = std::chrono::steady_clock::now() + guard;
    for (;;) {
        const QList<pid_t> found = find();
        if (found.size() == expected) {
            return testing::AssertionSuccess();
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            testing::AssertionResult failure = testing::AssertionFailure();
            failure << found.size() << " process(es) after " << guard.count() << " s, " << expected
                    << " expected:";
            for (const pid_t pid : found) {
                const QByteArray command = commandLineOf(pid);
                failure << "\n  pid " << pid << ": "
                        << (command.isEmpty() ? "(a zombie)" : command.toStdString());
            }
            return failure;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(20);
    }
}

// Kills whatever children this process still has, lets the event loop reap them and deletes the
// QProcess objects let go meanwhile, so a failed test leaves neither a child nor a leak behind.
inline void endOwnChildren() {
    for (const pid_t child : ownChildren()) {
        ::kill(child, SIGKILL);
    }
    EXPECT_TRUE(untilProcessCount(ownChildren, 0)) << "children left after SIGKILL";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Waits until every child `owner` has started has ended by itself: a wait the test releases
// only once the exit was seen, never a guess at how long the child needs. A child that never
// ends fails the test by name instead of hanging it until ctest's own time-out.
inline QCoro::Task<void> untilChildrenOf(QPointer<QObject> owner,
                                         std::chrono::seconds guard = std::chrono::seconds(60)) {
    const auto giveUp = std::chrono::steady_clock::now() + guard;
    while (owner) {
        QPointer<QProcess> running;
        for (QProcess* process : owner->findChildren<QProcess*>()) {
            if (process->state() != QProcess::NotRunning) {
                running = process;
                break;
            }
        }
        if (!running) {
            co_return;
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            ADD_FAILURE() << "child " << running->program().toStdString() << " (pid "
                          << running->processId() << ") still running after " << guard.count()
                          << " s";
            co_return;
        }
        // Polled, not awaited on `finished` with a time-out: QCoro 0.8 leaves that signal's queued
        // call behind when the time-out wins, to run on the freed wait. The process may also be
        // deleted while we wait.
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
    }
}

} // namespace orvane::test
