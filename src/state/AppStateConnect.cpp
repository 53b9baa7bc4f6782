// The one-click connect flow, the configuration polling, the disconnect and the exit.
#include "AppState.h"

#include "CancelToken.h"
#include "ConnectionLabels.h"
#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "OrvaneRuntimeError.h"

#include <algorithm>

namespace orvane {

namespace {

const QString kConfigWrittenNote =
    QStringLiteral("协议配置已安全写入本机，临时文件会在连接成功后清理。");
const QString kPollStopped = QStringLiteral("协议配置未就绪，已停止本次连接。");
// How long after the exit began it still waits for a node start under way: the shell quits
// 3 s after asking, ready or not.
constexpr std::chrono::milliseconds kExitDeadline{2500};

bool isFlowStop(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AppState::FlowStopped&) {
        return true;
    } catch (...) {
        return false;
    }
}

QString triedSummary(const QList<Endpoint>& tried) {
    QStringList parts;
    for (const Endpoint& endpoint : tried) {
        parts << endpoint.region + QLatin1Char(' ') + protocolLabel(endpoint.preferredProtocol);
    }
    return parts.join(QStringLiteral("、"));
}

} // namespace

// --- Connect ------------------------------------------------------------------------------

QCoro::Task<void> AppState::connectWithFullPreparation(QString token, quint64 generation) {
    // After exit, sign-out or disconnect nothing new starts.
    if (flowStopped(generation)) {
        co_return;
    }
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    try {
        co_await connectCandidates(token, generation);
    } catch (...) {
        failure = std::current_exception();
    }
    // A stopped flow ends quietly, whatever its step threw (a request in flight at a sign-out
    // answers 401): the action that stopped it has taken the connection down.
    if (failure && !isFlowStop(failure) && self && !flowStopped(generation)) {
        std::rethrow_exception(failure);
    }
}

QCoro::Task<void> AppState::connectCandidates(QString token, quint64 generation) {
    QPointer<AppState> self(this);
    auto stopCheck = [&self, this, generation] {
        if (!self || flowStopped(generation)) {
            throw FlowStopped{};
        }
    };

    // A pick from here on is the user's newer choice: the connect leaves the selection to it.
    const quint64 picks = m_flows->picks();
    beginConnectionAttempt(selectedEndpoint());
    appendLog(QStringLiteral("正在检查本机代理环境。"));
    co_await takeDownCounted();
    stopCheck();
    forgetRunningNode();
    recordConnectionState(QStringLiteral("device_bind"), selectedEndpoint(), QStringLiteral("OK"),
                          QStringLiteral("同步设备并准备绑定。"));
    co_await syncDevices(token);
    stopCheck();
    appendLog(m_currentDevice ? QStringLiteral("已复用当前设备绑定。")
                              : QStringLiteral("正在绑定当前设备。"));
    const Device device = co_await bindCurrentDeviceIfNeeded(token);
    stopCheck();

    const Endpoint starting = selectedEndpoint();
    const QList<Endpoint> candidates = connectionCandidates(starting, {});
    if (m_aiEnhancedModeEnabled && !candidates.isEmpty() && candidates.first().id != starting.id) {
        appendLog(QStringLiteral("AI 增强模式已根据节点质量自动选择：") +
                  candidates.first().region + QLatin1Char(' ') + candidates.first().name +
                  QStringLiteral("。"));
    }

    QList<Endpoint> tried;
    std::exception_ptr lastError;
    for (const Endpoint& candidate : candidates) {
        tried.append(candidate);
        setConnectionState(ConnectionState::Case::preparing);
        appendLog(QStringLiteral("正在生成 ") + candidate.region + QStringLiteral(" 多协议配置。"));
        recordConnectionState(QStringLiteral("config_prepare"), candidate, QStringLiteral("OK"),
                              QStringLiteral("获取 ProtocolConfig V2。"));
        std::exception_ptr failure;
        try {
            co_await connectCandidate(candidate, device, token, generation, picks);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) {
            co_return;
        }
        if (isFlowStop(failure)) {
            std::rethrow_exception(failure);
        }
        // Stopped meanwhile: what the node met then is no failure of the node.
        stopCheck();
        lastError = failure;
        const QString description = describeError(failure);
        // A node that had connected (its final device refresh failed) leaves nothing behind:
        // its connection ends here, and a change of it touches nothing more.
        if (m_connectedAt) {
            m_flows->endConnection();
            stopConnectionHeartbeat();
            setConnectedAt(std::nullopt);
            setConnectionState(ConnectionState::Case::preparing);
        }
        setAIProxyReady(false);
        recordEndpointFailure(candidate, description);
        const QString failed = QStringLiteral("failed");
        recordConnectionState(connectionStateStage(failed, description), candidate,
                              connectionReasonCode(failed, description), description);
        appendLog(candidate.region + QStringLiteral(" 连接失败：") + description);
        co_await reportConnection(failed, candidate, device, description);
        stopCheck();
        co_await takeDownCounted();
        stopCheck();
        forgetRunningNode();
        if (!shouldTryNextEndpoint(failure)) {
            appendLog(QStringLiteral("检测到本机连接环境问题，已停止自动重试。"));
            break;
        }
        if (candidate.id != candidates.last().id) {
            appendLog(QStringLiteral("正在自动切换到下一个可用节点。"));
        }
    }
    const QString reason =
        lastError ? describeError(lastError) : QStringLiteral("请稍后重试或提交日志反馈。");
    throw OrvaneRuntimeError::connectionFailed(QStringLiteral("已尝试 ") + triedSummary(tried) +
                                               QStringLiteral("，仍未连通。") + reason);
}

QCoro::Task<void> AppState::connectCandidate(Endpoint candidate, Device device, QString token,
                                             quint64 generation, quint64 picks) {
    QPointer<AppState> self(this);
    const OutboundMode requestedMode = m_outboundMode;
    const ProtocolConfiguration configuration =
        co_await generateProtocolConfig(candidate, device, token);
    appendLog(QStringLiteral("出站模式：") + outboundModeTitle(requestedMode) +
              QStringLiteral("。"));
    recordConnectionState(QStringLiteral("kernel_start"), candidate, QStringLiteral("OK"),
                          QStringLiteral("启动协议内核。"));
    const StartedNode started = co_await startNode(configuration, requestedMode, generation);
    const TunnelActivation& activation = started.activation;
    const bool singBox = activation.mode == TunnelActivation::Mode::singBox;

    recordNodeStarted(started, candidate, device, picks);
    const quint64 connection = m_flows->connection();
    setCurrentConfigPath(kConfigWrittenNote);
    setConnectedAt(m_deps.wallClock());
    setConnectionState(ConnectionState::Case::connected);
    appendLog((singBox ? QStringLiteral("sing-box 内核已连接：")
                       : QStringLiteral("Network Extension 已连接：")) +
              candidate.region + QStringLiteral("。"));
    recordConnectionState(QStringLiteral("quick_verify"), candidate, QStringLiteral("OK"),
                          QStringLiteral("快速验证由本地运行时完成。"));
    m_autoRecoverySwitchCount = 0;
    recordEndpointSuccess(candidate);
    cacheProtocolConfiguration(configuration, candidate, device);
    recordConnectionState(QStringLiteral("connected"), candidate, QStringLiteral("OK"),
                          QStringLiteral("连接已建立。"));
    co_await reportConnection(QStringLiteral("connected"), candidate, device, std::nullopt);
    if (!self || flowStopped(generation)) {
        throw FlowStopped{};
    }
    // On the node that runs: a pick made while the report was out may have switched it.
    startConnectionHeartbeat();
    for (const QString& note : activation.recoveryNotes) {
        appendLog(note);
    }
    std::exception_ptr syncFailure;
    try {
        co_await syncDevices(token);
    } catch (...) {
        syncFailure = std::current_exception();
    }
    // A recovery that the keep-alive began meanwhile owns the connection now: neither this
    // refresh's failure nor another candidate may touch what it brings up.
    if (!self || flowStopped(generation) || connectionEnded(connection)) {
        throw FlowStopped{};
    }
    if (syncFailure) {
        std::rethrow_exception(syncFailure);
    }
}

QCoro::Task<AppState::StartedNode> AppState::startNode(ProtocolConfiguration configuration,
                                                      OutboundMode outboundMode,
                                                      quint64 generation) {
    StartedNode started;
    // The mode the configuration was built for: a newer choice comes after, by a reload.
    started.outboundMode = outboundMode;
    started.aiEnhancedModeEnabled = m_aiEnhancedModeEnabled;
    started.systemProxyEnabled = m_systemProxyEnabled;
    QPointer<AppState> self(this);
    ConnectionFlows::Lease nodeStart = m_flows->beginNodeStart();
    std::exception_ptr failure;
    try {
        started.activation = co_await m_tunnel.connect(
            std::move(configuration), started.outboundMode, started.aiEnhancedModeEnabled,
            started.systemProxyEnabled, false);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        throw FlowStopped{};
    }
    if (flowStopped(generation)) {
        // Sign-out or exit came while the node was starting: no sing-box and no system proxy
        // may outlive them.
        const bool allowAuthorization = !m_flows->isExiting();
        const ConnectionFlows::Lease takeDown = m_flows->beginTakeDown();
        try {
            co_await m_tunnel.cleanupRuntimeArtifacts(allowAuthorization);
        } catch (...) {
            // The clean-up reports nothing; the start is abandoned either way.
        }
        if (self) {
            forgetRunningNode();
        }
        throw FlowStopped{};
    }
    nodeStart.end();
    if (failure) {
        std::rethrow_exception(failure);
    }
    co_return started;
}

void AppState::recordNodeStarted(const StartedNode& started, const Endpoint& endpoint,
                                 const Device& device, quint64 picksAtStart) {
    // A node the user picked meanwhile stays selected; the connection is brought to it next.
    if (m_flows->picks() == picksAtStart) {
        setSelectedEndpointId(endpoint.id);
    }
    RunningConnection running;
    running.endpoint = endpoint;
    running.device = device;
    running.mode = started.activation.mode;
    running.outboundMode = started.outboundMode;
    running.aiEnhancedModeEnabled = started.aiEnhancedModeEnabled;
    running.systemProxyEnabled = started.systemProxyEnabled;
    m_flows->setRunning(running);
    m_refusedChoices.reset();
    publishActivationPorts(started.activation);
    // Ready only when the node was started with it: a switch made during the start is not.
    setAIProxyReady(started.activation.mode == TunnelActivation::Mode::singBox &&
                    started.aiEnhancedModeEnabled);
    m_consecutiveHealthFailures = 0;
}

void AppState::forgetRunningNode() {
    m_flows->forgetRunning();
}

void AppState::setCurrentConfigPath(std::optional<QString> path) {
    if (m_currentConfigPath != path) {
        m_currentConfigPath = std::move(path);
        emit connectionDetailsChanged();
    }
}

void AppState::publishActivationPorts(const TunnelActivation& activation) {
    const int proxyPort = activation.proxyPort.value_or(m_localProxyPort);
    const int aiPort = m_tunnel.activeAIProxyPort().value_or(m_tunnel.aiProxyPort());
    if (proxyPort != m_localProxyPort || aiPort != m_localAIProxyPort) {
        m_localProxyPort = proxyPort;
        m_localAIProxyPort = aiPort;
        emit connectionDetailsChanged();
    }
}

// --- Protocol configuration ----------------------------------------------------------------

QCoro::Task<ProtocolConfiguration>
AppState::generateProtocolConfig(Endpoint endpoint, Device device, QString token,
                                 std::optional<quint64> connection) {
    QPointer<AppState> self(this);
    const quint64 generation = m_flows->generation();
    auto stopped = [&] {
        return !self || flowStopped(generation) || (connection && connectionEnded(*connection));
    };
    appendLog(QStringLiteral("正在获取节点协议配置。"));
    QString segment = device.id;
    try {
        segment = OrvaneAPIClient::escapedDeviceId(device.id);
    } catch (...) {
        // An id the path cannot hold goes as it is; the service answers for it.
    }
    const QString path = QStringLiteral("/client/devices/") + segment +
                         QStringLiteral("/protocol-config");
    // One mode for every poll: the caller records what the configuration was built for.
    const OutboundMode outboundMode = m_outboundMode;
    std::optional<QDateTime> deadline;
    for (int poll = 1;; ++poll) {
        std::optional<APIProtocolConfigResponse> response;
        std::exception_ptr failure;
        try {
            APIProtocolConfigRequest request;
            request.endpointId = endpoint.id;
            request.deviceId = device.id;
            request.platform = QStringLiteral("macos");
            request.outboundMode = rawValue(outboundMode);
            request.waitForReadyMs = 8000;
            request.clientRegion = QStringLiteral("auto");
            request.networkType = QStringLiteral("wired");
            request.attemptId = m_currentAttemptId;
            request.requestId = m_currentRequestId;
            request.buildId = QStringLiteral("macos-") + m_appVersion;
            request.includeRoutePolicy = true;
            QByteArray body = OrvaneAPIClient::encode(request);
            HTTPHeaders headers =
                OrvaneAPIClient::traceHeaders(m_currentAttemptId, m_currentRequestId);
            response = co_await m_api.send<APIProtocolConfigResponse>(
                path, QStringLiteral("POST"), token, std::move(body), std::move(headers));
        } catch (...) {
            failure = std::current_exception();
        }
        if (stopped()) {
            throw FlowStopped{};
        }
        if (failure) {
            appendLog(kPollStopped);
            std::rethrow_exception(failure);
        }
        const ProtocolConfigReadiness readiness = response->readiness();
        const QDateTime now = m_deps.wallClock();
        if (!deadline) {
            deadline = now.addMSecs(std::max<qint64>(readiness.maxWaitMs, 1000));
        }
        if (readiness.status == QLatin1String("ready")) {
            appendLog(QStringLiteral("ProtocolConfig 解码：") + response->runtimeDebugSummary() +
                      QStringLiteral("。"));
            std::optional<ProtocolConfiguration> configuration;
            try {
                configuration = ProtocolConfiguration::from(*response, endpoint.id);
            } catch (...) {
                // Replaced by the text below.
            }
            if (!configuration) {
                appendLog(kPollStopped);
                throw OrvaneRuntimeError::connectionFailed(
                    QStringLiteral("服务端没有返回可用协议配置。"));
            }
            appendLog(QStringLiteral("已生成 ") + protocolLabel(configuration->protocolKind) +
                      QStringLiteral(" 协议配置。"));
            co_return *configuration;
        }
        if (readiness.status == QLatin1String("failed")) {
            appendLog(kPollStopped);
            throw OrvaneRuntimeError::connectionFailed(
                readiness.message.isEmpty()
                    ? QStringLiteral("节点不可用：协议配置同步失败。")
                    : QStringLiteral("节点不可用：") + readiness.message);
        }
        if (now >= *deadline) {
            appendLog(kPollStopped);
            throw OrvaneRuntimeError::connectionFailed(
                QStringLiteral("节点凭证同步超时，请稍后重试或切换节点。"));
        }
        if (poll == 1 || poll % 5 == 0) {
            recordConnectionState(QStringLiteral("node_ready_wait"), endpoint,
                                  QStringLiteral("NODE_NOT_READY"),
                                  readiness.message.isEmpty() ? QStringLiteral("节点凭证同步中。")
                                                              : readiness.message);
            appendLog(QStringLiteral("节点凭证同步中，正在等待服务端生效（") +
                      QString::number(poll) + QStringLiteral("）。"));
        }
        const qint64 retry = readiness.retryAfterMs > 0 ? readiness.retryAfterMs : 1500;
        const qint64 left = now.msecsTo(*deadline);
        const qint64 wait =
            left < 300 ? 1500 : std::max<qint64>(1500, std::min({retry, qint64{3000}, left}));
        try {
            co_await m_deps.sleep(std::chrono::milliseconds(wait));
        } catch (...) {
            // A wait that ends early is no error.
        }
        if (stopped()) {
            throw FlowStopped{};
        }
    }
}

// --- Disconnect and exit -------------------------------------------------------------------

QCoro::Task<void> AppState::runDisconnectSequence(quint64 generation) {
    // The node that ran, not one picked while its reload was still under way.
    const std::optional<RunningConnection> running = m_flows->running();
    if (running) {
        setSelectedEndpointId(running->endpoint.id);
    }
    const Endpoint endpoint = running ? running->endpoint : selectedEndpoint();
    const std::optional<Device> device =
        running ? std::optional(running->device) : m_currentDevice;
    setConnectionState(ConnectionState::Case::disconnecting);
    if (m_currentAttemptId.isEmpty()) {
        beginConnectionAttempt(endpoint);
    }
    recordConnectionState(QStringLiteral("rollback"), endpoint, QStringLiteral("OK"),
                          QStringLiteral("用户请求断开连接。"));
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    // Counted like every take-down: a connect begins once it is over, whoever pressed it.
    ConnectionFlows::Lease takeDown = m_flows->beginTakeDown();
    try {
        co_await m_tunnel.disconnect();
    } catch (...) {
        failure = std::current_exception();
    }
    takeDown.end();
    if (!self) {
        co_return;
    }
    // A sign-out or exit meanwhile owns the state, the alert and the reports, and a connect
    // after it may already run. A failure still goes to the log: the system proxy may be left
    // pointing at a port that no longer answers.
    if (flowStopped(generation)) {
        if (failure) {
            appendLog(QStringLiteral("断开连接失败：") + describeError(failure));
        }
        co_return;
    }
    if (failure) {
        setConnectionState(ConnectionState::failed(describeError(failure)));
        present(failure, QStringLiteral("断开连接失败"));
        co_return;
    }
    setConnectedAt(std::nullopt);
    setAIProxyReady(false);
    forgetRunningNode();
    setConnectionState(ConnectionState::Case::disconnected);
    recordConnectionState(QStringLiteral("rollback"), endpoint, QStringLiteral("OK"),
                          QStringLiteral("连接已断开。"));
    if (device) {
        co_await reportConnection(QStringLiteral("disconnected"), endpoint, *device,
                                  std::nullopt);
        if (!self || flowStopped(generation)) {
            co_return;
        }
    }
    appendLog(QStringLiteral("连接已断开。"));
}

QCoro::Task<void> AppState::cleanupBeforeExit() {
    m_flows->beginExit();
    const qint64 deadline = m_deps.monotonicClock() + kExitDeadline.count();
    stopConnectionHeartbeat();
    if (m_speedTimer) {
        m_speedTimer->stop();
        m_speedTimer->deleteLater();
        m_speedTimer = nullptr;
    }
    QPointer<AppState> self(this);
    std::shared_ptr<CancelToken> settled;
    if (m_flows->nodeStartsUnderWay() > 0) {
        settled = std::make_shared<CancelToken>();
        spawn([](QPointer<ConnectionFlows> flows,
                 std::shared_ptr<CancelToken> done) -> QCoro::Task<void> {
            co_await flows->untilTunnelIsFree();
            done->cancel();
        }(m_flows, settled));
    }
    // Begun first: it also tells a node start under way to give up, which then takes itself
    // down alongside the clean-up, not after it.
    QCoro::Task<void> cleanup = m_tunnel.cleanupRuntimeArtifacts(false);
    if (settled) {
        const qint64 left = deadline - m_deps.monotonicClock();
        if (left > 0 && !settled->isCancelled()) {
            co_await sleepUnlessCancelled(m_deps.sleep(std::chrono::milliseconds(left)), settled);
        }
        if (!self) {
            co_return;
        }
    }
    try {
        co_await std::move(cleanup);
    } catch (...) {
        // Exit goes on whatever the clean-up met.
    }
    if (!self) {
        co_return;
    }
    forgetRunningNode();
    setConnectedAt(std::nullopt);
    setAIProxyReady(false);
    setConnectionState(ConnectionState::Case::disconnected);
}

QCoro::Task<void> AppState::takeDownCounted() {
    ConnectionFlows::Lease takeDown = m_flows->beginTakeDown();
    QPointer<ConnectionFlows> flows(m_flows);
    std::exception_ptr failure;
    try {
        co_await m_tunnel.cleanupRuntimeArtifacts(true);
    } catch (...) {
        failure = std::current_exception();
    }
    // Ended before the caller resumes, which may look whether the tunnel is free.
    takeDown.end();
    // A change's call the clean-up cut short may still be inside the tunnel: the node start
    // that follows waits for it.
    if (flows) {
        co_await flows->untilTunnelIsFree();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

QCoro::Task<void> AppState::takeDownLostConnection() {
    const ConnectionFlows::Lease takeDown = m_flows->beginTakeDown();
    QPointer<AppState> self(this);
    try {
        co_await m_tunnel.cleanupRuntimeArtifacts(true);
    } catch (...) {
        // The state already says the connection ended.
    }
    if (self) {
        forgetRunningNode();
    }
}

void AppState::stopConnectionHeartbeat() {
    if (m_heartbeatCancel) {
        m_heartbeatCancel->cancel();
        m_heartbeatCancel.reset();
    }
    m_connectionSessionId = QUuid::createUuid();
}

} // namespace orvane
