#pragma once

#include <QByteArray>

namespace orvane::test {

// Set in a child's environment: the test executable then runs as one start of the application
// against the guard in this folder, instead of the tests.
inline constexpr char kInstanceFolderVariable[] = "ORVANE_TEST_INSTANCE_FOLDER";
// The guard's wait bounds in that child, in milliseconds; the production ones when unset.
inline constexpr char kInstanceAnswerVariable[] = "ORVANE_TEST_INSTANCE_ANSWER_MS";
inline constexpr char kInstanceLockVariable[] = "ORVANE_TEST_INSTANCE_LOCK_MS";
// Set: once ready, the child's main thread stays busy until a later start's connection waits at
// its socket, so its event loop meets that start and whatever else came meanwhile in one pass.
inline constexpr char kInstanceHoldVariable[] = "ORVANE_TEST_INSTANCE_HOLD";

// What main does with the guard, around a shell on a scripted state. Lines on standard output
// tell the test what happened: "ready" once it is the one instance (before any hold), "shown"
// per hand-over, "refused" per start refused, "quitting" per quit request. The quit's clean-up
// (and the hand-shake's limit) end only once standard input has something to read, so the test
// decides how long a quit lasts. Returns the exit status.
int runInstanceChild();

} // namespace orvane::test
