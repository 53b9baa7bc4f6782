#pragma once

#include "OneShotEvent.h"
#include "OrvaneRuntimeError.h"
#include "RunTask.h"
#include "StateFixture.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <memory>
#include <optional>

// Small steps the connection-flow tests share: a signed-in state, a keep-alive pass, held
// requests, node starts and proxy switches that wait for the test.
namespace orvane::test {

// Candidate order on the local service: hk-01 (selected), sg-01, hk-02, jp-01.
inline AppState& signedIn(StateFixture& f) {
    f.preferences->setString(QStringLiteral("orvane.sessionToken"), f.service.demoToken());
    AppState& state = f.makeState();
    runTask(state.bootstrap());
    return state;
}

// Wakes the keep-alive once and waits until a loop sleeps again with nothing else running.
inline bool runKeepAlivePass(StateFixture& f) {
    const int before = f.longSleepsStarted;
    f.releaseLongSleeps();
    return waitUntil(
        [&] { return f.longSleepsStarted > before && f.state->runningTaskCount() == 1; });
}

// Wakes the keep-alive once and waits until its loop sleeps again, whatever else still runs.
inline bool runKeepAlivePassBeside(StateFixture& f) {
    const int before = f.longSleepsStarted;
    f.releaseLongSleeps();
    return waitUntil([&] { return f.longSleepsStarted > before; });
}

// Lets queued work begin, then waits until only the keep-alive runs and the busy mark is off.
inline bool untilAtRest(StateFixture& f,
                        std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    for (int turn = 0; turn < 20; ++turn) {
        QCoreApplication::processEvents();
    }
    return waitUntil([&] { return f.state->runningTaskCount() == 1 && !f.state->isBusy(); },
                     limit);
}

// A state's case by name, for printouts.
inline QString stateName(ConnectionState::Case c) {
    using C = ConnectionState::Case;
    switch (c) {
    case C::disconnected:
        return QStringLiteral("disconnected");
    case C::preparing:
        return QStringLiteral("preparing");
    case C::configReady:
        return QStringLiteral("configReady");
    case C::connected:
        return QStringLiteral("connected");
    case C::disconnecting:
        return QStringLiteral("disconnecting");
    case C::repairing:
        return QStringLiteral("repairing");
    case C::failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("?");
}

inline Endpoint endpointWithId(const AppState& state, const QString& id) {
    for (const Endpoint& endpoint : state.endpoints()) {
        if (endpoint.id == id) {
            return endpoint;
        }
    }
    return {};
}

// A request answered only once the test releases it.
inline dev::DevService::Fault held(const char* method, const char* path) {
    dev::DevService::Fault fault;
    fault.method = QString::fromLatin1(method);
    fault.path = QString::fromLatin1(path);
    fault.kind = dev::DevService::FaultKind::hold;
    return fault;
}

// The configuration request of this machine's device, held once.
inline dev::DevService::Fault heldConfigRequest(const AppState& state) {
    dev::DevService::Fault fault;
    fault.method = QStringLiteral("POST");
    fault.path = QStringLiteral("/client/devices/") + state.currentDevice()->id +
                 QStringLiteral("/protocol-config");
    fault.kind = dev::DevService::FaultKind::hold;
    return fault;
}

inline QCoro::Task<TunnelHealthCheck> webCheckFails() {
    co_return TunnelHealthCheck{false, QStringLiteral("网页连通性检测失败。")};
}

inline QStringList reportLine(const QJsonObject& r) {
    return {r.value(QStringLiteral("status")).toString(),
            r.value(QStringLiteral("endpointId")).toString(),
            r.value(QStringLiteral("stateStage")).toString(),
            r.value(QStringLiteral("reasonCode")).toString()};
}

// Node starts that wait until the test lets them go.
struct HeldNodeStarts {
    explicit HeldNodeStarts(StateFixture& f) {
        f.tunnel->onConnect = [this](ProtocolConfiguration) -> QCoro::Task<TunnelActivation> {
            starting = true;
            co_await started.wait();
            TunnelActivation activation;
            activation.proxyPort = 19090;
            co_return activation;
        };
    }
    bool untilOneStarts() {
        return waitUntil([this] { return starting; });
    }
    void release() { started.set(); }

    OneShotEvent started;
    bool starting = false;
};

// The next system-proxy switch answers only once the test lets it, failing when told to;
// later ones at once.
struct HeldProxySwitch {
    explicit HeldProxySwitch(StateFixture& f) {
        f.tunnel->onSetSystemProxy = [this](bool, int) -> QCoro::Task<QStringList> {
            if (!switching) {
                switching = true;
                co_await answered.wait();
                if (failure) {
                    throw OrvaneRuntimeError::connectionFailed(*failure);
                }
            }
            co_return QStringList{};
        };
    }
    bool untilItSwitches() {
        return waitUntil([this] { return switching; });
    }
    void release() { answered.set(); }

    OneShotEvent answered;
    bool switching = false;
    std::optional<QString> failure;
};

} // namespace orvane::test
