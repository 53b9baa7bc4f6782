#pragma once

#include <QString>

namespace orvane {

// An error as the system receives it from a provider: the error type's domain, the case's code
// and the localized description.
struct BridgedError {
    QString domain;
    int code = 0;
    QString localizedDescription;

    friend bool operator==(const BridgedError&, const BridgedError&) = default;
};

} // namespace orvane
