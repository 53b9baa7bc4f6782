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

QCoro::Task<void> AppState::reloadActiveConfiguration(QString reason) {
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
    const Endpoint endpoint = selectedEndpoint();
    const Device device = *m_currentDevice;
    const QString token = *m_token;
    const quint64 generation = m_flowGeneration;
    QPointer<AppState> self(this);
    setIsBusy(true);
    ++m_reloadsInFlight;
    ++m_reloadsBegun;
    appendLog(reason + QStringLiteral("，正在生成新配置。"));

    std::exception_ptr failure;
    bool stopped = false;
    try {
        const ProtocolConfiguration configuration =
            co_await generateProtocolConfig(endpoint, device, token);
        co_await m_tunnel.reload(configuration, m_outboundMode, m_aiEnhancedModeEnabled,
                                 m_systemProxyEnabled);
        if (self && !flowStopped(generation)) {
            setSelectedEndpointId(endpoint.id);
            // The keep-alive probes the node the connection now runs on.
            m_runningEndpoint = endpoint;
            m_runningDevice = device;
            cacheProtocolConfiguration(configuration, endpoint, device);
            recordConnectionState(QStringLiteral("config_prepare"), endpoint,
                                  QStringLiteral("OK"), QStringLiteral("菜单配置热重载成功。"));
            appendLog(QStringLiteral("配置已热重载：") + endpoint.region + QLatin1Char(' ') +
                      protocolLabel(endpoint.preferredProtocol) + QStringLiteral("。"));
        }
    } catch (const FlowStopped&) {
        stopped = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    --m_reloadsInFlight;
    // A disconnect, sign-out or exit meanwhile owns the connection and the busy mark: the
    // reload says nothing.
    if (stopped || flowStopped(generation)) {
        co_return;
    }
    if (failure) {
        if (lostTheConnection(failure)) {
            // Ended as a failure, like a system proxy that will not hold: the proxy still
            // points at the dead port until the clean-up puts the user's setting back.
            const QString description = describeError(failure);
            ++m_flowGeneration;
            stopConnectionHeartbeat();
            setConnectedAt(std::nullopt);
            setAIProxyReady(false);
            forgetRunningNode();
            setConnectionState(ConnectionState::failed(description));
            appendLog(description);
            setAlertMessage(description);
            co_await takeDownLostConnection();
            if (!self) {
                co_return;
            }
        } else {
            // The old node still runs: a pick that could not be applied is undone.
            if (m_runningEndpoint && m_selectedEndpointId == endpoint.id) {
                setSelectedEndpointId(m_runningEndpoint->id);
            }
            const QString text =
                QStringLiteral("配置热重载失败，当前连接保持不变：") + describeError(failure);
            appendLog(text);
            setAlertMessage(text);
        }
    }
    setIsBusy(false);
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
    if (mode == OutboundMode::direct && m_systemProxyEnabled) {
        QPointer<AppState> self(this);
        spawn([](QPointer<AppState> state, QString why) -> QCoro::Task<void> {
            co_await state->setSystemProxyEnabled(false);
            if (state) {
                co_await state->reloadActiveConfiguration(why);
            }
        }(self, reason));
        return;
    }
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        spawn(reloadActiveConfiguration(reason));
    }
}

QCoro::Task<void> AppState::setSystemProxyEnabled(bool enabled) {
    if (enabled == m_systemProxyEnabled) {
        co_return;
    }
    m_systemProxyEnabled = enabled;
    m_preferences.setBool(prefkey::systemProxy, enabled);
    emit preferencesChanged();
    QPointer<AppState> self(this);
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        const quint64 generation = m_flowGeneration;
        std::optional<QStringList> notes;
        std::exception_ptr failure;
        try {
            notes = co_await m_tunnel.setSystemProxyEnabled(enabled, m_localProxyPort);
        } catch (...) {
            failure = std::current_exception();
        }
        // The connection ended meanwhile: the choice stands for the next connect, and nothing
        // is said of a switch on a connection that is gone.
        if (!self || flowStopped(generation)) {
            co_return;
        }
        if (failure) {
            m_systemProxyEnabled = !enabled;
            m_preferences.setBool(prefkey::systemProxy, !enabled);
            emit preferencesChanged();
            present(failure, enabled ? QStringLiteral("系统代理开启失败")
                                     : QStringLiteral("系统代理关闭失败"));
            co_return;
        }
        for (const QString& note : *notes) {
            appendLog(note);
        }
        appendLog(enabled ? QStringLiteral("系统代理已开启。") : QStringLiteral("系统代理已关闭。"));
        co_return;
    }
    if (enabled) {
        appendLog(QStringLiteral("系统代理将在下次连接后启用。"));
        co_return;
    }
    co_await m_tunnel.disableLocalProxy(true);
    if (self) {
        appendLog(QStringLiteral("系统代理偏好已关闭。"));
    }
}

void AppState::toggleAIEnhancedMode() {
    m_aiEnhancedModeEnabled = !m_aiEnhancedModeEnabled;
    m_preferences.setBool(prefkey::aiEnhancedMode, m_aiEnhancedModeEnabled);
    emit preferencesChanged();
    appendLog(m_aiEnhancedModeEnabled ? QStringLiteral("AI 增强模式已开启。")
                                      : QStringLiteral("AI 增强模式已关闭。"));
    if (!m_aiEnhancedModeEnabled) {
        setAIProxyReady(false);
    }
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        spawn(reloadActiveConfiguration(QStringLiteral("增强模式已变更")));
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
