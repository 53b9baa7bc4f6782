// The keep-alive of a running connection and the automatic switch to another node.
#include "AppState.h"

#include "CancelToken.h"
#include "ConnectionLabels.h"
#include "LocalizedError.h"

namespace orvane {

namespace {

constexpr int kRecoveryThreshold = 2;

} // namespace

// --- Keep-alive ----------------------------------------------------------------------------

void AppState::startConnectionHeartbeat() {
    if (m_flows->isExiting()) {
        return;
    }
    stopConnectionHeartbeat();
    const QUuid sessionId = QUuid::createUuid();
    m_connectionSessionId = sessionId;
    auto cancel = std::make_shared<CancelToken>();
    m_heartbeatCancel = cancel;
    const std::chrono::milliseconds interval =
        m_aiEnhancedModeEnabled ? std::chrono::seconds(30) : std::chrono::seconds(60);
    spawn(runHeartbeatLoop(QPointer<AppState>(this), sessionId, m_flows->generation(), cancel,
                           interval));
}

QCoro::Task<void> AppState::runHeartbeatLoop(QPointer<AppState> self, QUuid sessionId,
                                             quint64 generation,
                                             std::shared_ptr<CancelToken> cancel,
                                             std::chrono::milliseconds interval) {
    while (self && !cancel->isCancelled()) {
        // Ended early by the token: a stopped loop does not linger.
        co_await sleepUnlessCancelled(self->m_deps.sleep(interval), cancel);
        if (!self || cancel->isCancelled()) {
            co_return;
        }
        co_await runConnectionHeartbeat(self, sessionId, generation);
    }
}

QCoro::Task<void> AppState::runConnectionHeartbeat(QPointer<AppState> self, QUuid sessionId,
                                                   quint64 generation) {
    // A disconnect, sign-out or exit moves the generation at once, before its take-down ends.
    auto current = [&self, &sessionId, generation] {
        return self && !self->flowStopped(generation) &&
               self->m_connectionSessionId == sessionId;
    };
    // A reload or proxy switch under way changes the connection beneath the probe: its
    // verdict would be about neither.
    ConnectionFlows* flows = self ? self->m_flows : nullptr;
    if (!current() || self->m_connectionState.stateCase() != ConnectionState::Case::connected ||
        !flows->running() || flows->changesUnderWay() > 0) {
        co_return;
    }
    // Read at every pass: what the connection runs now, not what it was started with.
    const RunningConnection running = *flows->running();
    const Endpoint endpoint = running.endpoint;
    const Device device = running.device;
    const quint64 changesBegun = flows->changesBegun();
    auto stillSameNode = [&self, changesBegun] {
        return self->m_flows->changesBegun() == changesBegun;
    };
    const QString probe = QStringLiteral("background_probe");

    if (running.mode == TunnelActivation::Mode::networkExtension) {
        self->m_consecutiveHealthFailures = 0;
        self->recordConnectionState(
            probe, endpoint, QStringLiteral("OK"),
            QStringLiteral("当前为 Network Extension 模式，跳过本地代理端口保活，保持连接状态。"));
        co_await self->reportConnection(QStringLiteral("connected"), endpoint, device,
                                        std::nullopt);
        co_return;
    }

    TunnelHealthCheck check;
    try {
        check = co_await self->m_tunnel.connectionHealthCheck(
            self->m_localProxyPort, running.aiEnhancedModeEnabled, running.systemProxyEnabled);
    } catch (...) {
        check = TunnelHealthCheck{false, describeError(std::current_exception())};
    }
    // A disconnect, exit or sign-out during the probe ends the pass; so does a node pick,
    // whose reload the probe overlapped.
    if (!current() || !stillSameNode()) {
        co_return;
    }
    if (check.passed) {
        self->m_consecutiveHealthFailures = 0;
        self->recordConnectionState(probe, endpoint, QStringLiteral("OK"), check.summary);
        co_await self->reportConnection(QStringLiteral("connected"), endpoint, device,
                                        std::nullopt);
        co_return;
    }

    const int failures = ++self->m_consecutiveHealthFailures;
    self->recordConnectionState(probe, endpoint,
                                connectionReasonCode(QStringLiteral("failed"), check.summary),
                                check.summary);
    self->appendLog(QStringLiteral("连接保活异常（") + QString::number(failures) +
                    QStringLiteral("/2）：") + check.summary);
    co_await self->reportConnection(QStringLiteral("failed"), endpoint, device, check.summary);
    if (!current() || !stillSameNode()) {
        co_return;
    }
    if (isSystemProxyFailure(check.summary)) {
        // The connection ends here: whatever else of it still runs stops at its next step.
        self->m_flows->advance();
        self->stopConnectionHeartbeat();
        self->setConnectionState(ConnectionState::failed(check.summary));
        self->setConnectedAt(std::nullopt);
        self->setAIProxyReady(false);
        self->setCurrentConfigPath(
            QStringLiteral("系统代理未生效，Orvane 已停止当前连接状态。"));
        self->setAlertMessage(QStringLiteral("系统代理未生效，已尝试重新设置但仍为空。请允许 "
                                             "Orvane 修改系统代理后重新连接。"));
        co_await self->takeDownLostConnection();
        co_return;
    }
    if (failures >= kRecoveryThreshold) {
        self->spawn(recoverConnectionAfterHealthFailure(self, endpoint, device, check.summary,
                                                        generation));
    }
}

// --- Automatic recovery --------------------------------------------------------------------

QCoro::Task<void> AppState::recoverConnectionAfterHealthFailure(QPointer<AppState> self,
                                                                Endpoint endpoint, Device device,
                                                                QString reason,
                                                                quint64 generation) {
    if (!self || !self->m_token || self->m_flows->recovering() ||
        self->flowStopped(generation)) {
        co_return;
    }
    if (self->m_autoRecoverySwitchCount >= self->m_maxAutoRecoverySwitches) {
        self->appendLog(QStringLiteral(
            "连接保活异常，但本次连接已达到自动切线次数上限，请手动刷新或切换节点。"));
        co_return;
    }
    self->m_autoRecoverySwitchCount += 1;
    ConnectionFlows::Lease recovery = self->m_flows->beginRecovery();
    // The failing node is taken down: a change of its connection may no longer reach it.
    self->m_flows->endConnection();
    // A pick from here on is the user's: recovery leaves the selection to it.
    const quint64 picks = self->m_flows->picks();
    self->stopConnectionHeartbeat();
    self->recordEndpointFailure(endpoint, reason);
    self->recordConnectionState(QStringLiteral("fallback"), endpoint,
                                QStringLiteral("BACKGROUND_PROBE_FAILED"), reason);
    self->setConnectionState(ConnectionState::Case::repairing);
    self->setAIProxyReady(false);
    self->appendLog(QStringLiteral("正在自动修复连接，并切换到更稳定的节点。"));

    const QString token = *self->m_token;
    std::exception_ptr failure;
    try {
        co_await self->recoverThroughCandidates(endpoint, device, token, generation, picks);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    recovery.end();
    bool stopped = self->flowStopped(generation);
    if (failure && !stopped) {
        try {
            std::rethrow_exception(failure);
        } catch (const FlowStopped&) {
            stopped = true;
        } catch (...) {
        }
    }
    if (failure && !stopped) {
        std::rethrow_exception(failure);
    }
    if (!failure && !stopped) {
        // What the user chose while it ran applies now.
        co_await self->bringConnectionToChoices();
    }
}

QCoro::Task<void> AppState::recoverThroughCandidates(Endpoint failed, Device device, QString token,
                                                     quint64 generation, quint64 picks) {
    QPointer<AppState> self(this);
    auto stopCheck = [&self, this, generation] {
        if (!self || flowStopped(generation)) {
            throw FlowStopped{};
        }
    };
    co_await takeDownCounted();
    stopCheck();
    forgetRunningNode();
    QSet<QString> excluded;
    excluded.insert(failed.id);
    const QList<Endpoint> candidates = connectionCandidates(failed, excluded);

    QList<Endpoint> tried;
    std::exception_ptr lastError;
    for (const Endpoint& candidate : candidates) {
        tried.append(candidate);
        appendLog(QStringLiteral("自动恢复：正在尝试 ") + candidate.region + QLatin1Char(' ') +
                  candidate.name + QStringLiteral("。"));
        recordConnectionState(QStringLiteral("fallback"), candidate, QStringLiteral("OK"),
                              QStringLiteral("自动恢复尝试备用节点。"));
        std::optional<ProtocolConfiguration> configuration;
        StartedNode started;
        const OutboundMode requestedMode = m_outboundMode;
        std::exception_ptr failure;
        try {
            configuration = co_await generateProtocolConfig(candidate, device, token);
            started = co_await startNode(*configuration, requestedMode, generation);
        } catch (...) {
            failure = std::current_exception();
        }
        const TunnelActivation& activation = started.activation;
        if (!failure) {
            recordNodeStarted(started, candidate, device, picks);
            setCurrentConfigPath(
                QStringLiteral("协议配置已安全写入本机，临时文件会在连接成功后清理。"));
            setConnectedAt(m_deps.wallClock());
            setConnectionState(ConnectionState::Case::connected);
            recordEndpointSuccess(candidate);
            cacheProtocolConfiguration(*configuration, candidate, device);
            recordConnectionState(QStringLiteral("connected"), candidate, QStringLiteral("OK"),
                                  QStringLiteral("自动恢复连接成功。"));
            co_await reportConnection(QStringLiteral("connected"), candidate, device,
                                      std::nullopt);
            stopCheck();
            for (const QString& note : activation.recoveryNotes) {
                appendLog(note);
            }
            appendLog(QStringLiteral("已自动切换到 ") + candidate.region + QLatin1Char(' ') +
                      candidate.name + QStringLiteral("。"));
            startConnectionHeartbeat();
            try {
                co_await syncDevices(token);
            } catch (...) {
                // Ignored: the switch worked.
            }
            stopCheck();
            co_return;
        }
        try {
            std::rethrow_exception(failure);
        } catch (const FlowStopped&) {
            throw;
        } catch (...) {
        }
        // Stopped meanwhile: what the node met then is no failure of the node.
        stopCheck();
        lastError = failure;
        const QString description = describeError(failure);
        recordEndpointFailure(candidate, description);
        recordConnectionState(QStringLiteral("fallback"), candidate,
                              connectionReasonCode(QStringLiteral("failed"), description),
                              description);
        appendLog(QStringLiteral("自动恢复失败：") + candidate.region + QLatin1Char(' ') +
                  description);
        co_await reportConnection(QStringLiteral("failed"), candidate, device, description);
        stopCheck();
        co_await takeDownCounted();
        stopCheck();
        forgetRunningNode();
        if (!shouldTryNextEndpoint(failure)) {
            appendLog(QStringLiteral("检测到本机连接环境问题，已停止自动恢复。"));
            break;
        }
    }

    QStringList triedParts;
    for (const Endpoint& endpoint : tried) {
        triedParts << endpoint.region + QLatin1Char(' ') + protocolLabel(endpoint.preferredProtocol);
    }
    const QString message = QStringLiteral("已尝试 ") + triedParts.join(QStringLiteral("、")) +
                            QStringLiteral("，") +
                            (lastError ? describeError(lastError) : QStringLiteral("请稍后重试。"));
    // The broken connection is gone: nothing may still say it is up.
    stopConnectionHeartbeat();
    setConnectedAt(std::nullopt);
    setAIProxyReady(false);
    setConnectionState(ConnectionState::failed(QStringLiteral("自动恢复失败：") + message));
    co_await reportClientCrash(QStringLiteral("macos-auto-recovery"), message, recentLogText(12));
    stopCheck();
    present(message, QStringLiteral("自动恢复失败"));
}

} // namespace orvane
