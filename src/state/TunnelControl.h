#pragma once

#include "ProtocolConfiguration.h"
#include "StateEnumerations.h"
#include "TunnelActivation.h"
#include "TunnelCoordinator.h"

#include <QStringList>

#include <QCoro/QCoroTask>

#include <optional>

namespace orvane {

// The calls the application state makes on the connection engine. The application hands it
// the real coordinator; tests put a scripted tunnel in its place.
class TunnelControl {
public:
    virtual ~TunnelControl() = default;

    virtual int aiProxyPort() const = 0;
    virtual std::optional<TunnelActivation::Mode> activeMode() const = 0;
    virtual std::optional<int> activeProxyPort() const = 0;
    virtual std::optional<int> activeAIProxyPort() const = 0;

    virtual QCoro::Task<void> cleanupRuntimeArtifacts(bool allowProxyAuthorization) = 0;
    virtual QCoro::Task<TunnelActivation> connect(ProtocolConfiguration configuration,
                                                  OutboundMode outboundMode,
                                                  bool aiEnhancedModeEnabled,
                                                  bool systemProxyEnabled, bool quickStart) = 0;
    virtual QCoro::Task<TunnelHealthCheck> connectionHealthCheck(int systemProxyPort,
                                                                 bool aiEnhancedModeEnabled,
                                                                 bool systemProxyEnabled) = 0;
    virtual QCoro::Task<void> reload(ProtocolConfiguration configuration,
                                     OutboundMode outboundMode, bool aiEnhancedModeEnabled,
                                     bool systemProxyEnabled) = 0;
    virtual QCoro::Task<QStringList> setSystemProxyEnabled(bool enabled, int port) = 0;
    virtual QCoro::Task<void> disableLocalProxy(bool allowAuthorization) = 0;
    virtual QCoro::Task<void> disconnect() = 0;
};

} // namespace orvane
