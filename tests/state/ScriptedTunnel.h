#pragma once

#include "TunnelControl.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace orvane::test {

// A tunnel that records every call and answers as the test scripts it. Unscripted calls
// succeed: a connect records a running connection on the next free port. Like the real one,
// its health check fails when asked about an AI entry or a system proxy it does not run.
class ScriptedTunnel : public TunnelControl {
public:
    QStringList calls;
    // The choices each node start and each reload was handed.
    struct Choices {
        OutboundMode outboundMode;
        bool aiEnhancedModeEnabled;
        bool systemProxyEnabled;
    };
    QList<Choices> startedWith;
    QList<Choices> reloadedWith;
    std::optional<TunnelActivation::Mode> mode;
    std::optional<int> proxyPort;
    std::optional<int> aiPort;
    // What the last successful start, reload or proxy switch left running.
    bool runsAI = false;
    bool runsSystemProxy = false;

    std::function<QCoro::Task<TunnelActivation>(ProtocolConfiguration)> onConnect;
    std::function<QCoro::Task<TunnelHealthCheck>()> onHealthCheck;
    std::function<QCoro::Task<void>(ProtocolConfiguration)> onReload;
    std::function<QCoro::Task<QStringList>(bool, int)> onSetSystemProxy;
    std::function<QCoro::Task<void>()> onDisconnect;
    std::function<QCoro::Task<void>(bool)> onCleanup;

    int aiProxyPort() const override { return 19110; }
    std::optional<TunnelActivation::Mode> activeMode() const override { return mode; }
    std::optional<int> activeProxyPort() const override { return proxyPort; }
    std::optional<int> activeAIProxyPort() const override { return aiPort; }

    QCoro::Task<void> cleanupRuntimeArtifacts(bool allowProxyAuthorization) override {
        calls << QStringLiteral("cleanup(%1)").arg(allowProxyAuthorization);
        if (onCleanup) {
            co_await onCleanup(allowProxyAuthorization);
        }
        clear();
    }

    QCoro::Task<TunnelActivation> connect(ProtocolConfiguration configuration, OutboundMode outboundMode,
                                          bool aiEnhancedModeEnabled, bool systemProxyEnabled,
                                          bool quickStart) override {
        calls << QStringLiteral("connect(%1,%2)").arg(configuration.endpointId).arg(quickStart);
        startedWith.append({outboundMode, aiEnhancedModeEnabled, systemProxyEnabled});
        if (onConnect) {
            TunnelActivation scripted = co_await onConnect(configuration);
            record(scripted, aiEnhancedModeEnabled);
            runsSystemProxy = systemProxyEnabled;
            co_return scripted;
        }
        TunnelActivation activation;
        activation.mode = TunnelActivation::Mode::singBox;
        activation.configURL = QStringLiteral("/tmp/orvane-active.json");
        activation.proxyPort = 19090;
        record(activation, aiEnhancedModeEnabled);
        runsSystemProxy = systemProxyEnabled;
        co_return activation;
    }

    QCoro::Task<TunnelHealthCheck> connectionHealthCheck(int port, bool ai,
                                                         bool systemProxyEnabled) override {
        calls << QStringLiteral("health(%1)").arg(port);
        if (ai && !runsAI) {
            co_return TunnelHealthCheck{
                false, QStringLiteral("AI 专用入口 127.0.0.1:19110 OpenAI/Claude 保活失败。")};
        }
        if (systemProxyEnabled && !runsSystemProxy) {
            co_return TunnelHealthCheck{false, QStringLiteral("系统代理未生效。")};
        }
        if (onHealthCheck) {
            TunnelHealthCheck check = co_await onHealthCheck();
            co_return check;
        }
        co_return TunnelHealthCheck{true, QStringLiteral("连接正常")};
    }

    QCoro::Task<void> reload(ProtocolConfiguration configuration, OutboundMode outboundMode, bool ai,
                             bool systemProxyEnabled) override {
        calls << QStringLiteral("reload(%1)").arg(configuration.endpointId);
        reloadedWith.append({outboundMode, ai, systemProxyEnabled});
        if (onReload) {
            co_await onReload(configuration);
        }
        runsAI = ai;
        aiPort = ai ? std::optional(19110) : std::nullopt;
        runsSystemProxy = systemProxyEnabled;
    }

    QCoro::Task<QStringList> setSystemProxyEnabled(bool enabled, int port) override {
        calls << QStringLiteral("systemProxy(%1,%2)").arg(enabled).arg(port);
        if (onSetSystemProxy) {
            QStringList notes = co_await onSetSystemProxy(enabled, port);
            runsSystemProxy = enabled;
            co_return notes;
        }
        runsSystemProxy = enabled;
        co_return QStringList{};
    }

    QCoro::Task<void> disableLocalProxy(bool allowAuthorization) override {
        calls << QStringLiteral("disableLocalProxy(%1)").arg(allowAuthorization);
        co_return;
    }

    QCoro::Task<void> disconnect() override {
        calls << QStringLiteral("disconnect");
        if (onDisconnect) {
            co_await onDisconnect();
        }
        clear();
    }

private:
    void record(const TunnelActivation& activation, bool ai) {
        mode = activation.mode;
        proxyPort = activation.proxyPort;
        aiPort = ai ? std::optional(19110) : std::nullopt;
        runsAI = ai;
    }
    void clear() {
        mode.reset();
        proxyPort.reset();
        aiPort.reset();
        runsAI = false;
        runsSystemProxy = false;
    }
};

} // namespace orvane::test
