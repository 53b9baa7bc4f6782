#include "PacketTunnelProviderBase.h"

namespace orvane {

PacketTunnelProviderBase::~PacketTunnelProviderBase() = default;

void PacketTunnelProviderBase::setProtocolConfiguration(
    std::shared_ptr<const VPNProtocol> configuration) {
    m_protocolConfiguration = std::move(configuration);
}

} // namespace orvane
