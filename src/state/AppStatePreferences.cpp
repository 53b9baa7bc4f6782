// Changes of route, mode and proxy preferences, applied to a running connection in place.
#include "AppState.h"

#include "ConnectionLabels.h"
#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "PreferenceKeys.h"
#include "Preferences.h"
#include "TunnelCoordinatorError.h"

#include <QPointer>

namespace orvane {

namespace {

// The reload failed and the previous configuration could not be put back: sing-box is gone.
bool lostTheConnection(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelCoordinatorError& tunnelError) {
        return tunnelError.errorCase() == TunnelCoordinatorError::Case::reloadRollbackFailed;
    } catch (...) {
        return false;
    }
}

} // namespace

QCoro::Task<void> AppState::reloadActiveConfiguration(QString reason, ReloadPurpose purpose) {
    if (!m_token) {
        setShowAuthSheet(true);
        co_return;
    }
    if (m_connectionState.stateCase() != ConnectionState::Case::connected) {
        appendLog(QStringLiteral("当前未连接，配置会在下次连接时生效。"));
        co_return;
    }
    if (!m_currentDevice) {
        const QString text = QStringLiteral("重载失败：当前设备尚未完成绑定。");
        appendLog(text);
        setAlertMessage(text);
        co_return;
    }
    if (purpose == ReloadPurpose::refresh) {
        m_flows->askRefresh();
    }
    co_await reloadRunningConnection(std::move(reason), m_flows->requestChange());
}

QCoro::Task<void> AppState::reloadRunningConnection(QString reason,
                                                    ConnectionFlows::Lease change) {
    QPointer<AppState> self(this);
    co_await reloadInTurn(std::move(reason), change.id());
    change.end();
    if (self) {
        lookAgain();
    }
}

QCoro::Task<void> AppState::reloadInTurn(QString reason, quint64 ticket) {
    const Device device = *m_currentDevice;
    const QString token = *m_token;
    // A disconnect, sign-out or exit ends it, and so does its node's take-down by a failing
    // connect or a recovery.
    const quint64 connection = m_flows->connection();
    const quint64 picks = m_flows->picks();
    const quint64 reloads = m_flows->noteReload();
    QPointer<AppState> self(this);
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::connection);
    appendLog(reason + QStringLiteral("，正在生成新配置。"));
    // A newer pick has a reload of its own behind this one: running this one's node on the
    // way there would only undo the pick for a while, or for good if it ended last.
    auto overtaken = [this, picks] { return m_flows->picks() != picks; };
    // A newer reload behind it brings all of the choices, this one's included: until this one
    // calls the tunnel, it leaves the work to that one.
    auto superseded = [this, reloads] { return m_flows->reloads() != reloads; };

    // One change of the running connection at a time, in the order they were asked for.
    const bool alive = co_await m_flows->untilTurnOf(ticket);
    if (!alive || !self || connectionEnded(connection) || overtaken()) {
        co_return;
    }
    // A change ahead of it already brought what it was asked for (a reload reads the choices
    // when it calls the tunnel): nothing to apply, unless the user asked for a refresh.
    if (!m_flows->refreshOwed() && runningMatchesChoices()) {
        co_return;
    }
    // The node as it stands at its turn: a refusal ahead of it may have undone a pick.
    const Endpoint endpoint = selectedEndpoint();

    std::optional<ProtocolConfiguration> configuration;
    RunningConnection applied;
    bool reachedTunnel = false;
    std::exception_ptr failure;
    bool stopped = false;
    // Refreshes asked until now get this reload's configuration.
    const quint64 refreshes = m_flows->refreshesAsked();
    try {
        const OutboundMode requestedMode = m_outboundMode;
        configuration = co_await generateProtocolConfig(endpoint, device, token, connection);
        if (!self || connectionEnded(connection)) {
            throw FlowStopped{};
        }
        if (!overtaken() && !superseded()) {
            // The choices as they stand when the tunnel is called, not when the reload began.
            applied.endpoint = endpoint;
            applied.device = device;
            applied.mode = TunnelActivation::Mode::singBox;
            applied.outboundMode = requestedMode;
            applied.aiEnhancedModeEnabled = m_aiEnhancedModeEnabled;
            applied.systemProxyEnabled = m_systemProxyEnabled;
            reachedTunnel = true;
            // The call counts beyond its connection: a connect after a disconnect waits for it.
            const ConnectionFlows::Lease call = m_flows->beginTunnelCall();
            co_await m_tunnel.reload(*configuration, applied.outboundMode,
                                     applied.aiEnhancedModeEnabled, applied.systemProxyEnabled);
        }
    } catch (const FlowStopped&) {
        stopped = true;
    } catch (...) {
        failure = std::current_exception();
    }
    // A disconnect, sign-out or exit meanwhile owns the connection: the reload says nothing.
    if (!self || stopped || connectionEnded(connection)) {
        co_return;
    }
    if (!failure) {
        if (!reachedTunnel) {
            co_return; // overtaken before it reached the tunnel: it applied nothing
        }
        m_flows->noteRefreshed(refreshes);
        const std::optional<RunningConnection> before = m_flows->running();
        if (before) {
            applied.mode = before->mode;
        }
        m_flows->setRunning(applied);
        m_refusedChoices.reset();
        if (!overtaken()) {
            setSelectedEndpointId(endpoint.id);
        }
        // A node switch starts the keep-alive's count afresh: the new node failed nothing yet.
        if (!before || before->endpoint.id != endpoint.id) {
            m_consecutiveHealthFailures = 0;
        }
        if (!applied.aiEnhancedModeEnabled) {
            setAIProxyReady(false);
        }
        cacheProtocolConfiguration(*configuration, endpoint, device);
        recordConnectionState(QStringLiteral("config_prepare"), endpoint, QStringLiteral("OK"),
                              QStringLiteral("菜单配置热重载成功。"));
        appendLog(QStringLiteral("配置已热重载：") + endpoint.region + QLatin1Char(' ') +
                  protocolLabel(endpoint.preferredProtocol) + QStringLiteral("。"));
        co_return;
    }
    if (lostTheConnection(failure)) {
        // Ended as a failure, like a system proxy that will not hold: the proxy still points at
        // the dead port until the clean-up puts the user's setting back.
        const QString description = describeError(failure);
        m_flows->advance();
        // The clean-up is the reload's own to finish; a connect pressed meanwhile waits for it.
        const ConnectionFlows::Lease takeDownBusy =
            m_flows->holdBusy(ConnectionFlows::Scope::connection);
        stopConnectionHeartbeat();
        setConnectedAt(std::nullopt);
        setAIProxyReady(false);
        forgetRunningNode();
        setConnectionState(ConnectionState::failed(description));
        appendLog(description);
        setAlertMessage(description);
        co_await takeDownLostConnection();
        co_return;
    }
    // A newer reload follows with the same choices and more: its outcome is the one to tell,
    // and it owes the refresh too.
    if (superseded()) {
        co_return;
    }
    m_flows->noteRefreshed(refreshes);
    // The state does not try these choices again by itself; they apply at the next connect.
    // Not superseded, it was handed the latest choices.
    Choices refused = currentChoices();
    refused.endpointId = endpoint.id;
    // The old node still runs: a pick that could not be applied is undone.
    const std::optional<RunningConnection> running = m_flows->running();
    if (running && m_selectedEndpointId == endpoint.id) {
        setSelectedEndpointId(running->endpoint.id);
        refused.endpointId = m_selectedEndpointId;
    }
    m_refusedChoices = refused;
    const QString text =
        QStringLiteral("配置热重载失败，当前连接保持不变：") + describeError(failure);
    appendLog(text);
    setAlertMessage(text);
}

void AppState::noteChoiceChange(QString reason) {
    m_latestChoiceReason = std::move(reason);
}

bool AppState::choicesAwaitNextConnect() const {
    if (!m_refusedChoices) {
        return false;
    }
    // The proxy has a switch of its own: switching it does not make the reload worth a retry.
    Choices choices = currentChoices();
    choices.systemProxyEnabled = m_refusedChoices->systemProxyEnabled;
    return choices == *m_refusedChoices;
}

AppState::Choices AppState::currentChoices() const {
    return Choices{m_selectedEndpointId, m_outboundMode, m_aiEnhancedModeEnabled,
                   m_systemProxyEnabled};
}

bool AppState::runningMatchesChoices() const {
    const std::optional<RunningConnection>& running = m_flows->running();
    return running && running->endpoint.id == selectedEndpoint().id &&
           running->outboundMode == m_outboundMode &&
           running->aiEnhancedModeEnabled == m_aiEnhancedModeEnabled &&
           running->systemProxyEnabled == m_systemProxyEnabled;
}

bool AppState::connectionAtRest() const {
    return !m_flows->isExiting() &&
           m_connectionState.stateCase() == ConnectionState::Case::connected &&
           m_flows->running() && m_flows->changesUnderWay() == 0 &&
           !m_flows->connectRunning() && !m_flows->recovering() &&
           m_flows->nodeStartsUnderWay() == 0 && m_flows->takeDownsUnderWay() == 0 &&
           m_flows->tunnelCallsUnderWay() == 0;
}

void AppState::lookAgain() {
    if (connectionAtRest() && !runningMatchesChoices()) {
        spawn(bringConnectionToChoices());
    }
}

QCoro::Task<void> AppState::bringConnectionToChoices() {
    // Work still under way looks again when it ends.
    if (!connectionAtRest() || runningMatchesChoices()) {
        co_return;
    }
    const RunningConnection running = *m_flows->running();
    // One change at a time: its end looks again for whatever else differs.
    if (running.systemProxyEnabled != m_systemProxyEnabled) {
        co_await switchRunningSystemProxy(m_systemProxyEnabled, m_flows->requestChange());
        co_return;
    }
    if (running.mode != TunnelActivation::Mode::singBox || !m_token || !m_currentDevice ||
        choicesAwaitNextConnect()) {
        co_return;
    }
    const bool nodeDiffers = running.endpoint.id != selectedEndpoint().id;
    QString reason = m_latestChoiceReason;
    if (reason.isEmpty()) {
        reason = nodeDiffers ? QStringLiteral("当前线路已切换")
                 : running.outboundMode != m_outboundMode
                     ? QStringLiteral("出站模式已切换为 ") + outboundModeTitle(m_outboundMode)
                     : QStringLiteral("增强模式已变更");
    }
    co_await reloadRunningConnection(reason, m_flows->requestChange());
}

void AppState::setOutboundMode(OutboundMode mode) {
    if (mode == m_outboundMode) {
        return;
    }
    m_outboundMode = mode;
    m_preferences.setString(prefkey::outboundMode, rawValue(mode));
    emit preferencesChanged();
    const QString title = outboundModeTitle(mode);
    appendLog(QStringLiteral("已切换出站模式：") + title + QStringLiteral("。"));
    const QString reason = QStringLiteral("出站模式已切换为 ") + title;
    noteChoiceChange(reason);
    if (mode == OutboundMode::direct && m_systemProxyEnabled) {
        // The reload that follows the switch brings every choice: a reload still ahead of it
        // leaves the tunnel to that one.
        m_flows->noteReload();
        QPointer<AppState> self(this);
        // The end of the switch leaves the mode to the reload that follows it.
        spawn([](QPointer<AppState> state, QString why,
                 ConnectionFlows::Lease reload) -> QCoro::Task<void> {
            co_await state->setSystemProxyEnabled(false);
            reload.end();
            if (state) {
                co_await state->reloadActiveConfiguration(why, ReloadPurpose::choices);
            }
        }(self, reason, m_flows->announceChange()));
        return;
    }
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        spawn(reloadActiveConfiguration(reason, ReloadPurpose::choices));
    }
}

QCoro::Task<void> AppState::setSystemProxyEnabled(bool enabled) {
    if (enabled == m_systemProxyEnabled) {
        co_return;
    }
    m_systemProxyEnabled = enabled;
    m_preferences.setBool(prefkey::systemProxy, enabled);
    emit preferencesChanged();
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        co_await switchRunningSystemProxy(enabled, m_flows->requestChange());
        co_return;
    }
    if (enabled) {
        appendLog(QStringLiteral("系统代理将在下次连接后启用。"));
        co_return;
    }
    // A connect or recovery under way applies the choice when it ends (or its clean-up puts
    // the user's setting back): switching the proxy beneath its start would fail the node.
    const bool starting = m_flows->connectRunning() || m_flows->recovering() ||
                          m_flows->nodeStartsUnderWay() > 0;
    QPointer<AppState> self(this);
    if (!starting) {
        co_await m_tunnel.disableLocalProxy(true);
    }
    if (self) {
        appendLog(QStringLiteral("系统代理偏好已关闭。"));
    }
}

QCoro::Task<void> AppState::switchRunningSystemProxy(bool enabled, ConnectionFlows::Lease change) {
    QPointer<AppState> self(this);
    co_await switchInTurn(enabled, change.id());
    change.end();
    if (self) {
        lookAgain();
    }
}

QCoro::Task<void> AppState::switchInTurn(bool enabled, quint64 ticket) {
    const quint64 connection = m_flows->connection();
    QPointer<AppState> self(this);
    const bool alive = co_await m_flows->untilTurnOf(ticket);
    // The connection ended meanwhile: the choice stands for the next connect, and nothing is
    // said of a switch on a connection that is gone. A later switch back brings its own value.
    if (!alive || !self || connectionEnded(connection) || m_systemProxyEnabled != enabled ||
        m_connectionState.stateCase() != ConnectionState::Case::connected) {
        co_return;
    }
    // A reload ahead of it may have applied the choice already.
    const std::optional<RunningConnection>& before = m_flows->running();
    if (before && before->systemProxyEnabled == enabled) {
        appendLog(enabled ? QStringLiteral("系统代理已开启。") : QStringLiteral("系统代理已关闭。"));
        co_return;
    }
    std::optional<QStringList> notes;
    std::exception_ptr failure;
    try {
        const ConnectionFlows::Lease call = m_flows->beginTunnelCall();
        notes = co_await m_tunnel.setSystemProxyEnabled(enabled, m_localProxyPort);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || connectionEnded(connection)) {
        co_return;
    }
    if (failure) {
        // The switch shows what runs; a newer choice meanwhile is left to its own switch.
        const std::optional<RunningConnection>& running = m_flows->running();
        const bool holds = running ? running->systemProxyEnabled : !enabled;
        if (m_systemProxyEnabled == enabled && holds != enabled) {
            m_systemProxyEnabled = holds;
            m_preferences.setBool(prefkey::systemProxy, holds);
            emit preferencesChanged();
        }
        present(failure, enabled ? QStringLiteral("系统代理开启失败")
                                 : QStringLiteral("系统代理关闭失败"));
        co_return;
    }
    m_flows->setRunningSystemProxy(enabled);
    for (const QString& note : *notes) {
        appendLog(note);
    }
    appendLog(enabled ? QStringLiteral("系统代理已开启。") : QStringLiteral("系统代理已关闭。"));
}

void AppState::toggleAIEnhancedMode() {
    m_aiEnhancedModeEnabled = !m_aiEnhancedModeEnabled;
    m_preferences.setBool(prefkey::aiEnhancedMode, m_aiEnhancedModeEnabled);
    emit preferencesChanged();
    appendLog(m_aiEnhancedModeEnabled ? QStringLiteral("AI 增强模式已开启。")
                                      : QStringLiteral("AI 增强模式已关闭。"));
    noteChoiceChange(QStringLiteral("增强模式已变更"));
    if (!m_aiEnhancedModeEnabled) {
        setAIProxyReady(false);
    }
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        spawn(reloadActiveConfiguration(QStringLiteral("增强模式已变更"), ReloadPurpose::choices));
    }
}

std::optional<Endpoint> AppState::preferredEndpoint(RouteRegionChoice choice) const {
    QList<Endpoint> candidates;
    for (const Endpoint& endpoint : m_endpoints) {
        if (endpoint.status != NodeStatus::offline) {
            candidates.append(endpoint);
        }
    }
    if (choice == RouteRegionChoice::automatic) {
        return recommendedEndpoint(candidates);
    }
    const QString code = rawValue(choice).toUpper();
    QList<Endpoint> inRegion;
    for (const Endpoint& endpoint : candidates) {
        if (endpoint.regionCode() == code) {
            inRegion.append(endpoint);
        }
    }
    const QList<Endpoint> ranked = sortedConnectionEndpoints(inRegion, true);
    if (ranked.isEmpty()) {
        return std::nullopt;
    }
    return ranked.first();
}

QCoro::Task<void> AppState::saveAIRoutePreference(QString token) {
    APIRoutePreference preference;
    preference.categoryId = QStringLiteral("ai");
    preference.policyId = QStringLiteral("policy_ai");
    if (m_aiRouteChoice != RouteRegionChoice::automatic) {
        if (const auto node = preferredEndpoint(m_aiRouteChoice)) {
            preference.endpointId = node->id;
        }
    }
    APISaveRoutePreferencesRequest request;
    request.preferences.append(preference);
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    std::optional<APIRoutePreferencesResponse> response;
    try {
        response = co_await m_api.saveRoutePreferences(request, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    if (failure) {
        appendLog(QStringLiteral("AI 线路偏好已本机保存，服务端同步失败：") +
                  describeError(failure));
    } else if (response->routeCatalog && m_token == token) {
        // As for the route-preferences step: no catalog of a session signed out meanwhile.
        applyRouteCatalog(*response->routeCatalog);
    }
}

} // namespace orvane
