#include "PacketTunnelProvider.h"

#include "PacketTunnelProviderError.h"
#include "TunnelProviderProtocol.h"

namespace orvane {

namespace {

// Only presence and type count: an empty text still names something.
bool holdsText(const QVariantMap& configuration, const QString& key) {
    const auto it = configuration.constFind(key);
    return it != configuration.constEnd() && it->typeId() == QMetaType::QString;
}

PacketTunnelProviderError startError(const VPNProtocol* protocol) {
    const auto* tunnelProtocol = dynamic_cast<const TunnelProviderProtocol*>(protocol);
    if (tunnelProtocol == nullptr) {
        return PacketTunnelProviderError::missingConfiguration();
    }
    const std::optional<QVariantMap>& configuration = tunnelProtocol->providerConfiguration();
    if (!configuration || configuration->isEmpty() ||
        !holdsText(*configuration, QStringLiteral("endpointId")) ||
        !holdsText(*configuration, QStringLiteral("protocol"))) {
        return PacketTunnelProviderError::missingConfiguration();
    }
    return PacketTunnelProviderError::engineNotEmbedded();
}

} // namespace

void PacketTunnelProvider::startTunnel(const std::optional<QVariantMap>& /*options*/,
                                       StartCompletion completion) {
    const std::shared_ptr<const VPNProtocol> protocol = protocolConfiguration();
    completion(startError(protocol.get()).bridged());
}

void PacketTunnelProvider::stopTunnel(StopReason /*reason*/, StopCompletion completion) {
    completion();
}

} // namespace orvane
