#pragma once

#include "LocalizedError.h"

namespace orvane {

// Client-side failures whose texts the user sees.
class OrvaneRuntimeError : public LocalizedError {
public:
    enum class Case { deviceLimit, connectionFailed, invalidEmail, missingProtocolConfig, noDeviceSlots };

    static OrvaneRuntimeError deviceLimit(qint64 active, qint64 max);
    static OrvaneRuntimeError connectionFailed(QString message);
    static OrvaneRuntimeError invalidEmail();
    static OrvaneRuntimeError missingProtocolConfig();
    static OrvaneRuntimeError noDeviceSlots();

    Case errorCase() const { return m_case; }
    qint64 active() const { return m_active; }
    qint64 max() const { return m_max; }
    const QString& message() const { return m_message; }

    QString localizedDescription() const override;

    friend bool operator==(const OrvaneRuntimeError& a, const OrvaneRuntimeError& b) {
        return a.m_case == b.m_case && a.m_active == b.m_active && a.m_max == b.m_max &&
               a.m_message == b.m_message;
    }

private:
    explicit OrvaneRuntimeError(Case c) : m_case(c) {}

    Case m_case;
    qint64 m_active = 0;
    qint64 m_max = 0;
    QString m_message;
};

} // namespace orvane
