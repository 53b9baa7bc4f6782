#pragma once

#include "LocalizedError.h"

namespace orvane {

// Failures of starting, checking, reloading and cleaning up sing-box.
class SingBoxRuntimeError : public LocalizedError {
public:
    enum class Case {
        invalidConfig,
        exitedEarly,
        privilegedLaunchFailed,
        reloadFailed,
        portInUse,
        missingBinary,
        staleRuntimeNeedsCleanup,
    };

    static SingBoxRuntimeError invalidConfig(QString text);
    static SingBoxRuntimeError exitedEarly(QString text);
    static SingBoxRuntimeError privilegedLaunchFailed(QString text);
    static SingBoxRuntimeError reloadFailed(QString text);
    static SingBoxRuntimeError portInUse(int port, QString owner);
    static SingBoxRuntimeError missingBinary();
    static SingBoxRuntimeError staleRuntimeNeedsCleanup();

    Case errorCase() const { return m_case; }
    // The payload text: the cleaned tool output, or the owner text of portInUse.
    const QString& text() const { return m_text; }
    int port() const { return m_port; }

    QString localizedDescription() const override;

private:
    SingBoxRuntimeError(Case c, QString text, int port = 0)
        : m_case(c), m_text(std::move(text)), m_port(port) {}

    Case m_case;
    QString m_text;
    int m_port;
};

} // namespace orvane
