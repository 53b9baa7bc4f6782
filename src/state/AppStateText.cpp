// Texts and short lists the views show, derived from the state each time they are read.
#include "AppState.h"

#include "StateText.h"

namespace orvane {

namespace {

constexpr int kCollapsedRows = 2;

template <typename T>
QList<T> firstRows(const QList<T>& list, bool expanded) {
    return expanded ? list : list.mid(0, kCollapsedRows);
}

qint64 orZero(const std::optional<APIUser>& user, std::optional<qint64> APIUser::*field) {
    return user ? ((*user).*field).value_or(0) : 0;
}

} // namespace

Endpoint AppState::selectedEndpoint() const {
    if (m_selectedEndpointId) {
        for (const Endpoint& endpoint : m_endpoints) {
            if (endpoint.id == *m_selectedEndpointId) {
                return endpoint;
            }
        }
    }
    return m_endpoints.isEmpty() ? placeholderEndpoints().first() : m_endpoints.first();
}

QList<Endpoint> AppState::visibleEndpoints() const {
    return firstRows(m_endpoints, m_nodesExpanded);
}

QList<LogEntry> AppState::visibleLogs() const {
    return firstRows(m_logs, m_logsExpanded);
}

QList<Device> AppState::visibleDevices() const {
    return firstRows(m_devices, m_devicesExpanded);
}

qint64 AppState::effectiveMaxDevices() const {
    if (m_maxDevices >= 1) {
        return m_maxDevices;
    }
    return m_currentUser ? m_currentUser->maxDevices : 0;
}

QString AppState::deviceUsage() const {
    return QString::number(m_activeDeviceCount) + QStringLiteral(" / ") +
           QString::number(effectiveMaxDevices()) + QStringLiteral(" 设备");
}

QString AppState::statusTitle() const {
    return statusTitle(m_connectionState);
}

QString AppState::statusTitle(const ConnectionState& state) {
    using C = ConnectionState::Case;
    switch (state.stateCase()) {
    case C::disconnected:
        return QStringLiteral("未连接");
    case C::preparing:
        return QStringLiteral("正在连接");
    case C::configReady:
        return QStringLiteral("配置已准备");
    case C::connected:
        return QStringLiteral("已连接");
    case C::disconnecting:
        return QStringLiteral("正在断开");
    case C::repairing:
        return QStringLiteral("正在修复连接");
    case C::failed:
        return QStringLiteral("连接异常");
    }
    return {};
}

QString AppState::connectionNote() const {
    return connectionNote(m_connectionState, m_currentConfigPath);
}

QString AppState::connectionNote(const ConnectionState& state,
                                 const std::optional<QString>& currentConfigPath) {
    using C = ConnectionState::Case;
    switch (state.stateCase()) {
    case C::failed:
        return state.message();
    case C::configReady:
        return QStringLiteral("协议配置已准备，请切换到可用的 sing-box 节点后重试。");
    case C::repairing:
        return QStringLiteral("检测到旧连接或 DNS 状态异常，正在自动修复。");
    case C::disconnected:
    case C::preparing:
    case C::connected:
    case C::disconnecting:
        break;
    }
    return currentConfigPath.value_or(QStringLiteral("选择节点后一键生成配置并连接。"));
}

QString AppState::menuBarTitle() const {
    if (!m_showMenuBarSpeed) {
        return QStringLiteral("Orvane");
    }
    return QStringLiteral("↓ ") + StateText::formattedSpeed(m_downloadSpeedBps) +
           QStringLiteral("  ↑ ") + StateText::formattedSpeed(m_uploadSpeedBps);
}

QString AppState::planPillText() const {
    return m_currentUser ? m_currentUser->planName + QStringLiteral("有效")
                         : QStringLiteral("请先登录");
}

QString AppState::accessSummary() const {
    return accessSummary(m_currentUser);
}

QString AppState::accessSummary(const std::optional<APIUser>& user) {
    const auto traffic = user ? user->remainingTrafficMb : std::nullopt;
    const auto expiry = user ? user->subscriptionExpiredAt : std::nullopt;
    const QString until = expiry && !expiry->isEmpty() ? StateText::shortDateText(expiry)
                                                       : QStringLiteral("未开通");
    return StateText::trafficText(traffic) + QStringLiteral(" / ") + until;
}

QString AppState::inviteCode() const {
    if (m_currentUser && m_currentUser->referralCode) {
        return *m_currentUser->referralCode;
    }
    return QStringLiteral("登录后显示");
}

QString AppState::invitesTotalText() const {
    return QString::number(orZero(m_currentUser, &APIUser::invitesTotal));
}

QString AppState::rewardDaysText() const {
    return QString::number(orZero(m_currentUser, &APIUser::rewardDays)) + QStringLiteral(" 天");
}

QString AppState::pendingInvitesText() const {
    return pendingInvitesText(m_currentUser);
}

QString AppState::pendingInvitesText(const std::optional<APIUser>& user) {
    const qint64 pending =
        orZero(user, &APIUser::invitesTotal) - orZero(user, &APIUser::invitesPaid);
    return QString::number(std::max<qint64>(pending, 0));
}

} // namespace orvane
