#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// The result of a successful start.
struct TunnelActivation {
    enum class Mode { networkExtension, singBox };

    Mode mode = Mode::singBox;
    QString configURL; // the configuration file that was started (a local path)
    std::optional<int> proxyPort;
    QStringList recoveryNotes;

    friend bool operator==(const TunnelActivation&, const TunnelActivation&) = default;
};

} // namespace orvane
