#pragma once

#include <QString>

namespace orvane {

// The outcome of one child process. ("stdout"/"stderr" are C macros, hence the longer names.)
struct CommandResult {
    // The exit status; 127 when the tool could not be launched, 124 when it ran out of time.
    int status = 0;
    QString standardOutput;
    QString standardError;
    // True when the tool could not be started at all (status is then 127).
    bool launchFailed = false;

    // The non-empty ones of standard output and standard error, joined by a line feed.
    QString output() const;

    friend bool operator==(const CommandResult&, const CommandResult&) = default;
};

} // namespace orvane
