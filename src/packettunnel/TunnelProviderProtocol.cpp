#include "TunnelProviderProtocol.h"

namespace orvane {

TunnelProviderProtocol::TunnelProviderProtocol(std::optional<QVariantMap> providerConfiguration)
    : m_providerConfiguration(std::move(providerConfiguration)) {}

TunnelProviderProtocol::~TunnelProviderProtocol() = default;

void TunnelProviderProtocol::setProviderConfiguration(std::optional<QVariantMap> configuration) {
    m_providerConfiguration = std::move(configuration);
}

} // namespace orvane
