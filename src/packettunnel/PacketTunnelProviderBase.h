#pragma once

#include "BridgedError.h"
#include "VPNProtocol.h"

#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// What the system's extension service expects of a packet-tunnel provider: it sets the protocol
// configuration, then asks for starts and stops and waits for their completion handlers.
class PacketTunnelProviderBase {
public:
    // The system's reason code for a stop; open-ended, so any value may arrive.
    enum class StopReason : int { none = 0 };

    // Called with no error when the tunnel is up, with the error when it could not start.
    using StartCompletion = std::function<void(std::optional<BridgedError>)>;
    using StopCompletion = std::function<void()>;

    PacketTunnelProviderBase() = default;
    PacketTunnelProviderBase(const PacketTunnelProviderBase&) = delete;
    PacketTunnelProviderBase& operator=(const PacketTunnelProviderBase&) = delete;
    virtual ~PacketTunnelProviderBase();

    virtual void startTunnel(const std::optional<QVariantMap>& options,
                             StartCompletion completion) = 0;
    virtual void stopTunnel(StopReason reason, StopCompletion completion) = 0;

    // May be none, or of any protocol-configuration class.
    std::shared_ptr<const VPNProtocol> protocolConfiguration() const {
        return m_protocolConfiguration;
    }
    void setProtocolConfiguration(std::shared_ptr<const VPNProtocol> configuration);

private:
    std::shared_ptr<const VPNProtocol> m_protocolConfiguration;
};

} // namespace orvane
