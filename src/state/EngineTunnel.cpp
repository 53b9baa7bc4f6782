#include "EngineTunnel.h"

namespace orvane {

EngineTunnel::EngineTunnel(std::unique_ptr<TunnelCoordinator> coordinator)
    : m_coordinator(std::move(coordinator)) {}

int EngineTunnel::aiProxyPort() const {
    return m_coordinator->aiProxyPort;
}

std::optional<TunnelActivation::Mode> EngineTunnel::activeMode() const {
    return m_coordinator->activeMode;
}

std::optional<int> EngineTunnel::activeProxyPort() const {
    return m_coordinator->activeProxyPort;
}

std::optional<int> EngineTunnel::activeAIProxyPort() const {
    return m_coordinator->activeAIProxyPort;
}

QCoro::Task<void> EngineTunnel::cleanupRuntimeArtifacts(bool allowProxyAuthorization) {
    co_await m_coordinator->cleanupRuntimeArtifacts(allowProxyAuthorization);
}

QCoro::Task<TunnelActivation> EngineTunnel::connect(ProtocolConfiguration configuration,
                                                    OutboundMode outboundMode,
                                                    bool aiEnhancedModeEnabled,
                                                    bool systemProxyEnabled, bool quickStart) {
    TunnelActivation activation =
        co_await m_coordinator->connect(std::move(configuration), outboundMode,
                                        aiEnhancedModeEnabled, systemProxyEnabled, quickStart);
    co_return activation;
}

QCoro::Task<TunnelHealthCheck> EngineTunnel::connectionHealthCheck(int systemProxyPort,
                                                                   bool aiEnhancedModeEnabled,
                                                                   bool systemProxyEnabled) {
    TunnelHealthCheck check = co_await m_coordinator->connectionHealthCheck(
        systemProxyPort, aiEnhancedModeEnabled, systemProxyEnabled);
    co_return check;
}

QCoro::Task<void> EngineTunnel::reload(ProtocolConfiguration configuration,
                                       OutboundMode outboundMode, bool aiEnhancedModeEnabled,
                                       bool systemProxyEnabled) {
    co_await m_coordinator->reload(std::move(configuration), outboundMode, aiEnhancedModeEnabled,
                                   systemProxyEnabled);
}

QCoro::Task<QStringList> EngineTunnel::setSystemProxyEnabled(bool enabled, int port) {
    QStringList notes = co_await m_coordinator->setSystemProxyEnabled(enabled, port);
    co_return notes;
}

QCoro::Task<void> EngineTunnel::disableLocalProxy(bool allowAuthorization) {
    co_await m_coordinator->systemProxyManager().disableLocalProxy(allowAuthorization);
}

QCoro::Task<void> EngineTunnel::disconnect() {
    co_await m_coordinator->disconnect();
}

} // namespace orvane
