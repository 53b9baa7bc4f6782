#pragma once

#include "LocalizedError.h"

#include <QString>

namespace orvane {

// Failures of the tunnel coordinator's own steps: a tool or check that failed with a text the
// user sees, or a protocol configuration with nothing to run.
class TunnelCoordinatorError : public LocalizedError {
public:
    enum class Case {
        commandFailed,
        missingProtocolConfig,
        reloadRollbackFailed,
        missingSystemTool
    };

    static TunnelCoordinatorError commandFailed(QString text);
    static TunnelCoordinatorError missingProtocolConfig();
    // A hot reload failed and putting the previous configuration back failed too: sing-box is
    // no longer running, so the connection is gone. The text is the reload's own failure.
    static TunnelCoordinatorError reloadRollbackFailed(QString text);
    // A tool the system proxy needs could not be started (not installed, not executable): a
    // fault of this machine that no other node cures. The text is the tool's path.
    static TunnelCoordinatorError missingSystemTool(QString path);
    // Whether a description, also inside a longer text, is that of missingSystemTool.
    static bool describesMissingSystemTool(const QString& description);

    Case errorCase() const { return m_case; }
    // The carried text of commandFailed, reloadRollbackFailed and missingSystemTool, as given.
    const QString& text() const { return m_text; }

    QString localizedDescription() const override;

    friend bool operator==(const TunnelCoordinatorError& a, const TunnelCoordinatorError& b) {
        return a.m_case == b.m_case && a.m_text == b.m_text;
    }

private:
    TunnelCoordinatorError(Case c, QString text) : m_case(c), m_text(std::move(text)) {}

    Case m_case;
    QString m_text;
};

} // namespace orvane
