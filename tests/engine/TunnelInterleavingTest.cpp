#include "CancelToken.h"
#include "ChildProcesses.h"
#include "IsolatedRuntimeProfile.h"
#include "ProcessRunner.h"
#include "RunTask.h"
#include "StandinFixture.h"
#include "TempHome.h"
#include "TunnelCoordinator.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

// The user's own settings; every kind has a server of its own, so a restore gives back exactly
// this. The third service is switched off and never touched.
const QJsonArray kUsersServices = QJsonDocument::fromJson(R"([
  {"name": "Wi-Fi", "disabled": false, "bypass": [],
   "web": {"enabled": false, "server": "old.proxy.test", "port": 8080, "authenticated": false},
   "secureWeb": {"enabled": false, "server": "old.proxy.test", "port": 8443, "authenticated": false},
   "socks": {"enabled": false, "server": "old.proxy.test", "port": 1080, "authenticated": false}},
  {"name": "Ethernet", "disabled": false, "bypass": ["*.corp.test"],
   "web": {"enabled": true, "server": "proxy.corp.test", "port": 3128, "authenticated": false},
   "secureWeb": {"enabled": true, "server": "proxy.corp.test", "port": 3128, "authenticated": false},
   "socks": {"enabled": false, "server": "socks.corp.test", "port": 1080, "authenticated": false}},
  {"name": "Bluetooth PAN", "disabled": true, "bypass": [],
   "web": {"enabled": false, "server": "", "port": 0, "authenticated": false},
   "secureWeb": {"enabled": false, "server": "", "port": 0, "authenticated": false},
   "socks": {"enabled": false, "server": "", "port": 0, "authenticated": false}}])")
                                      .array();

const QString kGone = QStringLiteral("连接已断开，本次操作已取消。");

enum class Op { connect, disconnect, cleanup, reload, keepAlive, switchOn };

// The sanitized build sweeps a sample, as each sanitized tool run costs many plain ones: the
// first arrival point of each phase of the running operation (a run of steps of one kind) and
// its last point. The plain build sweeps every point.
#ifdef ORVANE_INTERLEAVING_SAMPLE
constexpr bool kSampled = true;
#else
constexpr bool kSampled = false;
#endif

struct Interleaving {
    const char* name;
    Op running;
    Op arriving;         // just before one of the running operation's tool runs or waits
    QString runningSays; // its error, health summary or notes
    int points;          // the running operation's tool runs and waits: one arrival point each
    int sampled;         // the points of the sample
    int slices;          // the sweep is cut into this many test entries, to run side by side
    int sampledSlices;   // and the sample into this many

    int entries() const { return kSampled ? sampledSlices : slices; }
};

// Every entries()-th point of the sweep of one pair, starting at `slice`.
struct Slice {
    Interleaving pair;
    int slice;
};

void PrintTo(const Slice& slice, std::ostream* os) {
    *os << slice.pair.name << ' ' << slice.slice + 1 << '/' << slice.pair.entries();
}

// About four arrival points an entry, two in the sanitized build: each entry stays short on a
// loaded machine. The points are counted here, not only measured, so that an entry whose
// operation gained or lost a step fails instead of leaving points of the pair unswept.
const Interleaving kPairs[] = {
    {"ConnectThenDisconnect", Op::connect, Op::disconnect, kGone, 42, 11, 11, 6},
    {"ConnectThenCleanup", Op::connect, Op::cleanup, kGone, 42, 11, 11, 6},
    {"ReloadThenDisconnect", Op::reload, Op::disconnect, kGone, 21, 8, 6, 4},
    {"KeepAliveThenDisconnect", Op::keepAlive, Op::disconnect, kGone, 21, 8, 6, 4},
    {"SwitchOnThenDisconnect", Op::switchOn, Op::disconnect, {}, 18, 5, 5, 3},
    {"DisconnectThenKeepAlive", Op::disconnect, Op::keepAlive, {}, 21, 3, 6, 2},
};

std::vector<Slice> allSlices() {
    std::vector<Slice> slices;
    for (const Interleaving& pair : kPairs) {
        for (int slice = 0; slice < pair.entries(); ++slice) {
            slices.push_back({pair, slice});
        }
    }
    return slices;
}

// The arrival points to sweep, 1-based, from the kind of each step of the running operation.
QList<int> pointsToSweep(const QStringList& kinds) {
    QList<int> points;
    for (int n = 1; n <= kinds.size(); ++n) {
        if (!kSampled || n == 1 || kinds[n - 1] != kinds[n - 2] || n == kinds.size()) {
            points << n;
        }
    }
    return points;
}

QCoro::Task<void> noWait() {
    co_return;
}

// The engine against the stand-ins, waits instant: networksetup, scutil and lsof are stand-ins,
// curl and netstat scripted, sing-box a real stand-in on this process's own ports.
class TunnelInterleavingTest : public ::testing::TestWithParam<Slice> {
protected:
    TunnelInterleavingTest() {
        // A step's kind: its tool, networksetup's reads and changes apart, or a wait.
        ProcessRunner::setBeforeRun([this](const QString& program, const QStringList& arguments) {
            const QString tool = QFileInfo(program).fileName();
            const bool changes = arguments.value(0).startsWith(QLatin1String("-set"));
            step(tool == QLatin1String("networksetup") && changes ? tool + QLatin1String(" -set")
                                                                  : tool);
        });
    }
    ~TunnelInterleavingTest() override {
        ProcessRunner::setBeforeRun({});
        reset();
    }

    // Every tool run and wait is a step; `arrive` runs just before the nth from now on.
    void arm(int n, std::function<void()> arrive) {
        m_steps = 0;
        m_kinds.clear();
        m_left = n;
        m_arrive = std::move(arrive);
    }
    void step(const QString& kind) {
        ++m_steps;
        m_kinds << kind;
        if (m_left > 0 && --m_left == 0) {
            std::exchange(m_arrive, {})();
        }
    }

    // A fresh coordinator and the user's own network; connected unless the connect is the
    // operation under test.
    void prepare(Op running) {
        reset();
        fixture.writeNetwork({{"services", kUsersServices}});
        fixture.writeProcesses({{"processes", QJsonObject{}}});
        fixture.writeRules({QJsonObject{{"tool", "curl"}, {"stdout", "204"}},
                            QJsonObject{{"tool", "netstat"}, {"stdout", ""}}});
        ToolPaths tools = ToolPaths::platformDefaults(); // ps and kill reach only our child
        tools.networksetup = fixture.tool("networksetup");
        tools.scutil = fixture.tool("scutil");
        tools.osascript = fixture.tool("osascript");
        tools.lsof = fixture.tool("lsof");
        tools.curl = fixture.tool("curl");
        tools.netstat = fixture.tool("netstat");
        tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
        const QString probe = QStringLiteral("http://127.0.0.1:9/generate_204");
        RuntimeProfile profile = test::isolatedRuntimeProfile(home.root());
        profile.proxyPortCount = 2; // fewer sweeps to repeat; the range's size changes no order
        coordinator = std::make_unique<TunnelCoordinator>(
            tools, TunnelCoordinator::ProbeURLs{{probe, probe}, {probe, probe, probe, probe}},
            profile);
        auto instant = [this](std::chrono::milliseconds) {
            step(QStringLiteral("wait"));
            return noWait();
        };
        coordinator->setSleepFunction(instant);
        coordinator->singBox().setSleepFunction(instant);
        arm(0, {});
        if (running != Op::connect) {
            ASSERT_EQ(test::runTask(perform(Op::connect)), QString());
        }
        if (running == Op::keepAlive) { // the pass finds the proxy lost and sets it again
            QJsonObject network = fixture.readNetwork();
            network["knobs"] = QJsonObject{{"scutilStaleCalls", 1}};
            fixture.writeNetwork(network);
        }
        arm(0, {});
    }

    QCoro::Task<QString> perform(Op op) {
        const int port = coordinator->activeProxyPort.value_or(coordinator->macOSProxyPort);
        QString said;
        try {
            if (op == Op::connect) {
                const TunnelActivation activation =
                    co_await coordinator->connect(node(), OutboundMode::smart, false, true, false);
            } else if (op == Op::disconnect) {
                co_await coordinator->disconnect();
            } else if (op == Op::cleanup) {
                co_await coordinator->cleanupRuntimeArtifacts(false);
            } else if (op == Op::reload) {
                co_await coordinator->reload(node(), OutboundMode::global, false, true);
            } else if (op == Op::keepAlive) {
                const TunnelHealthCheck check =
                    co_await coordinator->connectionHealthCheck(port, false, true);
                said = check.summary;
            } else {
                const QStringList notes = co_await coordinator->setSystemProxyEnabled(true, port);
                said = notes.join(QLatin1Char(' '));
            }
        } catch (const LocalizedError& e) {
            said = e.localizedDescription();
        }
        co_return said;
    }

    static ProtocolConfiguration node() {
        ProtocolConfiguration config;
        config.singBoxConfig = JSONValue::parse(R"({
          "inbounds": [{"type": "mixed", "tag": "in", "listen": "127.0.0.1", "listen_port": 2080}],
          "outbounds": [{"type": "direct", "tag": "proxy"}], "route": {"final": "proxy"}})");
        return config;
    }

    // Sing-box processes this test started that are still in the process table.
    QList<pid_t> ourSingBoxes() const {
        QList<pid_t> found;
        for (const pid_t pid : test::processesMentioning(home.root())) {
            if (test::commandLineOf(pid).contains("sing-box")) {
                found << pid;
            }
        }
        return found;
    }

    // Either a connection is recorded, our sing-box runs and every service points at it, or
    // nothing is recorded, no sing-box of ours runs and every service is the user's own again.
    void expectConnectedOrNothingLeft() {
        const QJsonArray services = fixture.readNetwork().value("services").toArray();
        if (!coordinator->activeConfigURL) {
            EXPECT_FALSE(coordinator->singBox().isChildRunning());
            EXPECT_TRUE(test::untilProcessCount([this] { return ourSingBoxes(); }, 0));
            EXPECT_EQ(services, kUsersServices);
            return;
        }
        EXPECT_EQ(coordinator->activeMode, TunnelActivation::Mode::singBox);
        EXPECT_TRUE(coordinator->singBox().isChildRunning());
        const QJsonObject ours{{"enabled", true},
                               {"server", "127.0.0.1"},
                               {"port", *coordinator->activeProxyPort},
                               {"authenticated", false}};
        for (const QJsonValue& service : services) {
            for (const char* kind : {"web", "secureWeb", "socks"}) {
                const bool off = service.toObject().value("disabled").toBool();
                EXPECT_TRUE(off || service.toObject().value(kind).toObject() == ours) << kind;
            }
        }
    }

    void reset() {
        if (coordinator) {
            test::endOwnChildren();
            coordinator.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    test::TempHome home;
    test::StandinFixture fixture;
    std::unique_ptr<TunnelCoordinator> coordinator;
    int m_steps = 0;
    QStringList m_kinds; // of each step since arm(), in order
    int m_left = 0;
    std::function<void()> m_arrive;
};

} // namespace

TEST_P(TunnelInterleavingTest, EndsConnectedOrWithNothingLeftBehind) {
    const Interleaving& interleaving = GetParam().pair;
    prepare(interleaving.running);
    const qint64 runsBefore = ProcessRunner::activity().runs;
    test::runTask(perform(interleaving.running));
    const int total = m_steps;
    const QStringList kinds = m_kinds;
    const QList<int> points = pointsToSweep(kinds);
    const qint64 toolRuns = ProcessRunner::activity().runs - runsBefore;
    ASSERT_EQ(total, interleaving.points)
        << interleaving.name << ": the running operation's steps changed; update its points "
        << "(and slices, for about four an entry)";
    ASSERT_EQ(points.size(), kSampled ? interleaving.sampled : interleaving.points)
        << interleaving.name << ": the running operation's phases changed; update its sample "
        << "(and sampled slices, for about two an entry)";

    const int entries = interleaving.entries();
    int swept = 0;
    for (qsizetype i = GetParam().slice; i < points.size() && !HasFailure(); i += entries) {
        const int n = points[i];
        SCOPED_TRACE(testing::Message() << "arriving at step " << n << " of " << total << " ("
                                        << kinds[n - 1].toStdString() << ")");
        prepare(interleaving.running);
        std::optional<QCoro::Task<QString>> arriving;
        arm(n, [&] { arriving.emplace(perform(interleaving.arriving)); });
        EXPECT_EQ(test::runTask(perform(interleaving.running)), interleaving.runningSays);
        ASSERT_TRUE(arriving.has_value());
        test::runTask(std::move(*arriving));
        expectConnectedOrNothingLeft();
        ++swept;
    }
    // Every entries()-th point from this entry's own: together the entries sweep each once.
    const qsizetype share = (points.size() - GetParam().slice + entries - 1) / entries;
    if (!HasFailure()) {
        EXPECT_EQ(swept, share);
    }
    std::cout << interleaving.name << ": " << swept << " of " << points.size() << " points swept, "
              << total << " steps (" << toolRuns << " tool runs, " << total - toolRuns
              << " waits)\n";
}

INSTANTIATE_TEST_SUITE_P(Pairs, TunnelInterleavingTest, ::testing::ValuesIn(allSlices()),
                         [](const testing::TestParamInfo<Slice>& param) {
                             return std::string(param.param.pair.name) + "_" +
                                    std::to_string(param.param.slice + 1) + "of" +
                                    std::to_string(param.param.pair.entries());
                         });
