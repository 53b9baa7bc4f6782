#include "CancelToken.h"
#include "IsolatedRuntimeProfile.h"
#include "LocalizedError.h"
#include "ProcessRunner.h"
#include "RunTask.h"
#include "StandinFixture.h"
#include "TempHome.h"
#include "TunnelCoordinator.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>
#include <utility>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

const QString kGone = QStringLiteral("连接已断开，本次操作已取消。");

QJsonObject proxy(bool enabled, const char* server, int port) {
    return {{"enabled", enabled}, {"server", server}, {"port", port}, {"authenticated", false}};
}

// The user's own settings. Every kind has a server of its own, so a restore gives back exactly
// this; the third service is switched off and never touched.
QJsonArray usersServices() {
    QJsonArray services = test::StandinFixture::defaultNetwork().value("services").toArray();
    QJsonObject wifi = services[0].toObject();
    wifi["web"] = proxy(false, "old.proxy.test", 8080);
    wifi["secureWeb"] = proxy(false, "old.proxy.test", 8443);
    wifi["socks"] = proxy(false, "old.proxy.test", 1080);
    QJsonObject ethernet = services[1].toObject();
    ethernet["web"] = proxy(true, "proxy.corp.test", 3128);
    ethernet["secureWeb"] = proxy(true, "proxy.corp.test", 3128);
    ethernet["socks"] = proxy(false, "socks.corp.test", 1080);
    ethernet["bypass"] = QJsonArray{"*.corp.test"};
    services[0] = wifi;
    services[1] = ethernet;
    return services;
}

ProtocolConfiguration node() {
    ProtocolConfiguration config;
    config.endpointId = QStringLiteral("hk-01");
    config.protocolKind = ProtocolKind::vless;
    config.singBoxConfig = JSONValue::parse(R"({
      "inbounds": [{"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": 2080}],
      "outbounds": [{"type": "vless", "tag": "proxy", "server": "hk-01.nodes.orvane.invalid", "server_port": 443},
                    {"type": "direct", "tag": "direct"}],
      "route": {"final": "proxy"}})");
    return config;
}

QCoro::Task<void> noWait() {
    co_return;
}

enum class Op { connect, disconnect, cleanup, reload, keepAlive, switchOn };

struct Interleaving {
    const char* name;
    Op running;
    Op arriving;         // just before one of the running operation's tool runs or waits
    QString runningSays; // its error, health summary or notes
};

void PrintTo(const Interleaving& interleaving, std::ostream* os) {
    *os << interleaving.name;
}

// Every tool run and every wait of the engine is a step; `arm(n, …)` runs code just before the
// nth step from now on, once.
class Steps {
public:
    Steps() {
        ProcessRunner::setBeforeRun([this](const QString&, const QStringList&) { step(); });
    }
    ~Steps() { ProcessRunner::setBeforeRun({}); }
    Steps(const Steps&) = delete;
    Steps& operator=(const Steps&) = delete;

    void arm(int n, std::function<void()> arrive) {
        m_taken = 0;
        m_left = n;
        m_arrive = std::move(arrive);
    }
    int taken() const { return m_taken; }
    TunnelCoordinator::SleepFunction sleep() {
        return [this](std::chrono::milliseconds) {
            step();
            return noWait();
        };
    }

private:
    void step() {
        ++m_taken;
        if (m_left > 0 && --m_left == 0) {
            std::exchange(m_arrive, {})();
        }
    }

    int m_taken = 0;
    int m_left = 0;
    std::function<void()> m_arrive;
};

// The engine against the stand-ins with instant waits: the system proxy in the networksetup
// stand-in, a real sing-box stand-in on this process's own ports, scripted curl and netstat.
class TunnelInterleavingTest : public ::testing::TestWithParam<Interleaving> {
protected:
    ~TunnelInterleavingTest() override { reset(); }

    // A fresh coordinator and the user's own network; connected unless `connect` runs first.
    void prepare(Op running) {
        reset();
        fixture.writeNetwork(QJsonObject{{"services", usersServices()}});
        fixture.writeProcesses(QJsonObject{{"processes", QJsonObject{}}});
        fixture.writeRules(QJsonArray{QJsonObject{{"tool", "curl"}, {"stdout", "204"}},
                                      QJsonObject{{"tool", "netstat"}, {"stdout", ""}}});
        ToolPaths tools = ToolPaths::platformDefaults(); // ps and kill reach our own sing-box
        for (auto [field, name] :
             {std::pair{&ToolPaths::networksetup, "networksetup"},
              std::pair{&ToolPaths::scutil, "scutil"},
              std::pair{&ToolPaths::osascript, "osascript"}, std::pair{&ToolPaths::lsof, "lsof"},
              std::pair{&ToolPaths::curl, "curl"}, std::pair{&ToolPaths::netstat, "netstat"}}) {
            tools.*field = fixture.tool(name);
        }
        tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
        const QString probe = QStringLiteral("http://127.0.0.1:9/generate_204"); // curl is scripted
        coordinator = std::make_unique<TunnelCoordinator>(
            tools, TunnelCoordinator::ProbeURLs{{probe, probe}, {probe, probe, probe, probe}},
            test::isolatedRuntimeProfile(home.root()));
        coordinator->setSleepFunction(steps.sleep());
        coordinator->singBox().setSleepFunction(steps.sleep());
        steps.arm(0, {});
        if (running != Op::connect) {
            ASSERT_EQ(test::runTask(perform(Op::connect)), QString());
        }
        if (running == Op::keepAlive) {
            // The pass finds the system proxy lost and sets it again: many more steps.
            QJsonObject network = fixture.readNetwork();
            network["knobs"] = QJsonObject{{"scutilStaleCalls", 1}};
            fixture.writeNetwork(network);
        }
    }

    QCoro::Task<QString> perform(Op op) {
        QString said;
        try {
            switch (op) {
            case Op::connect: {
                const TunnelActivation activation =
                    co_await coordinator->connect(node(), OutboundMode::smart, false, true, false);
                break;
            }
            case Op::disconnect:
                co_await coordinator->disconnect();
                break;
            case Op::cleanup:
                co_await coordinator->cleanupRuntimeArtifacts(false);
                break;
            case Op::reload:
                co_await coordinator->reload(node(), OutboundMode::global, false, true);
                break;
            case Op::keepAlive: {
                const TunnelHealthCheck check =
                    co_await coordinator->connectionHealthCheck(port(), false, true);
                said = check.summary;
                break;
            }
            case Op::switchOn: {
                const QStringList notes = co_await coordinator->setSystemProxyEnabled(true, port());
                said = notes.join(QLatin1Char(' '));
                break;
            }
            }
        } catch (const LocalizedError& e) {
            said = e.localizedDescription();
        }
        co_return said;
    }

    int port() const { return coordinator->activeProxyPort.value_or(coordinator->macOSProxyPort); }

    // Sing-box processes started by this test that have not ended (zombies have no command
    // line), after giving them a moment to end.
    QStringList ourSingBoxes() {
        QStringList found;
        for (int wait = 0; wait < 100; ++wait) {
            found.clear();
            for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
                const QString command = file.open(QIODevice::ReadOnly)
                                            ? QString::fromUtf8(file.readAll().replace('\0', ' '))
                                            : QString();
                if (command.contains(QLatin1String("sing-box run")) &&
                    command.contains(home.root())) {
                    found << pid;
                }
            }
            if (found.isEmpty() || coordinator->singBox().isChildRunning()) {
                break;
            }
            test::runTask(sleepFor(50ms));
        }
        return found;
    }

    // Either a connection is recorded, our sing-box runs and every service points at it, or
    // nothing is recorded, no sing-box of ours runs and every service is the user's own again.
    void expectConnectedOrNothingLeft() {
        const QJsonArray services = fixture.readNetwork().value("services").toArray();
        if (coordinator->activeConfigURL) {
            EXPECT_EQ(coordinator->activeMode, TunnelActivation::Mode::singBox);
            EXPECT_TRUE(coordinator->singBox().isChildRunning());
            EXPECT_EQ(ourSingBoxes().size(), 1);
            const QJsonObject ours = proxy(true, "127.0.0.1", port());
            for (const QJsonValue& value : services) {
                const QJsonObject service = value.toObject();
                if (!service.value(QLatin1String("disabled")).toBool()) {
                    for (const char* kind : {"web", "secureWeb", "socks"}) {
                        EXPECT_EQ(service.value(QLatin1String(kind)).toObject(), ours) << kind;
                    }
                }
            }
        } else {
            EXPECT_FALSE(coordinator->singBox().isChildRunning());
            EXPECT_EQ(ourSingBoxes(), QStringList());
            EXPECT_EQ(services, usersServices());
        }
    }

    void reset() {
        if (coordinator) {
            if (const auto pid = coordinator->singBox().childPid()) {
                ::kill(static_cast<pid_t>(*pid), SIGKILL);
            }
            coordinator.reset();
            // Lets the released sing-box QProcess see its child end and delete itself.
            test::runTask(sleepFor(100ms));
        }
    }

    test::TempHome home;
    test::StandinFixture fixture;
    Steps steps;
    std::unique_ptr<TunnelCoordinator> coordinator;
};

} // namespace

TEST_P(TunnelInterleavingTest, EndsConnectedOrWithNothingLeftBehind) {
    const Interleaving& interleaving = GetParam();
    prepare(interleaving.running);
    steps.arm(0, {});
    const qint64 runsBefore = ProcessRunner::activity().runs;
    test::runTask(perform(interleaving.running));
    const int total = steps.taken();
    const qint64 toolRuns = ProcessRunner::activity().runs - runsBefore;
    ASSERT_GT(total, 0);

    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE(testing::Message()
                     << interleaving.name << " at step " << n << " of " << total);
        prepare(interleaving.running);
        std::optional<QCoro::Task<QString>> arriving;
        steps.arm(n, [&] { arriving.emplace(perform(interleaving.arriving)); });
        EXPECT_EQ(test::runTask(perform(interleaving.running)), interleaving.runningSays);
        ASSERT_TRUE(arriving.has_value());
        test::runTask(std::move(*arriving));
        expectConnectedOrNothingLeft();
        if (HasFailure()) {
            break;
        }
    }
    std::cout << interleaving.name << ": " << total << " interleavings (" << toolRuns
              << " tool runs, " << total - toolRuns << " waits)\n";
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, TunnelInterleavingTest,
    ::testing::Values(
        Interleaving{"ConnectThenDisconnect", Op::connect, Op::disconnect, kGone},
        Interleaving{"ConnectThenCleanup", Op::connect, Op::cleanup, kGone},
        Interleaving{"ReloadThenDisconnect", Op::reload, Op::disconnect, kGone},
        Interleaving{"KeepAliveThenDisconnect", Op::keepAlive, Op::disconnect, kGone},
        Interleaving{"SwitchOnThenDisconnect", Op::switchOn, Op::disconnect, QString()},
        Interleaving{"DisconnectThenKeepAlive", Op::disconnect, Op::keepAlive, QString()}),
    [](const testing::TestParamInfo<Interleaving>& param) {
        return std::string(param.param.name);
    });
