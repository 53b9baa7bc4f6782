// The node start against the stand-ins, timed: our own overhead is the wall time of
// `TunnelCoordinator::connect` less the fixed 1.1 s survival wait of the sing-box start.

#include "AppFolders.h"
#include "CancelToken.h"
#include "StandinFixture.h"
#include "TunnelCoordinator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
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

QCoro::Task<std::vector<double>> measure(TunnelCoordinator& coordinator, int runs) {
    std::vector<double> overheads;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        co_await coordinator.connect(node(), OutboundMode::smart, false, true, false);
        overheads.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - 1100.0);
        co_await coordinator.disconnect();
        co_await sleepFor(std::chrono::milliseconds(200));
    }
    co_return overheads;
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

    std::vector<double> overheads = QCoro::waitFor(measure(coordinator, 5));
    web.stop();
    server.join();
    std::sort(overheads.begin(), overheads.end());
    std::printf("node start overhead (wall time less the 1.1 s survival wait), 5 runs:\n");
    std::printf("  median %.1f ms, best %.1f ms, worst %.1f ms\n", overheads[2], overheads[0],
                overheads[4]);
    return 0;
}
