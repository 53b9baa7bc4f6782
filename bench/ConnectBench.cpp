// The one-click connect against the local service and the stand-ins, timed. Its wall time less
// the waits the flow prescribes (the configuration polls' waits are skipped, the sing-box start's
// 1.1 s survival wait is slept and taken off) splits into the tools' time (while at least one
// tool run is under way), HTTP (while at least one request to the service is on the wire: from
// the relay's accept or the request's first byte to the answer's last) and the rest, our own.

#include "AppState.h"
#include "CancelToken.h"
#include "DevService.h"
#include "EngineTunnel.h"
#include "IsolatedRuntimeProfile.h"
#include "OrvaneAPIClient.h"
#include "Preferences.h"
#include "ProcessRunner.h"
#include "StandinFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace orvane;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(std::chrono::nanoseconds duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

int loopbackSocket(int port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listening ? ::bind(fd, raw, sizeof address) == 0 && ::listen(fd, 16) == 0
                              : ::connect(fd, raw, sizeof address) == 0;
    if (!ok) {
        std::perror("relay socket");
        std::exit(1);
    }
    return fd;
}

// A loopback relay in front of the service that notes when each request starts and its answer
// ends. The service client knows nothing of it; the extra hop costs a few microseconds.
class TimedRelay {
public:
    explicit TimedRelay(int target) : m_target(target), m_listener(loopbackSocket(0, true)) {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &length);
        m_port = ntohs(bound.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TimedRelay() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }

    int port() const { return m_port; }
    // The wall time since `from` during which at least one exchange was under way.
    std::chrono::nanoseconds busySince(Clock::time_point from) const {
        std::lock_guard lock(m_mutex);
        std::vector<std::pair<Clock::time_point, Clock::time_point>> spans;
        for (const auto& span : m_spans) {
            if (span.second > from) {
                spans.emplace_back(std::max(span.first, from), span.second);
            }
        }
        std::sort(spans.begin(), spans.end());
        std::chrono::nanoseconds busy{0};
        Clock::time_point reached = from;
        for (const auto& [start, end] : spans) {
            const Clock::time_point begin = std::max(start, reached);
            if (end > begin) {
                busy += end - begin;
                reached = end;
            }
        }
        return busy;
    }
    qint64 exchangesSince(Clock::time_point from) const {
        std::lock_guard lock(m_mutex);
        return std::count_if(m_spans.begin(), m_spans.end(),
                             [from](const auto& span) { return span.first >= from; });
    }

private:
    struct Pair {
        int client;
        int upstream;
        bool answering = false; // the current exchange's answer has begun
        size_t span;            // index of the current exchange
    };

    void run() {
        std::map<int, Pair> pairs; // keyed by client socket
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
            for (const auto& [client, pair] : pairs) {
                fds.push_back({pair.client, POLLIN, 0});
                fds.push_back({pair.upstream, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 50) <= 0) {
                continue;
            }
            const int client = (fds[0].revents & POLLIN)
                                   ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)
                                   : -1;
            if (client >= 0) {
                std::lock_guard lock(m_mutex);
                m_spans.emplace_back(Clock::now(), Clock::now());
                pairs[client] =
                    Pair{client, loopbackSocket(m_target, false), false, m_spans.size() - 1};
            }
            for (size_t i = 1; i < fds.size(); i += 2) {
                Pair& pair = pairs.at(fds[i].fd);
                const bool fromClient = fds[i].revents != 0;
                const bool fromUpstream = fds[i + 1].revents != 0;
                if ((fromClient && !forward(pair, pair.client, pair.upstream)) ||
                    (fromUpstream && !forward(pair, pair.upstream, pair.client))) {
                    ::close(pair.client);
                    ::close(pair.upstream);
                    pairs.erase(fds[i].fd);
                }
            }
        }
        for (const auto& [client, pair] : pairs) {
            ::close(pair.client);
            ::close(pair.upstream);
        }
    }

    bool forward(Pair& pair, int from, int to) {
        char buffer[65536];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n <= 0 || ::send(to, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
            return false;
        }
        std::lock_guard lock(m_mutex);
        if (from == pair.upstream) {
            pair.answering = true;
            m_spans[pair.span].second = Clock::now();
        } else if (pair.answering) { // the next request on a kept connection
            pair.answering = false;
            m_spans.emplace_back(Clock::now(), Clock::now());
            pair.span = m_spans.size() - 1;
        }
        return true;
    }

    const int m_target;
    const int m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> m_spans;
    std::thread m_thread;
};

struct Waits {
    std::chrono::nanoseconds slept{0}; // sing-box's own waits, slept for real
    std::chrono::milliseconds skipped{0};
    int skippedCount = 0;
};

struct Run {
    double wall;
    double waits; // slept, taken off
    double tools;
    double http;
    qint64 toolRuns;
    qint64 requests;
    int pollWaits;
    double beyondWaits() const { return wall - waits; }
    double own() const { return beyondWaits() - tools - http; }
};

QCoro::Task<std::vector<Run>> measure(AppState& state, const TimedRelay& relay, Waits& waits,
                                      int runs) {
    std::vector<Run> measured;
    for (int i = 0; i < runs; ++i) {
        const Waits waitsBefore = waits;
        const ProcessRunner::Activity before = ProcessRunner::activity();
        const Clock::time_point start = Clock::now();
        QElapsedTimer clock;
        clock.start();
        co_await state.toggleConnection();
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const ProcessRunner::Activity after = ProcessRunner::activity();
        if (state.connectionState().stateCase() != ConnectionState::Case::connected) {
            std::fprintf(stderr, "connect failed: %s\n",
                         qPrintable(state.connectionState().message()));
            std::exit(1);
        }
        measured.push_back({wall, milliseconds(waits.slept - waitsBefore.slept),
                            milliseconds(after.busy - before.busy),
                            milliseconds(relay.busySince(start)), after.runs - before.runs,
                            relay.exchangesSince(start),
                            waits.skippedCount - waitsBefore.skippedCount});
        co_await state.toggleConnection(); // disconnect; the keep-alive ends with it
        co_await sleepFor(std::chrono::milliseconds(200));
    }
    co_return measured;
}

template <typename Figure> void report(const char* what, std::vector<Run> runs, Figure figure) {
    std::sort(runs.begin(), runs.end(),
              [&](const Run& a, const Run& b) { return figure(a) < figure(b); });
    std::printf("  %-34s median %7.1f ms, best %7.1f ms, worst %7.1f ms\n", what,
                figure(runs[runs.size() / 2]), figure(runs.front()), figure(runs.back()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        qputenv(variable, home.path().toUtf8());
    }
    test::StandinFixture fixture;
    dev::DevService service;
    service.start();
    TimedRelay relay(service.port());

    const QString probe = service.rootURL() + QStringLiteral("/generate_204");
    ToolPaths tools = ToolPaths::platformDefaults();
    tools.networksetup = fixture.tool("networksetup");
    tools.scutil = fixture.tool("scutil");
    tools.osascript = fixture.tool("osascript");
    tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
    auto coordinator = std::make_unique<TunnelCoordinator>(
        tools, TunnelCoordinator::ProbeURLs{{probe, probe}, {probe, probe, probe, probe}},
        test::isolatedRuntimeProfile(home.path()));
    TunnelCoordinator& engine = *coordinator;

    Waits waits;
    // The coordinator's own waits (probe retries, the proxy read-back) are skipped; sing-box's
    // are slept, or the stand-in would not be listening when the probes come.
    coordinator->setSleepFunction([&waits](std::chrono::milliseconds d) -> QCoro::Task<void> {
        waits.skipped += d;
        ++waits.skippedCount;
        co_return;
    });
    coordinator->singBox().setSleepFunction(
        [&waits](std::chrono::milliseconds d) -> QCoro::Task<void> {
            const Clock::time_point start = Clock::now();
            co_await sleepFor(d);
            waits.slept += Clock::now() - start;
        });

    // The keep-alive's long waits hold until the end.
    const auto longWaits = std::make_shared<CancelToken>();
    AppStateDependencies d;
    d.api = std::make_unique<OrvaneAPIClient>(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api").arg(relay.port())));
    d.tunnel = std::make_unique<EngineTunnel>(std::move(coordinator));
    d.preferences = std::make_shared<Preferences>();
    d.webBaseURL = QUrl(QStringLiteral("https://web.orvane.test"));
    d.wallClock = [] { return QDateTime::currentDateTimeUtc(); };
    d.monotonicClock = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
            .count();
    };
    d.sleep = [&waits, longWaits](std::chrono::milliseconds duration) -> QCoro::Task<void> {
        if (duration >= std::chrono::seconds(30)) {
            co_await sleepFor(std::chrono::hours(24), longWaits.get());
            co_return;
        }
        waits.skipped += duration;
        ++waits.skippedCount;
    };
    d.openURL = [](const QUrl&) { return true; };
    d.copyToClipboard = [](const QString&) {};
    d.setLaunchAtLogin = [](bool) {};
    d.isApplicationInstalled = [](const QString&) { return false; };
    d.hostName = [] { return QStringLiteral("Bench Mac"); };
    d.operatingSystemVersion = [] { return QStringLiteral("bench"); };
    d.sampleTraffic = [] { return NetworkTrafficSample{}; };
    d.startSpeedTimer = false;
    AppState state(std::move(d));
    QCoro::waitFor(state.login(QString::fromLatin1(dev::DevService::kDemoEmail),
                               QString::fromLatin1(dev::DevService::kDemoPassword)));
    if (!state.token()) {
        std::fprintf(stderr, "sign-in failed\n");
        return 1;
    }

    std::map<QString, int> toolRuns; // by name, over all runs
    ProcessRunner::setBeforeRun([&toolRuns](const QString& executable, const QStringList&) {
        ++toolRuns[executable.section(QLatin1Char('/'), -1)];
    });
    const int runs = argc > 1 ? std::max(2, std::atoi(argv[1])) : 9;
    const std::vector<Run> measured = QCoro::waitFor(measure(state, relay, waits, runs));
    ProcessRunner::setBeforeRun({});
    longWaits->cancel();
    if (const auto pid = engine.singBox().childPid()) {
        ::kill(static_cast<pid_t>(*pid), SIGKILL);
    }

    auto print = [](const char* title, const std::vector<Run>& set) {
        const Run& r = set.front();
        std::printf("%s (%lld tool runs, %lld requests, %d poll waits skipped):\n", title,
                    static_cast<long long>(r.toolRuns), static_cast<long long>(r.requests),
                    r.pollWaits);
        report("wall time", set, [](const Run& x) { return x.wall; });
        report("less the waits (sing-box's 1.1 s)", set,
               [](const Run& x) { return x.beyondWaits(); });
        report("of which tools ran", set, [](const Run& x) { return x.tools; });
        report("of which HTTP", set, [](const Run& x) { return x.http; });
        report("of which our own", set, [](const Run& x) { return x.own(); });
    };
    print("first connect: binds the device, polls until ready", {measured.front()});
    print("later connects", {measured.begin() + 1, measured.end()});
    std::printf("tool runs per connect and disconnect:");
    for (const auto& [name, count] : toolRuns) {
        std::printf(" %s %.1f", qPrintable(name), static_cast<double>(count) / runs);
    }
    std::printf("\n");
    return 0;
}
