#pragma once

#include "VPNProtocol.h"

#include <QVariantMap>

#include <optional>

namespace orvane {

// The protocol configuration of a tunnel run by a provider extension: a free-form map that the
// application stores and the provider reads.
class TunnelProviderProtocol : public VPNProtocol {
public:
    TunnelProviderProtocol() = default;
    explicit TunnelProviderProtocol(std::optional<QVariantMap> providerConfiguration);
    ~TunnelProviderProtocol() override;

    const std::optional<QVariantMap>& providerConfiguration() const {
        return m_providerConfiguration;
    }
    void setProviderConfiguration(std::optional<QVariantMap> configuration);

private:
    std::optional<QVariantMap> m_providerConfiguration;
};

} // namespace orvane
