#pragma once

#include "PacketTunnelProviderBase.h"

namespace orvane {

// The extension's provider. It carries no protocol engine: a start checks that the provider
// configuration names an endpoint and a protocol and fails either way; a stop is acknowledged.
class PacketTunnelProvider : public PacketTunnelProviderBase {
public:
    void startTunnel(const std::optional<QVariantMap>& options,
                     StartCompletion completion) override;
    void stopTunnel(StopReason reason, StopCompletion completion) override;
};

} // namespace orvane
