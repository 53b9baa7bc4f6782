#pragma once

#include "APIAccountRecords.h"
#include "APIRouteRecords.h"
#include "AppStateDependencies.h"
#include "ConnectionFlows.h"
#include "Device.h"
#include "DeviceIdentityStore.h"
#include "Endpoint.h"
#include "EndpointQualityStats.h"
#include "LogEntry.h"
#include "NetworkSpeedSampler.h"
#include "Order.h"
#include "Plan.h"
#include "QuickConnectCacheRecord.h"
#include "SessionStore.h"
#include "StateEnumerations.h"
#include "Ticket.h"
#include "TunnelActivation.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace orvane {

struct APIAppVersion;
class CancelToken;
class OrvaneAPIClient;
class Preferences;

// The one controller of the application: account, nodes, plans, devices, tickets, the
// connection and the log. Views read it and call its operations; every change emits the
// signal of its group, so a view refreshes only what changed (a speed tick never touches a
// list). Lives on the GUI thread; operations interleave only at their awaits.
class AppState : public QObject {
    Q_OBJECT
public:
    explicit AppState(AppStateDependencies dependencies, QObject* parent = nullptr);
    ~AppState() override;

    // --- Published state -------------------------------------------------------------------
    AppPage selectedPage() const { return m_selectedPage; }
    const ConnectionState& connectionState() const { return m_connectionState; }
    bool nodesExpanded() const { return m_nodesExpanded; }
    bool logsExpanded() const { return m_logsExpanded; }
    bool devicesExpanded() const { return m_devicesExpanded; }
    bool feedbackExpanded() const { return m_feedbackExpanded; }
    const std::optional<QDateTime>& connectedAt() const { return m_connectedAt; }
    const std::optional<QString>& selectedEndpointId() const { return m_selectedEndpointId; }
    bool showAuthSheet() const { return m_showAuthSheet; }
    bool isBusy() const { return m_flows->isBusy(); }
    // What the tunnel runs now: the node, device and choices its start or last change applied.
    const std::optional<RunningConnection>& runningConnection() const {
        return m_flows->running();
    }
    // The running connection could not be reloaded to the current choices (the alert said
    // so); they apply at the next connect.
    bool choicesAwaitNextConnect() const;
    const std::optional<QString>& alertMessage() const { return m_alertMessage; }
    const std::optional<APIUser>& currentUser() const { return m_currentUser; }
    const QList<Endpoint>& endpoints() const { return m_endpoints; }
    const QList<Plan>& plans() const { return m_plans; }
    const QList<Device>& devices() const { return m_devices; }
    const QList<Ticket>& tickets() const { return m_tickets; }
    const QList<Order>& orders() const { return m_orders; }
    const QString& latestVersion() const { return m_latestVersion; }
    const QString& versionPolicyText() const { return m_versionPolicyText; }
    const std::optional<QUrl>& versionDownloadURL() const { return m_versionDownloadURL; }
    bool requiresVersionAction() const { return m_requiresVersionAction; }
    const std::optional<Device>& currentDevice() const { return m_currentDevice; }
    const std::optional<QString>& currentConfigPath() const { return m_currentConfigPath; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    bool menuBarEnabled() const { return m_menuBarEnabled; }
    bool showMenuBarSpeed() const { return m_showMenuBarSpeed; }
    bool aiEnhancedModeEnabled() const { return m_aiEnhancedModeEnabled; }
    OutboundMode outboundMode() const { return m_outboundMode; }
    bool systemProxyEnabled() const { return m_systemProxyEnabled; }
    RouteRegionChoice aiRouteChoice() const { return m_aiRouteChoice; }
    const QList<APIRouteCategory>& routeCategories() const { return m_routeCategories; }
    const QList<APIRoutePolicy>& routePolicies() const { return m_routePolicies; }
    const QStringList& routeAppRuleSummaries() const { return m_routeAppRuleSummaries; }
    double downloadSpeedBps() const { return m_downloadSpeedBps; }
    double uploadSpeedBps() const { return m_uploadSpeedBps; }
    qint64 maxDevices() const { return m_maxDevices; }
    qint64 activeDeviceCount() const { return m_activeDeviceCount; }
    int localProxyPort() const { return m_localProxyPort; }
    int localAIProxyPort() const { return m_localAIProxyPort; }
    bool aiProxyReady() const { return m_aiProxyReady; }
    const QList<LogEntry>& logs() const { return m_logs; }

    // What the views may write themselves.
    void setSelectedPage(AppPage page);
    void setNodesExpanded(bool expanded);
    void setLogsExpanded(bool expanded);
    void setDevicesExpanded(bool expanded);
    void setFeedbackExpanded(bool expanded);
    void setShowAuthSheet(bool show);
    // A hold of the view's own, beside those of the flows.
    void setIsBusy(bool busy);
    void setAlertMessage(std::optional<QString> message);
    void setMenuBarEnabled(bool enabled);    // stored
    void setShowMenuBarSpeed(bool enabled);  // stored

    // --- Derived texts ---------------------------------------------------------------------
    Endpoint selectedEndpoint() const;
    QList<Endpoint> visibleEndpoints() const;
    QList<LogEntry> visibleLogs() const;
    QList<Device> visibleDevices() const;
    qint64 effectiveMaxDevices() const;
    QString deviceUsage() const;
    QString statusTitle() const;
    QString connectionNote() const;
    QString menuBarTitle() const;
    QString planPillText() const;
    QString accessSummary() const;
    QString inviteCode() const;
    QString invitesTotalText() const;
    QString rewardDaysText() const;
    QString pendingInvitesText() const;
    QString routePolicyTitle(const QString& policyId) const;

    // The same texts from their inputs alone.
    static QString statusTitle(const ConnectionState& state);
    static QString connectionNote(const ConnectionState& state,
                                  const std::optional<QString>& currentConfigPath);
    static QString accessSummary(const std::optional<APIUser>& user);
    static QString pendingInvitesText(const std::optional<APIUser>& user);
    static bool isUsableRouteCatalog(const APIRouteCatalogResponse& catalog);

    // --- Operations ------------------------------------------------------------------------
    const QString& appVersion() const { return m_appVersion; }
    const std::optional<QString>& token() const { return m_token; }
    const EndpointQualityStatsMap& endpointQualityStats() const { return m_endpointQualityStats; }
    const std::optional<QuickConnectCacheRecord>& quickConnectCache() const {
        return m_quickConnectCache;
    }

    QCoro::Task<void> bootstrap();
    QCoro::Task<void> refreshPublicData();
    QCoro::Task<void> refreshPrivateData();
    QCoro::Task<void> syncDevices(QString token);
    QCoro::Task<void> syncTickets(QString token);

    QCoro::Task<bool> sendVerificationCode(QString identity);
    QCoro::Task<void> registerAccount(QString identity, QString password,
                                      QString verificationCode,
                                      std::optional<QString> inviteCode);
    QCoro::Task<void> login(QString identity, QString password);
    QCoro::Task<void> logout();

    QCoro::Task<void> toggleConnection();
    void selectEndpointFromMenu(const Endpoint& endpoint);
    QCoro::Task<void> runAutoconnectSmokeTestIfRequested();
    QCoro::Task<void> purchase(Plan plan);
    std::optional<QUrl> publicPlanURL(const Plan& plan) const;

    void appendLog(const QString& message);
    void present(const std::exception_ptr& error, const QString& fallback);
    void present(const QString& description, const QString& fallback);

    // Detached work: runs the task to its end, routing anything it throws to the log.
    void spawn(QCoro::Task<void> task);
    int runningTaskCount() const { return m_runningTasks; }

    // Statistics and the quick-connect cache.
    void saveEndpointQualityStats();
    void saveQuickConnectCache(const QuickConnectCacheRecord& record);
    void clearQuickConnectCache();
    static std::optional<QString> quickConnectCacheLocation(bool createDirectory);

    // Node quality: the ranking, the candidates of a connect and what each attempt teaches.
    std::optional<Endpoint> recommendedEndpoint(const QList<Endpoint>& endpoints) const;
    // Best first; scores are taken once per sort, at one reading of the clock.
    QList<Endpoint> sortedConnectionEndpoints(const QList<Endpoint>& endpoints, bool forAI) const;
    double endpointQualityScore(const Endpoint& endpoint, bool forAI, double now) const;
    QList<Endpoint> connectionCandidates(const Endpoint& startingWith,
                                         const QSet<QString>& excluding) const;
    void recordEndpointSuccess(const Endpoint& endpoint);
    void recordEndpointFailure(const Endpoint& endpoint, const QString& reason);

    // The speed timer's tick.
    void updateNetworkSpeed();

    // Connection preferences; a running connection is reloaded in place.
    void setOutboundMode(OutboundMode mode);
    QCoro::Task<void> setSystemProxyEnabled(bool enabled);
    void toggleAIEnhancedMode();
    // A refresh (the menus' manual reload) always fetches a fresh configuration and reloads;
    // a reload that brings a changed choice over leaves the tunnel alone when a change ahead
    // of it already brought it.
    enum class ReloadPurpose { refresh, choices };
    QCoro::Task<void> reloadActiveConfiguration(QString reason,
                                                ReloadPurpose purpose = ReloadPurpose::refresh);
    std::optional<Endpoint> preferredEndpoint(RouteRegionChoice choice) const;

    // Account, support and launcher actions.
    QCoro::Task<void> unbindDevice(Device device);
    QCoro::Task<void> submitFeedback(QString title, QString contactEmail, QString body);
    void copyInviteLink();
    void openTelegramProxy();
    void openAIToolLauncher(const QString& command, const QString& displayName);
    void setLaunchAtLogin(bool enabled);
    void openClientHome();
    // The shell text that prepares the proxy variables and starts the tool.
    static QString aiToolLauncherScript(const QString& command, const QString& displayName,
                                        int aiProxyPort);

    // Quiet teardown before the process ends: the application awaits it at quit. Afterwards
    // no flow starts anything.
    QCoro::Task<void> cleanupBeforeExit();

    // The attempt trace, newest last, and how an outcome is named to the service.
    const QList<QMap<QString, QString>>& currentStateLog() const { return m_currentStateLog; }
    const QString& currentAttemptId() const { return m_currentAttemptId; }
    static QString connectionStateStage(const QString& status,
                                        const std::optional<QString>& errorMessage);
    static QString connectionReasonCode(const QString& status,
                                        const std::optional<QString>& errorMessage);
    // False when the failure lies in this machine, which another node would not cure.
    static bool shouldTryNextEndpoint(const std::exception_ptr& error);
    static bool isSystemProxyFailure(const QString& summary);
    // Thrown inside a flow that found itself stopped by disconnect, sign-out or exit; never
    // leaves it.
    struct FlowStopped {};

signals:
    void selectedPageChanged();
    void connectionStateChanged();
    void connectionDetailsChanged(); // connectedAt, config path, ports, AI proxy readiness
    void panelsChanged();            // the four expanded flags
    void selectedEndpointChanged();
    void showAuthSheetChanged();
    void busyChanged();
    void alertMessageChanged();
    void accountChanged(); // user, current device, device limit and count
    void endpointsChanged();
    void plansChanged();
    void devicesChanged();
    void ticketsChanged();
    void ordersChanged();
    void versionChanged();
    void preferencesChanged();
    void routeCatalogChanged();
    void speedChanged();
    void logsChanged();

private:
    friend class AppStateTestAccess;

    // Model and preferences.
    void loadPreferences();
    EndpointQualityStatsMap loadEndpointQualityStats() const;
    static std::optional<QuickConnectCacheRecord> loadQuickConnectCache();
    void startNetworkSpeedMonitor();
    void setConnectionState(ConnectionState state);
    void setConnectedAt(std::optional<QDateTime> at);
    void setAIProxyReady(bool ready);
    void setSelectedEndpointId(std::optional<QString> id);
    void setCurrentUser(std::optional<APIUser> user);
    void setCurrentDevice(std::optional<Device> device);
    void setMaxDevices(qint64 value);
    void setActiveDeviceCount(qint64 value);
    void setEndpoints(QList<Endpoint> endpoints);
    void setPlans(QList<Plan> plans);
    void setDevices(QList<Device> devices);
    void setTickets(QList<Ticket> tickets);
    void setOrders(QList<Order> orders);
    void setAIRouteChoice(RouteRegionChoice choice);

    // Synchronisation and account.
    void applyRouteCatalog(const APIRouteCatalogResponse& catalog);
    void applyVersionPolicy(const APIAppVersion& version);
    QStringList macOSAppRuleSummaries(const QList<APIRouteCategory>& categories) const;
    QCoro::Task<void> syncAccount(QString token);
    QCoro::Task<void> syncClientBootstrap(QString token);
    QCoro::Task<void> syncRoutePreferences(QString token);
    QCoro::Task<void> syncOrders(QString token);
    void applyDeviceChoice(const QList<APIDevice>& list, bool fullForm);
    // A refresh step failed: alert and log, and a 401 ends the session.
    void reportRefreshFailure(const std::exception_ptr& error);
    QCoro::Task<void> startSession(APIAuthResponse auth, QString logText);
    void logoutLocally();
    QCoro::Task<void> saveAIRoutePreference(QString token);

    // Connection control.
    QCoro::Task<void> connect();
    QCoro::Task<void> disconnect();
    QCoro::Task<void> runConnectSequence(QString token);
    QCoro::Task<void> runDisconnectSequence(quint64 generation);
    QCoro::Task<void> connectWithFullPreparation(QString token, quint64 generation);
    QCoro::Task<void> reportClientCrash(QString crashType, QString reason,
                                        std::optional<QString> diagnostics);
    void stopConnectionHeartbeat();
    QCoro::Task<void> takeDownTunnelAfterSignOut();
    // The tunnel is down: nothing runs a node any more.
    void forgetRunningNode();
    // The runtime clean-up, counted as a take-down, after a connection the state itself ended
    // (a system proxy that would not hold, a reload that lost sing-box).
    QCoro::Task<void> takeDownLostConnection();
    // The runtime clean-up of a connect or recovery, counted as a take-down: a connect after a
    // disconnect waits for the stopped one's.
    QCoro::Task<void> takeDownCounted();
    QUrl publicPricingURL(const QUrl& base, const Plan& plan,
                          const std::optional<QString>& account) const;
    static QUrl publicLoginURL(const QUrl& base, const QUrl& next);
    QString recentLogText(int count) const;
    // A web page in the browser; when none opens, the alert and the log give its address.
    bool openPage(const QUrl& url);
    static QString unopenedPageText(const QUrl& url);

    // Attempt trace and reports.
    void beginConnectionAttempt(const std::optional<Endpoint>& endpoint);
    void recordConnectionState(const QString& stage, const std::optional<Endpoint>& endpoint,
                               const QString& errorCode, const QString& message);
    qint64 attemptElapsedMs() const;
    QCoro::Task<void> reportConnection(QString status, Endpoint endpoint, Device device,
                                       std::optional<QString> errorMessage);

    // Device binding, configuration and candidates.
    QCoro::Task<Device> bindCurrentDeviceIfNeeded(QString token);
    std::optional<Device> reusableCurrentDevice() const;
    // Polls until ready; a reload passes the connection it serves, and the polling stops at
    // its next step once that has ended.
    QCoro::Task<ProtocolConfiguration>
    generateProtocolConfig(Endpoint endpoint, Device device, QString token,
                           std::optional<quint64> connection = std::nullopt);
    QCoro::Task<void> connectCandidates(QString token, quint64 generation);
    // `picks`: the count of node picks when the connect began.
    QCoro::Task<void> connectCandidate(Endpoint candidate, Device device, QString token,
                                       quint64 generation, quint64 picks);
    void setCurrentConfigPath(std::optional<QString> path);
    // The activation's proxy port (when it has one) and the tunnel's AI proxy port.
    void publishActivationPorts(const TunnelActivation& activation);
    void cacheProtocolConfiguration(const ProtocolConfiguration& configuration,
                                    const Endpoint& endpoint, const Device& device);
    bool flowStopped(quint64 generation) const { return !m_flows->isCurrent(generation); }
    // A change of a connection that ended touches nothing more.
    bool connectionEnded(quint64 connection) const {
        return !m_flows->isCurrentConnection(connection);
    }
    // What a node start brought up, and the choices it applied.
    struct StartedNode {
        TunnelActivation activation;
        OutboundMode outboundMode = OutboundMode::smart;
        bool aiEnhancedModeEnabled = false;
        bool systemProxyEnabled = false;
    };
    // A node start whose flow was stopped meanwhile is taken down again; exit waits for it.
    QCoro::Task<StartedNode> startNode(ProtocolConfiguration configuration,
                                       OutboundMode outboundMode, quint64 generation);
    // A connect or recovery brought `endpoint` up: the record holds it with the choices the
    // start applied, and the selection follows it unless the user picked a node since.
    void recordNodeStarted(const StartedNode& started, const Endpoint& endpoint,
                           const Device& device, quint64 picksAtStart);

    // What runs against what the user chose last. Every end of connection work (a connect, a
    // recovery, a change) looks again; the last to end finds the connection at rest, and brings
    // it to the choices: the system proxy by the switch, the rest by one reload. Each of those
    // is a change whose own end looks again, so no order of ends can skip the check.
    struct Choices {
        std::optional<QString> endpointId;
        OutboundMode outboundMode = OutboundMode::smart;
        bool aiEnhancedModeEnabled = false;
        bool systemProxyEnabled = false;
        bool operator==(const Choices&) const = default;
    };
    Choices currentChoices() const;
    bool runningMatchesChoices() const;
    // Connected in the current generation, and no connect, recovery, change, node start,
    // take-down or tunnel call under way.
    bool connectionAtRest() const;
    void lookAgain();
    QCoro::Task<void> bringConnectionToChoices();
    // A change: waits its turn, applies, gives up its turn, then looks again.
    QCoro::Task<void> reloadRunningConnection(QString reason, ConnectionFlows::Lease change);
    QCoro::Task<void> switchRunningSystemProxy(bool enabled, ConnectionFlows::Lease change);
    QCoro::Task<void> reloadInTurn(QString reason, quint64 ticket);
    QCoro::Task<void> switchInTurn(bool enabled, quint64 ticket);
    // The reason of the newest change of a choice, for the reload that applies it late.
    void noteChoiceChange(QString reason);

    // Keep-alive and recovery, of the running node; each belongs to the flow generation it
    // began in and stops when a user action moves it on.
    void startConnectionHeartbeat();
    static QCoro::Task<void> runHeartbeatLoop(QPointer<AppState> self, QUuid sessionId,
                                              quint64 generation,
                                              std::shared_ptr<CancelToken> cancel,
                                              std::chrono::milliseconds interval);
    static QCoro::Task<void> runConnectionHeartbeat(QPointer<AppState> self, QUuid sessionId,
                                                    quint64 generation);
    static QCoro::Task<void> recoverConnectionAfterHealthFailure(QPointer<AppState> self,
                                                                 Endpoint endpoint,
                                                                 Device device, QString reason,
                                                                 quint64 generation);
    QCoro::Task<void> recoverThroughCandidates(Endpoint failed, Device device, QString token,
                                               quint64 generation, quint64 picks);

    AppStateDependencies m_deps;
    Preferences& m_preferences;
    OrvaneAPIClient& m_api;
    TunnelControl& m_tunnel;

    // Published.
    AppPage m_selectedPage = AppPage::home;
    ConnectionState m_connectionState;
    bool m_nodesExpanded = false;
    bool m_logsExpanded = false;
    bool m_devicesExpanded = false;
    bool m_feedbackExpanded = false;
    std::optional<QDateTime> m_connectedAt;
    std::optional<QString> m_selectedEndpointId;
    bool m_showAuthSheet = false;
    std::optional<QString> m_alertMessage;
    std::optional<APIUser> m_currentUser;
    QList<Endpoint> m_endpoints;
    QList<Plan> m_plans;
    QList<Device> m_devices;
    QList<Ticket> m_tickets;
    QList<Order> m_orders;
    QString m_latestVersion = QStringLiteral("v10.5.1");
    QString m_versionPolicyText = QStringLiteral("已是最新");
    std::optional<QUrl> m_versionDownloadURL;
    bool m_requiresVersionAction = false;
    std::optional<Device> m_currentDevice;
    std::optional<QString> m_currentConfigPath;
    bool m_launchAtLogin = false;
    bool m_menuBarEnabled = true;
    bool m_showMenuBarSpeed = false;
    bool m_aiEnhancedModeEnabled = false;
    OutboundMode m_outboundMode = OutboundMode::smart;
    bool m_systemProxyEnabled = true;
    RouteRegionChoice m_aiRouteChoice = RouteRegionChoice::automatic;
    QList<APIRouteCategory> m_routeCategories;
    QList<APIRoutePolicy> m_routePolicies;
    QStringList m_routeAppRuleSummaries;
    double m_downloadSpeedBps = 0;
    double m_uploadSpeedBps = 0;
    qint64 m_maxDevices = 0;
    qint64 m_activeDeviceCount = 0;
    int m_localProxyPort = 19090;
    int m_localAIProxyPort = 19110;
    bool m_aiProxyReady = false;
    QList<LogEntry> m_logs;

    // Stored.
    QString m_appVersion = QStringLiteral("v10.5.1");
    SessionStore m_sessionStore;
    DeviceIdentityStore m_deviceIdentity;
    std::optional<QString> m_token;
    bool m_bootstrapped = false;
    QTimer* m_speedTimer = nullptr;
    std::optional<NetworkTrafficSample> m_lastTrafficSample;
    qint64 m_lastTrafficSampleAt = 0; // monotonic milliseconds
    QUuid m_connectionSessionId = QUuid::createUuid();
    QString m_currentAttemptId;
    QString m_currentRequestId;
    QDateTime m_currentAttemptStartedAt;
    QList<QMap<QString, QString>> m_currentStateLog;
    int m_consecutiveHealthFailures = 0;
    int m_autoRecoverySwitchCount = 0;
    bool m_startupCleanupCompleted = false;
    const int m_maxAutoRecoverySwitches = 2;
    const int m_maxConnectionCandidates = 4;
    EndpointQualityStatsMap m_endpointQualityStats;
    std::optional<QuickConnectCacheRecord> m_quickConnectCache;

    // Generations, busy holds, what runs and what is under way.
    ConnectionFlows* m_flows = nullptr;
    std::optional<ConnectionFlows::Lease> m_viewBusyHold;
    QString m_latestChoiceReason;
    // Choices a reload of the running connection failed to bring: stored for the next connect,
    // and not tried again by the state itself until the user chooses another node or mode.
    std::optional<Choices> m_refusedChoices;
    int m_runningTasks = 0;
    std::shared_ptr<CancelToken> m_heartbeatCancel;
};

} // namespace orvane
