#include "PacketTunnelProviderError.h"

#include <QHashFunctions>

namespace orvane {

QString PacketTunnelProviderError::domain() {
    return QStringLiteral("OrvanePacketTunnel.PacketTunnelProviderError");
}

QString PacketTunnelProviderError::errorDescription() const {
    switch (m_case) {
    case Case::missingConfiguration:
        return QStringLiteral("Orvane PacketTunnelProvider 缺少连接配置。");
    case Case::engineNotEmbedded:
        break;
    }
    return QStringLiteral("Orvane PacketTunnelProvider 尚未嵌入协议内核。");
}

BridgedError PacketTunnelProviderError::bridged() const {
    return BridgedError{domain(), code(), errorDescription()};
}

std::size_t qHash(const PacketTunnelProviderError& error, std::size_t seed) noexcept {
    return ::qHash(error.code(), seed);
}

} // namespace orvane
