#pragma once

#include "TunnelControl.h"

#include <memory>

namespace orvane {

// The application's tunnel: every call goes to one TunnelCoordinator.
class EngineTunnel : public TunnelControl {
public:
    explicit EngineTunnel(std::unique_ptr<TunnelCoordinator> coordinator =
                              std::make_unique<TunnelCoordinator>());

    TunnelCoordinator& coordinator() { return *m_coordinator; }

    int aiProxyPort() const override;
    std::optional<TunnelActivation::Mode> activeMode() const override;
    std::optional<int> activeProxyPort() const override;
    std::optional<int> activeAIProxyPort() const override;

    QCoro::Task<void> cleanupRuntimeArtifacts(bool allowProxyAuthorization) override;
    QCoro::Task<TunnelActivation> connect(ProtocolConfiguration configuration,
                                          OutboundMode outboundMode, bool aiEnhancedModeEnabled,
                                          bool systemProxyEnabled, bool quickStart) override;
    QCoro::Task<TunnelHealthCheck> connectionHealthCheck(int systemProxyPort,
                                                         bool aiEnhancedModeEnabled,
                                                         bool systemProxyEnabled) override;
    QCoro::Task<void> reload(ProtocolConfiguration configuration, OutboundMode outboundMode,
                             bool aiEnhancedModeEnabled, bool systemProxyEnabled) override;
    QCoro::Task<QStringList> setSystemProxyEnabled(bool enabled, int port) override;
    QCoro::Task<void> disableLocalProxy(bool allowAuthorization) override;
    QCoro::Task<void> disconnect() override;

private:
    std::unique_ptr<TunnelCoordinator> m_coordinator;
};

} // namespace orvane
