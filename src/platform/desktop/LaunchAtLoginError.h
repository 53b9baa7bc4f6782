#pragma once

#include "LocalizedError.h"

namespace orvane {

// The launch-at-login entry could not be written or removed.
class LaunchAtLoginError : public LocalizedError {
public:
    explicit LaunchAtLoginError(QString reason);
    const QString& reason() const { return m_reason; }
    QString localizedDescription() const override;

private:
    QString m_reason;
};

} // namespace orvane
