#pragma once

#include "TunnelConnection.h"

#include <QString>

#include <memory>
#include <optional>

namespace orvane {

// One packet-tunnel configuration of the system's VPN preferences. A default-constructed
// manager is new: no description, not configured, not saved.
class TunnelProviderManager {
public:
    TunnelProviderManager() = default;
    // A configuration as the preferences hold it.
    static std::shared_ptr<TunnelProviderManager>
    saved(std::optional<QString> localizedDescription);

    const std::optional<QString>& localizedDescription() const { return m_localizedDescription; }
    void setLocalizedDescription(std::optional<QString> description) {
        m_localizedDescription = std::move(description);
    }
    bool isSaved() const { return m_saved; }

    TunnelConnection& connection() { return m_connection; }
    const TunnelConnection& connection() const { return m_connection; }

private:
    std::optional<QString> m_localizedDescription;
    bool m_saved = false;
    TunnelConnection m_connection;
};

using TunnelProviderManagerPtr = std::shared_ptr<TunnelProviderManager>;

} // namespace orvane
