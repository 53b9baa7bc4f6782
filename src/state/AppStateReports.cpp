// The attempt trace, the connection and crash reports, device binding and what a tried node
// teaches the next step.
#include "AppState.h"

#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "OrvaneRuntimeError.h"
#include "TunnelCoordinatorError.h"

#include <algorithm>

namespace orvane {

namespace {

const QString kPlatform = QStringLiteral("macos");
const QString kActive = QStringLiteral("active");

QString attemptToken(const QString& prefix) {
    return prefix + QUuid::createUuid().toString(QUuid::Id128).toUpper().left(18);
}

bool containsAny(const QString& text, std::initializer_list<const char*> markers) {
    return std::any_of(markers.begin(), markers.end(), [&text](const char* marker) {
        return text.contains(QString::fromUtf8(marker));
    });
}

} // namespace

// --- Attempt trace -------------------------------------------------------------------------

void AppState::beginConnectionAttempt(const std::optional<Endpoint>& endpoint) {
    m_currentAttemptId = attemptToken(QStringLiteral("att_"));
    m_currentRequestId = attemptToken(QStringLiteral("req_"));
    m_currentAttemptStartedAt = m_deps.wallClock();
    m_currentStateLog.clear();
    recordConnectionState(QStringLiteral("auth_check"), endpoint, QStringLiteral("OK"),
                          QStringLiteral("连接请求已创建。"));
}

qint64 AppState::attemptElapsedMs() const {
    return std::max<qint64>(0, m_currentAttemptStartedAt.msecsTo(m_deps.wallClock()));
}

void AppState::recordConnectionState(const QString& stage, const std::optional<Endpoint>& endpoint,
                                     const QString& errorCode, const QString& message) {
    const QString elapsed = QString::number(attemptElapsedMs());
    const QString code = errorCode.isEmpty() ? QStringLiteral("OK") : errorCode;
    const QString build = QStringLiteral("macos-") + m_appVersion;
    QMap<QString, QString> entry{
        {QStringLiteral("stage"), stage},
        {QStringLiteral("state"), stage},
        {QStringLiteral("attemptId"), m_currentAttemptId},
        {QStringLiteral("attempt_id"), m_currentAttemptId},
        {QStringLiteral("requestId"), m_currentRequestId},
        {QStringLiteral("request_id"), m_currentRequestId},
        {QStringLiteral("appVersion"), m_appVersion},
        {QStringLiteral("app_version"), m_appVersion},
        {QStringLiteral("buildId"), build},
        {QStringLiteral("build_id"), build},
        {QStringLiteral("platform"), kPlatform},
        {QStringLiteral("elapsedMs"), elapsed},
        {QStringLiteral("elapsed_ms"), elapsed},
        {QStringLiteral("errorCode"), code},
        {QStringLiteral("error_code"), code},
        {QStringLiteral("message"), message},
    };
    if (endpoint) {
        entry.insert(QStringLiteral("endpointId"), endpoint->id);
        entry.insert(QStringLiteral("endpoint_id"), endpoint->id);
        entry.insert(QStringLiteral("protocol"), rawValue(endpoint->preferredProtocol));
    }
    m_currentStateLog.append(entry);
    constexpr qsizetype kTraceLimit = 60;
    if (m_currentStateLog.size() > kTraceLimit) {
        m_currentStateLog.remove(0, m_currentStateLog.size() - kTraceLimit);
    }
}

QString AppState::connectionStateStage(const QString& status,
                                       const std::optional<QString>& errorMessage) {
    if (status == QLatin1String("connected")) {
        return QStringLiteral("connected");
    }
    if (status == QLatin1String("disconnected")) {
        return QStringLiteral("rollback");
    }
    const QString text = errorMessage.value_or(QString()).toLower();
    if (containsAny(text, {"节点准备", "not_ready"})) {
        return QStringLiteral("node_ready_wait");
    }
    if (containsAny(text, {"protocolconfig", "协议配置"})) {
        return QStringLiteral("config_prepare");
    }
    if (containsAny(text, {"sing-box", "内核"})) {
        return QStringLiteral("kernel_start");
    }
    if (containsAny(text, {"连通性", "验证"})) {
        return QStringLiteral("quick_verify");
    }
    return QStringLiteral("fallback");
}

QString AppState::connectionReasonCode(const QString& status,
                                       const std::optional<QString>& errorMessage) {
    if (status == QLatin1String("connected") || status == QLatin1String("disconnected")) {
        return QStringLiteral("OK");
    }
    const QString text = errorMessage.value_or(QString()).toLower();
    if (containsAny(text, {"节点准备", "not_ready"})) {
        return QStringLiteral("NODE_NOT_READY");
    }
    if (containsAny(text, {"节点不可用"})) {
        return QStringLiteral("NODE_UNAVAILABLE");
    }
    if (containsAny(text, {"protocolconfig", "协议配置"})) {
        return QStringLiteral("CONFIG_FAILED");
    }
    if (containsAny(text, {"sing-box", "内核"})) {
        return QStringLiteral("KERNEL_START_FAILED");
    }
    if (containsAny(text, {"连通性", "验证"})) {
        return QStringLiteral("QUICK_VERIFY_FAILED");
    }
    return QStringLiteral("UNKNOWN_FAILURE");
}

// --- Reports -------------------------------------------------------------------------------

QCoro::Task<void> AppState::reportConnection(QString status, Endpoint endpoint, Device device,
                                             std::optional<QString> errorMessage) {
    if (!m_token) {
        co_return;
    }
    APIConnectionReportRequest report;
    report.deviceId = device.id;
    report.endpointId = endpoint.id;
    report.protocolName = rawValue(endpoint.preferredProtocol);
    report.status = status;
    report.latencyMs = endpoint.latencyMs;
    report.appVersion = m_appVersion;
    report.clientPlatform = kPlatform;
    report.errorMessage = errorMessage;
    report.stateStage = connectionStateStage(status, errorMessage);
    report.reasonCode = connectionReasonCode(status, errorMessage);
    report.quickVerifyMs = 2000;
    report.clientRegion = QStringLiteral("auto");
    report.networkType = QStringLiteral("wired");
    report.isOverseas = false;
    report.attemptId = m_currentAttemptId;
    report.requestId = m_currentRequestId;
    report.buildId = QStringLiteral("macos-") + m_appVersion;
    report.connectDurationMs = attemptElapsedMs();
    report.stateLog = m_currentStateLog;
    const QString token = *m_token;
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    try {
        co_await m_api.connectionReport(std::move(report), token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self && failure) {
        appendLog(QStringLiteral("连接状态上报失败：") + describeError(failure));
    }
}

QCoro::Task<void> AppState::reportClientCrash(QString crashType, QString reason,
                                              std::optional<QString> diagnostics) {
    if (!m_token) {
        co_return;
    }
    APIClientCrashReportRequest report;
    if (m_currentDevice) {
        report.deviceId = m_currentDevice->id;
    }
    report.clientPlatform = kPlatform;
    report.appVersion = m_appVersion;
    report.crashType = crashType;
    report.reason = reason;
    report.stackTrace = diagnostics;
    report.diagnostics = diagnostics;
    report.dumpSummary = diagnostics;
    report.signalName = crashType;
    report.threadName = QStringLiteral("main");
    report.buildId = QStringLiteral("macos-") + m_appVersion;
    const QString token = *m_token;
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    try {
        co_await m_api.crashReport(std::move(report), token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self && failure) {
        appendLog(QStringLiteral("客户端诊断上报失败：") + describeError(failure));
    }
}

// --- Device binding ------------------------------------------------------------------------

std::optional<Device> AppState::reusableCurrentDevice() const {
    const std::optional<QString> userId =
        m_currentUser ? std::optional(m_currentUser->id) : std::nullopt;
    if (const auto remembered = m_deviceIdentity.serverDeviceId(userId)) {
        for (const Device& device : m_devices) {
            if (device.id == *remembered && device.status == kActive) {
                return device;
            }
        }
    }
    QString host = m_deps.hostName();
    if (host.isEmpty()) {
        host = QStringLiteral("Mac");
    }
    const QString os = m_deps.operatingSystemVersion();
    for (const Device& device : m_devices) {
        if (device.status == kActive && device.rawDeviceType == kPlatform &&
            device.rawDeviceName == host && device.rawOS == os) {
            return device;
        }
    }
    return std::nullopt;
}

QCoro::Task<Device> AppState::bindCurrentDeviceIfNeeded(QString token) {
    if (m_currentDevice && m_currentDevice->status == kActive) {
        const Device current = *m_currentDevice;
        co_return current;
    }
    const std::optional<QString> userId =
        m_currentUser ? std::optional(m_currentUser->id) : std::nullopt;
    if (const auto reusable = reusableCurrentDevice()) {
        setCurrentDevice(reusable);
        m_deviceIdentity.saveServerDeviceId(reusable->id, userId);
        appendLog(QStringLiteral("已复用本机设备绑定。"));
        co_return *reusable;
    }
    const qint64 max = effectiveMaxDevices();
    if (max < 1) {
        throw OrvaneRuntimeError::noDeviceSlots();
    }
    if (m_activeDeviceCount >= max) {
        throw OrvaneRuntimeError::deviceLimit(m_activeDeviceCount, max);
    }
    APIBindDeviceRequest request;
    request.deviceId = m_deviceIdentity.clientDeviceId();
    request.deviceName = m_deps.hostName();
    if (request.deviceName.isEmpty()) {
        request.deviceName = QStringLiteral("Mac");
    }
    request.deviceType = kPlatform;
    request.os = m_deps.operatingSystemVersion();
    request.appVersion = m_appVersion;
    QPointer<AppState> self(this);
    const APIDeviceResponse response = co_await m_api.bindDevice(std::move(request), token);
    const Device bound = Device::fromAPI(response.device, response.device.id);
    // After a sign-out the answer belongs to no one here: the caller's flow is stopped.
    if (self && m_token == token) {
        setCurrentDevice(bound);
        m_deviceIdentity.saveServerDeviceId(bound.id, userId);
    }
    co_return bound;
}

// --- Candidate outcomes --------------------------------------------------------------------

bool AppState::shouldTryNextEndpoint(const std::exception_ptr& error) {
    const QString description = describeError(error);
    if (TunnelCoordinatorError::describesMissingSystemTool(description)) {
        return false;
    }
    const QString text = description.toLower();
    return !containsAny(text, {"address already in use", "本地代理端口", "端口", "管理员授权",
                               "administrator privileges", "旧连接残留"});
}

bool AppState::isSystemProxyFailure(const QString& summary) {
    return containsAny(summary, {"系统代理未生效", "系统代理设置未生效"});
}

void AppState::cacheProtocolConfiguration(const ProtocolConfiguration& configuration,
                                          const Endpoint& endpoint, const Device& device) {
    const double now = static_cast<double>(m_deps.wallClock().toMSecsSinceEpoch()) / 1000.0;
    QuickConnectCacheRecord record;
    record.userId = m_currentUser ? std::optional(m_currentUser->id) : std::nullopt;
    record.deviceId = device.id;
    record.endpointId = endpoint.id;
    record.outboundMode = m_outboundMode;
    record.protocolConfiguration = configuration;
    record.cachedAt = now;
    record.successfulAt = now;
    saveQuickConnectCache(record);
}

} // namespace orvane
