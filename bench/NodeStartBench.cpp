// The node start against the stand-ins, timed. Its cost beyond the fixed 1.1 s survival wait
// of the sing-box start splits into the time the tools it runs take (lsof, networksetup, …,
// while at least one of them runs) and the rest, which is our own.

#include "AppFolders.h"
#include "CancelToken.h"
#include "ProcessRunner.h"
#include "StandinFixture.h"
#include "TunnelCoordinator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

ProtocolConfiguration node() {
    ProtocolConfiguration config;
    config.endpointId = QStringLiteral("hk-01");
    config.protocolKind = ProtocolKind::vless;
    config.singBoxConfig = JSONValue::parse(R"({
      "dns": {"servers": [{"tag": "cloudflare", "type": "https", "server": "1.1.1.1", "domain_resolver": "bootstrap"},
                          {"tag": "bootstrap", "type": "udp", "server": "8.8.8.8"}]},
      "outbounds": [{"type": "vless", "tag": "proxy", "server": "hk-01.nodes.orvane.invalid", "server_port": 443},
                    {"type": "direct", "tag": "direct"}, {"type": "block", "tag": "block"}],
      "route": {"final": "proxy"}})");
    return config;
}

constexpr double kSurvivalWaitMs = 1100.0;

struct Run {
    double beyondWaits; // wall time less the survival wait
    double tools;       // of that, while a tool ran
    qint64 toolRuns;
    double own() const { return beyondWaits - tools; }
};

double milliseconds(std::chrono::nanoseconds duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

QCoro::Task<std::vector<Run>> measure(TunnelCoordinator& coordinator, int runs) {
    std::vector<Run> measured;
    for (int i = 0; i < runs; ++i) {
        const ProcessRunner::Activity before = ProcessRunner::activity();
        QElapsedTimer clock;
        clock.start();
        co_await coordinator.connect(node(), OutboundMode::smart, false, true, false);
        const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const ProcessRunner::Activity after = ProcessRunner::activity();
        measured.push_back({wall - kSurvivalWaitMs, milliseconds(after.busy - before.busy),
                            after.runs - before.runs});
        co_await coordinator.disconnect();
        co_await sleepFor(std::chrono::milliseconds(200));
    }
    co_return measured;
}

template <typename Figure> void report(const char* what, std::vector<Run> runs, Figure figure) {
    std::sort(runs.begin(), runs.end(),
              [&](const Run& a, const Run& b) { return figure(a) < figure(b); });
    std::printf("  %-34s median %6.1f ms, best %6.1f ms, worst %6.1f ms\n", what,
                figure(runs[runs.size() / 2]), figure(runs.front()), figure(runs.back()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", data.path().toUtf8());
    test::StandinFixture fixture;

    httplib::Server web;
    web.Get("/generate_204", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    const int port = web.bind_to_any_port("127.0.0.1");
    std::thread server([&] { web.listen_after_bind(); });
    const QString probe = QStringLiteral("http://127.0.0.1:%1/generate_204").arg(port);

    ToolPaths tools = ToolPaths::platformDefaults();
    tools.networksetup = fixture.tool("networksetup");
    tools.scutil = fixture.tool("scutil");
    tools.osascript = fixture.tool("osascript");
    tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
    TunnelCoordinator coordinator(tools, {{probe, probe}, {probe, probe, probe, probe}});

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::vector<Run> measured = QCoro::waitFor(measure(coordinator, runs));
    web.stop();
    server.join();
    std::printf("node start, %d runs, %lld tool runs each:\n", runs,
                static_cast<long long>(measured.front().toolRuns));
    report("wall time less the survival wait", measured, [](const Run& r) { return r.beyondWaits; });
    report("of which tools ran", measured, [](const Run& r) { return r.tools; });
    report("of which our own", measured, [](const Run& r) { return r.own(); });
    return 0;
}
