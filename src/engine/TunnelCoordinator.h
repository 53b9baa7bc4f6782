#pragma once

#include "MacOSSystemProxyManager.h"
#include "NetworkExtensionTunnelCoordinator.h"
#include "ProtocolConfiguration.h"
#include "RuntimeProfile.h"
#include "SingBoxRuntimeCoordinator.h"
#include "StateEnumerations.h"
#include "ToolPaths.h"
#include "TunnelActivation.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace orvane {

class JSONValue;

// The result of one keep-alive pass.
struct TunnelHealthCheck {
    bool passed = false;
    QString summary;

    friend bool operator==(const TunnelHealthCheck&, const TunnelHealthCheck&) = default;
};

// Whether a keep-alive pass had to set the system proxy again.
struct SystemProxyRepairResult {
    bool reapplied = false;
    QStringList notes; // what the re-application said, when reapplied

    static SystemProxyRepairResult notNeeded() { return {}; }
    static SystemProxyRepairResult reappliedWith(QStringList notes) { return {true, std::move(notes)}; }
};

// The one entry to a local-proxy connection: writes and starts the node's configuration,
// probes it through the local proxy, points the system proxy at it, keeps it healthy,
// reloads it in place and takes it down.
class TunnelCoordinator : public QObject {
    Q_OBJECT
public:
    // Where the probes go. Hosts are ours to choose; tests point them at a local server.
    struct ProbeURLs {
        QStringList web; // 2, each with the path "/generate_204"
        QStringList ai;  // 4
        static ProbeURLs defaults();
    };
    using SleepFunction = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;

    explicit TunnelCoordinator(ToolPaths tools = ToolPaths::platformDefaults(),
                               ProbeURLs probes = ProbeURLs::defaults(),
                               RuntimeProfile profile = RuntimeProfile(),
                               std::shared_ptr<TunnelPreferences> tunnelPreferences = {},
                               QObject* parent = nullptr);
    ~TunnelCoordinator() override;

    const int macOSProxyPort;
    const QList<int> macOSProxyPortRange;
    const int aiProxyPort;
    const QStringList aiDomainSuffixes;

    // The recorded connection; empty when none.
    std::optional<QString> activeConfigURL;
    std::optional<TunnelActivation::Mode> activeMode;
    std::optional<int> activeProxyPort;
    std::optional<int> activeAIProxyPort;

    NetworkExtensionTunnelCoordinator& networkExtension() { return *m_networkExtension; }
    SingBoxRuntimeCoordinator& singBox() { return *m_singBox; }
    MacOSSystemProxyManager& systemProxyManager() { return *m_systemProxyManager; }
    const ToolPaths& tools() const { return m_tools; }
    const ProbeURLs& probeURLs() const { return m_probes; }

    // Advanced by every connect, disconnect and clean-up. An operation that finds it changed
    // after a wait belongs to a connection that is gone: it takes down what it brought up
    // itself, leaves the rest alone and ends with "连接已断开，本次操作已取消。".
    quint64 generation() const { return m_generation; }

    // Waits of the probes and the confirmation; tests make them instant.
    void setSleepFunction(SleepFunction sleep);

    // Configuration files.
    static void cleanupLegacyEndpointConfigFiles(const QString& folder);
    static QByteArray configData(const JSONValue& value);
    QByteArray macOSSystemProxyConfigData(const QByteArray& source, OutboundMode outboundMode,
                                          int localProxyPort, bool aiEnhancedModeEnabled) const;
    // "Orvane/Protocols" in the application-support folder, created 0700. Throws FileError.
    static QString protocolsDirectory();

    // The node start: writes the adapted configuration and starts it verified.
    QCoro::Task<TunnelActivation> connect(ProtocolConfiguration protocolConfiguration,
                                          OutboundMode outboundMode, bool aiEnhancedModeEnabled,
                                          bool systemProxyEnabled, bool quickStart);

    // The connect sequence and its probes.
    QCoro::Task<TunnelActivation> connectWithSingBox(QString configURL, int port,
                                                     bool aiEnhancedModeEnabled,
                                                     bool systemProxyEnabled, bool quickStart);
    QCoro::Task<QStringList> validateProxyConnection(int port);
    QCoro::Task<QStringList> validateAIProxyConnection(int port);
    QCoro::Task<void> confirmSystemProxy(int port);
    QCoro::Task<void> confirmSystemProxyApplied(int port);
    QCoro::Task<bool> proxyWebConnectivityAvailable(int port);
    QCoro::Task<bool> aiProxyConnectivityAvailable(int port);
    QCoro::Task<int> proxyHTTPStatus(int port, QString url);
    // Throws missingSystemTool when scutil cannot be started.
    QCoro::Task<bool> systemProxyPointsToLocalProxy(int port);
    // Standard output of a tool; a non-zero exit throws commandFailed, a launch failure
    // ProcessLaunchError.
    QCoro::Task<QString> runProcess(QString executable, QStringList arguments);

    // Upkeep. The keep-alive, the system-proxy switch and the reload point the system proxy at
    // the recorded connection only, never at a port nothing may listen on any more.
    QCoro::Task<int> chooseLocalProxyPort(bool aiEnhancedModeEnabled);
    QCoro::Task<bool> isTCPPortAvailable(int port);
    QCoro::Task<TunnelHealthCheck> connectionHealthCheck(int systemProxyPort,
                                                         bool aiEnhancedModeEnabled,
                                                         bool systemProxyEnabled);
    static QString healthSummary(bool aiEnhancedModeEnabled, const SystemProxyRepairResult& repair);
    QCoro::Task<QStringList> setSystemProxyEnabled(bool enabled, int port);
    QCoro::Task<void> disconnect();
    QCoro::Task<void> cleanupRuntimeArtifacts(bool allowProxyAuthorization);
    QCoro::Task<QStringList> thirdPartyNetworkWarnings(bool checkSystemProxy);
    static bool isOrvaneRouteLine(const QString& line);

    // Hot reload of the running connection.
    QCoro::Task<void> reload(ProtocolConfiguration protocolConfiguration, OutboundMode outboundMode,
                             bool aiEnhancedModeEnabled, bool systemProxyEnabled);

private:
    // What a start has brought up so far, for taking it down again when it is cancelled.
    struct StartedRuntime {
        quint64 generation = 0;
        std::optional<qint64> child;
        bool proxyTouched = false;
    };
    enum class ProxyOwner { start, recordedConnection };

    QCoro::Task<void> sweepStaleRuntime();
    QCoro::Task<void> confirm(int port, quint64 generation);
    // Points the system proxy at `port` unless what it was meant for is gone: the start of
    // `generation`, or the connection recorded at `generation`. Throws missingSystemTool when
    // networksetup cannot be started.
    QCoro::Task<std::optional<QStringList>> enableProxyFor(int port, quint64 generation,
                                                           ProxyOwner owner);
    bool stillWanted(quint64 generation, ProxyOwner owner) const;
    QCoro::Task<void> abandonStart(StartedRuntime started);
    void throwIfCancelled(quint64 generation) const;
    void clearRecord();
    quint64 advanceGeneration(bool allowAuthorization) {
        m_cancelAllowsAuthorization = allowAuthorization;
        return ++m_generation;
    }

    ToolPaths m_tools;
    ProbeURLs m_probes;
    SleepFunction m_sleep;
    quint64 m_generation = 0;
    // The generation the latest connect took: a cancelled start leaves a newer one's runtime be.
    quint64 m_startGeneration = 0;
    // Whether whoever advanced the generation last allows administrator prompts.
    bool m_cancelAllowsAuthorization = true;
    std::unique_ptr<NetworkExtensionTunnelCoordinator> m_networkExtension;
    std::unique_ptr<SingBoxRuntimeCoordinator> m_singBox;
    std::unique_ptr<MacOSSystemProxyManager> m_systemProxyManager;
};

} // namespace orvane
