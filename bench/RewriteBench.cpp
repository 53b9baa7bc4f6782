// Times the sing-box configuration rewrite on a large node configuration: the first pass
// rewrites it, the second feeds that output back and must change nothing.

#include "JSONValue.h"
#include "SingBoxConfigRewriter.h"
#include "StateEnumerations.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace orvane;

namespace {

constexpr int kRuleCount = 2000;
constexpr int kProxyPort = 19090;
constexpr int kAIProxyPort = 19110;

const QStringList& aiSuffixes() {
    static const QStringList list{
        QStringLiteral("ai-one.example"),         QStringLiteral("chat.ai-one.example"),
        QStringLiteral("static.ai-one.example"),  QStringLiteral("user.ai-one.example"),
        QStringLiteral("api.ai-one-cdn.example"), QStringLiteral("ai-two.example"),
        QStringLiteral("chat.ai-two.example"),    QStringLiteral("flags.example"),
        QStringLiteral("events.example"),         QStringLiteral("errors.example")};
    return list;
}

// A node configuration of about 1 MB: its own inbound, a few outbounds and many rules bound
// to that inbound, so the rewrite rebinds every one of them.
QByteArray nodeConfiguration() {
    JSONValue::Array rules;
    rules.reserve(kRuleCount);
    for (int i = 0; i < kRuleCount; ++i) {
        JSONValue::Array domains;
        for (int d = 0; d < 14; ++d) {
            domains.emplace_back(QStringLiteral("host-%1-%2.service-zone.example").arg(i).arg(d));
        }
        JSONValue::Object rule{{QStringLiteral("inbound"), QStringLiteral("node-in")},
                               {QStringLiteral("domain_suffix"), std::move(domains)},
                               {QStringLiteral("outbound"), i % 3 == 0 ? "direct" : "proxy"}};
        if (i % 4 == 0) {
            rule.emplace(QStringLiteral("ip_cidr"),
                         JSONValue::Array{QStringLiteral("10.%1.0.0/16").arg(i % 256)});
        }
        rules.emplace_back(std::move(rule));
    }
    JSONValue::Array outbounds{
        JSONValue::Object{{QStringLiteral("type"), "vless"},
                          {QStringLiteral("tag"), "proxy"},
                          {QStringLiteral("server"), "203.0.113.7"},
                          {QStringLiteral("server_port"), 443},
                          {QStringLiteral("uuid"), "6c1f0e9a-3b1d-4f7e-9d4b-0f3c2a1b5e6d"}},
        JSONValue::Object{{QStringLiteral("type"), "block"}, {QStringLiteral("tag"), "block"}}};
    JSONValue::Array inbounds{
        JSONValue::Object{{QStringLiteral("type"), "tun"}, {QStringLiteral("tag"), "node-in"}}};
    JSONValue::Object route{{QStringLiteral("rules"), std::move(rules)},
                            {QStringLiteral("final"), "proxy"}};
    JSONValue::Object config{{QStringLiteral("log"), JSONValue::Object{{"level", "warn"}}},
                             {QStringLiteral("inbounds"), std::move(inbounds)},
                             {QStringLiteral("outbounds"), std::move(outbounds)},
                             {QStringLiteral("route"), std::move(route)}};
    return JSONValue(std::move(config)).toJson();
}

struct Figures {
    double median;
    double best;
};

Figures timeRuns(int runs, const std::function<void()>& body) {
    // A few untimed runs first, so the allocator's first growth is not measured.
    for (int i = 0; i < 3; ++i) {
        body();
    }
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

QByteArray rewrite(const QByteArray& source, bool ai) {
    return SingBoxConfigRewriter::rewrite(source, OutboundMode::smart, kProxyPort, ai, kAIProxyPort,
                                          aiSuffixes());
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const QByteArray source = nodeConfiguration();
    std::printf("configuration: %.2f MB, %d route rules, %d runs per figure\n",
                static_cast<double>(source.size()) / (1024.0 * 1024.0), kRuleCount, runs);

    for (const bool ai : {false, true}) {
        const QByteArray first = rewrite(source, ai);
        const QByteArray second = rewrite(first, ai);
        if (first == source || second != first) {
            std::fprintf(stderr, "unexpected rewrite result (AI %s)\n", ai ? "on" : "off");
            return 1;
        }
        volatile qsizetype sink = 0;
        const Figures changing = timeRuns(runs, [&] { sink = sink + rewrite(source, ai).size(); });
        const Figures idempotent = timeRuns(runs, [&] { sink = sink + rewrite(first, ai).size(); });
        std::printf("AI %-3s changing pass:   median %7.2f ms, best %7.2f ms (output %.2f MB)\n",
                    ai ? "on" : "off", changing.median, changing.best,
                    static_cast<double>(first.size()) / (1024.0 * 1024.0));
        std::printf("AI %-3s idempotent pass: median %7.2f ms, best %7.2f ms\n", ai ? "on" : "off",
                    idempotent.median, idempotent.best);
    }
    return 0;
}
