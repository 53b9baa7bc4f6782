#include "SingBoxConfigRewriter.h"
#include "DecodingError.h"
#include "JSONValue.h"
#include "OrvaneTrafficRules.h"
#include "ProtocolConfiguration.h"
#include "StateEnumerations.h"
#include "TunnelCoordinatorError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace orvane;

namespace {

using Rewriter = SingBoxConfigRewriter;

constexpr int kPort = 19095;
constexpr int kAIPort = 19110;

const QString P = QStringLiteral("orvane-system-proxy");
const QString A = QStringLiteral("orvane-ai-proxy");

const QStringList& aiSuffixes() {
    static const QStringList list{QStringLiteral("ai-one.example"),
                                  QStringLiteral("chat.ai-one.example"),
                                  QStringLiteral("ai-two.example")};
    return list;
}

QByteArray rewriteBytes(const QByteArray& source, OutboundMode mode = OutboundMode::smart,
                        bool ai = false) {
    return Rewriter::rewrite(source, mode, kPort, ai, kAIPort, aiSuffixes());
}

JSONValue rewritten(const char* source, OutboundMode mode = OutboundMode::smart, bool ai = false) {
    return JSONValue::parse(rewriteBytes(QByteArray(source), mode, ai));
}

JSONValue parsed(const char* text) {
    return JSONValue::parse(QByteArray(text));
}

std::string show(const JSONValue& value) {
    return value.toJson().toStdString();
}

const JSONValue& at(const JSONValue& value, const char* key) {
    const JSONValue* member = value.find(QString::fromLatin1(key));
    static const JSONValue missing(QStringLiteral("<missing>"));
    return member ? *member : missing;
}

const JSONValue::Array& rulesOf(const JSONValue& config) {
    return at(at(config, "route"), "rules").array();
}

JSONValue texts(const QStringList& list) {
    JSONValue::Array out;
    for (const QString& text : list) {
        out.emplace_back(text);
    }
    return out;
}

// The required rules spelled out by role, to compare whole lists with.
JSONValue sniff(const QString& inbound) {
    return JSONValue::Object{{QStringLiteral("inbound"), inbound},
                             {QStringLiteral("action"), "sniff"}};
}
JSONValue aiDomains(const QString& outbound) {
    return JSONValue::Object{{QStringLiteral("inbound"), JSONValue::Array{P, A}},
                             {QStringLiteral("domain_suffix"), texts(aiSuffixes())},
                             {QStringLiteral("outbound"), outbound}};
}
JSONValue domesticDomains(const QString& direct) {
    return JSONValue::Object{
        {QStringLiteral("inbound"), P},
        {QStringLiteral("domain_suffix"), texts(OrvaneTrafficRules::domesticDomainSuffixes())},
        {QStringLiteral("outbound"), direct}};
}
JSONValue domesticAddresses(const QString& direct) {
    return JSONValue::Object{
        {QStringLiteral("inbound"), P},
        {QStringLiteral("ip_cidr"), texts(OrvaneTrafficRules::directIPCIDRs())},
        {QStringLiteral("outbound"), direct}};
}
JSONValue aiEverything(const QString& outbound) {
    return JSONValue::Object{{QStringLiteral("inbound"), A},
                             {QStringLiteral("outbound"), outbound}};
}

// A node configuration as the service sends one: its own inbound, DNS without defaults, and
// rules bound to its inbound, behind two process rules.
const char* kNode = R"({
    "log": {"level": "warn"},
    "inbounds": [{"type": "tun", "tag": "tun-in", "interface_name": "utun9"}],
    "outbounds": [{"type": "vless", "tag": "proxy", "server": "203.0.113.7", "server_port": 443},
                  {"type": "block", "tag": "block"}],
    "dns": {"servers": [{"tag": "local", "type": "local"}]},
    "route": {
        "rules": [
            {"process_name": ["Game"], "outbound": "direct"},
            {"process_path": "/usr/bin/x", "outbound": "proxy"},
            {"inbound": "tun-in", "domain": ["example.org"], "outbound": "proxy"},
            {"inbound": ["tun-in", "other"], "port": 53, "action": "hijack-dns"},
            {"protocol": "bittorrent", "outbound": "block"}
        ],
        "rule_set": [{"tag": "geo", "type": "remote", "url": "https://rules.example/geo.srs"}],
        "final": "proxy"
    },
    "experimental": {"cache_file": {"enabled": true}}
})";

} // namespace

TEST(SingBoxConfigRewriterTest, RewritingTheOutputAgainChangesNoByte) {
    for (const OutboundMode mode :
         {OutboundMode::smart, OutboundMode::global, OutboundMode::direct}) {
        for (const bool ai : {false, true}) {
            const QByteArray first = rewriteBytes(kNode, mode, ai);
            const QByteArray second = rewriteBytes(first, mode, ai);
            EXPECT_NE(first, QByteArray(kNode));
            EXPECT_EQ(second.toStdString(), first.toStdString())
                << rawValue(mode).toStdString() << " AI " << ai;
            EXPECT_EQ(rewriteBytes(second, mode, ai), first);
        }
    }
    // Enhanced mode always rebuilds the route, and rebuilds it the same way.
    const QByteArray enhanced = rewriteBytes(kNode, OutboundMode::enhanced, true);
    EXPECT_EQ(rewriteBytes(enhanced, OutboundMode::enhanced, true), enhanced);
}

TEST(SingBoxConfigRewriterTest, NothingToChangeGivesBackTheVeryInputBytes) {
    // A conforming configuration in another layout: its own bytes come back, not a new text.
    const QByteArray compact = JSONValue::parse(rewriteBytes(kNode)).toJson();
    EXPECT_EQ(rewriteBytes(compact), compact);
    const QByteArray spaced = QByteArray(" \n") + compact + "\n";
    EXPECT_EQ(rewriteBytes(spaced), spaced);
    // Another port, mode or AI flag is a change.
    EXPECT_NE(
        Rewriter::rewrite(compact, OutboundMode::smart, kPort + 1, false, kAIPort, aiSuffixes()),
        compact);
    EXPECT_NE(rewriteBytes(compact, OutboundMode::smart, true), compact);
    EXPECT_NE(rewriteBytes(compact, OutboundMode::direct), compact);
}

TEST(SingBoxConfigRewriterTest, EachSingleDeviationIsRepaired) {
    const QByteArray canonical = rewriteBytes(kNode);
    const JSONValue conforming = JSONValue::parse(canonical);
    using Edit = std::function<void(JSONValue::Object&)>;
    const auto route = [](JSONValue::Object& c) -> JSONValue::Object& {
        return c[QStringLiteral("route")].object();
    };
    const std::pair<const char*, Edit> edits[] = {
        {"dns strategy missing",
         [](auto& c) { c[QStringLiteral("dns")].object().erase(QStringLiteral("strategy")); }},
        {"dns final missing",
         [](auto& c) { c[QStringLiteral("dns")].object().erase(QStringLiteral("final")); }},
        {"inbound port",
         [](auto& c) {
             c[QStringLiteral("inbounds")].array()[0].object()[QStringLiteral("listen_port")] =
                 JSONValue(19096);
         }},
        {"direct outbound missing",
         [](auto& c) { c[QStringLiteral("outbounds")].array().pop_back(); }},
        {"auto detect off",
         [&](auto& c) { route(c)[QStringLiteral("auto_detect_interface")] = JSONValue(false); }},
        {"resolver missing",
         [&](auto& c) { route(c).erase(QStringLiteral("default_domain_resolver")); }},
        {"final changed", [&](auto& c) { route(c)[QStringLiteral("final")] = JSONValue("block"); }},
        {"required rule missing",
         [&](auto& c) {
             auto& rules = route(c)[QStringLiteral("rules")].array();
             rules.erase(rules.begin() + 2); // the first after the process rules
         }},
        {"node rule bound elsewhere",
         [&](auto& c) {
             route(c)[QStringLiteral("rules")].array()[5].object()[QStringLiteral("inbound")] =
                 JSONValue("tun-in");
         }},
    };
    for (const auto& [label, edit] : edits) {
        JSONValue deviating = conforming;
        edit(deviating.object());
        const QByteArray source = deviating.toJson();
        EXPECT_EQ(rewriteBytes(source).toStdString(), canonical.toStdString()) << label;
    }
}

TEST(SingBoxConfigRewriterTest, WritesPrettySortedJSONAndKeepsUnknownKeys) {
    const QByteArray out = rewriteBytes(kNode);
    const JSONValue config = JSONValue::parse(out);
    EXPECT_EQ(out, config.toJson(JSONValue::Format::prettySorted));
    EXPECT_TRUE(out.startsWith("{\n  \"dns\" : {\n")) << out.left(40).constData();
    EXPECT_TRUE(out.contains("\"listen_port\" : 19095,")) << "ports stay integers";
    EXPECT_EQ(show(at(config, "log")), show(parsed(R"({"level":"warn"})")));
    EXPECT_EQ(show(at(config, "experimental")), show(parsed(R"({"cache_file":{"enabled":true}})")));
    EXPECT_EQ(
        show(at(at(config, "route"), "rule_set")),
        show(parsed(R"([{"tag":"geo","type":"remote","url":"https://rules.example/geo.srs"}])")));
    EXPECT_EQ(show(at(at(config, "outbounds").array().at(0), "server_port")), "443");
}

TEST(SingBoxConfigRewriterTest, ReplacesTheInbounds) {
    const JSONValue system =
        parsed(R"({"type":"mixed","tag":"orvane-system-proxy","listen":"127.0.0.1",
                                      "listen_port":19095,"set_system_proxy":false})");
    const JSONValue aiInbound =
        parsed(R"({"type":"mixed","tag":"orvane-ai-proxy","listen":"127.0.0.1",
                                         "listen_port":19110,"set_system_proxy":false})");
    EXPECT_EQ(show(at(rewritten(kNode), "inbounds")), show(JSONValue::Array{system}));
    EXPECT_EQ(show(at(rewritten(kNode, OutboundMode::global, true), "inbounds")),
              show(JSONValue::Array{system, aiInbound}));
    // Inbounds of another shape are replaced as well.
    EXPECT_EQ(show(at(rewritten(R"({"inbounds":{"tag":"x"}})"), "inbounds")),
              show(JSONValue::Array{system}));

    // AI off: nothing refers to the AI inbound.
    EXPECT_FALSE(rewriteBytes(kNode).contains("orvane-ai-proxy"));
    EXPECT_FALSE(rewriteBytes(kNode, OutboundMode::enhanced).contains("orvane-ai-proxy"));
}

TEST(SingBoxConfigRewriterTest, RequiredRulesAndFinalOutboundPerMode) {
    struct Case {
        OutboundMode mode;
        bool ai;
        std::vector<JSONValue> rules;
        const char* final;
    };
    const QString proxy = QStringLiteral("proxy");
    const QString direct = QStringLiteral("direct");
    const Case cases[] = {
        {OutboundMode::smart,
         false,
         {sniff(P), domesticDomains(direct), domesticAddresses(direct)},
         "proxy"},
        {OutboundMode::smart,
         true,
         {sniff(P), sniff(A), aiDomains(proxy), domesticDomains(direct), domesticAddresses(direct),
          aiEverything(proxy)},
         "proxy"},
        {OutboundMode::global, false, {sniff(P)}, "proxy"},
        {OutboundMode::global,
         true,
         {sniff(P), sniff(A), aiDomains(proxy), aiEverything(proxy)},
         "proxy"},
        {OutboundMode::direct,
         false,
         {sniff(P), domesticDomains(direct), domesticAddresses(direct)},
         "direct"},
        {OutboundMode::direct,
         true,
         {sniff(P), sniff(A), aiDomains(direct), domesticDomains(direct), domesticAddresses(direct),
          aiEverything(direct)},
         "direct"},
        {OutboundMode::enhanced,
         true,
         {sniff(P), sniff(A), aiDomains(proxy), domesticDomains(direct), domesticAddresses(direct),
          aiEverything(proxy)},
         "proxy"},
    };
    // Without a route the new route holds exactly the required rules.
    const char* noRoute =
        R"({"outbounds":[{"type":"vless","tag":"proxy"},{"type":"direct","tag":"direct"}]})";
    for (const Case& c : cases) {
        const JSONValue config = rewritten(noRoute, c.mode, c.ai);
        const std::string label = rawValue(c.mode).toStdString() + (c.ai ? " AI" : "");
        EXPECT_EQ(show(JSONValue(JSONValue::Array(rulesOf(config)))),
                  show(JSONValue(JSONValue::Array(c.rules.begin(), c.rules.end()))))
            << label;
        EXPECT_EQ(show(at(at(config, "route"), "final")), show(JSONValue(c.final))) << label;
        EXPECT_EQ(
            show(at(config, "route")),
            show(JSONValue(JSONValue::Object{
                {QStringLiteral("auto_detect_interface"), true},
                {QStringLiteral("default_domain_resolver"), parsed(R"({"server":"bootstrap"})")},
                {QStringLiteral("final"), c.final},
                {QStringLiteral("rules"), JSONValue::Array(c.rules.begin(), c.rules.end())}})))
            << label;
    }

    // In the node's own route the same rules go after its process rules.
    const JSONValue global = rewritten(kNode, OutboundMode::global);
    const auto& rules = rulesOf(global);
    EXPECT_EQ(rules.size(), 6u);
    for (const JSONValue& rule : rules) {
        EXPECT_EQ(rule.find(QStringLiteral("ip_cidr")), nullptr);
        EXPECT_EQ(rule.find(QStringLiteral("domain_suffix")), nullptr);
    }
}

TEST(SingBoxConfigRewriterTest, EnhancedModeDiscardsTheNodesRoute) {
    const JSONValue config = rewritten(kNode, OutboundMode::enhanced);
    const JSONValue& route = at(config, "route");
    EXPECT_EQ(route.object().size(), 4u);
    EXPECT_EQ(route.find(QStringLiteral("rule_set")), nullptr);
    EXPECT_EQ(show(JSONValue(JSONValue::Array(rulesOf(config)))),
              show(JSONValue::Array{sniff(P), domesticDomains(QStringLiteral("direct")),
                                    domesticAddresses(QStringLiteral("direct"))}));
    // A route of any shape is replaced in enhanced mode.
    EXPECT_EQ(at(at(rewritten(R"({"route":"x"})", OutboundMode::enhanced), "route"), "final"),
              JSONValue("direct"));
}

TEST(SingBoxConfigRewriterTest, MergesAfterLeadingProcessRulesAndRebindsTheNodesRules) {
    const JSONValue config = rewritten(kNode, OutboundMode::smart, true);
    const QString proxy = QStringLiteral("proxy");
    const QString direct = QStringLiteral("direct");
    const JSONValue expected = JSONValue::Array{
        parsed(R"({"process_name":["Game"],"outbound":"direct"})"),
        parsed(R"({"process_path":"/usr/bin/x","outbound":"proxy"})"),
        sniff(P),
        sniff(A),
        aiDomains(proxy),
        domesticDomains(direct),
        domesticAddresses(direct),
        aiEverything(proxy),
        parsed(R"({"inbound":"orvane-system-proxy","domain":["example.org"],"outbound":"proxy"})"),
        parsed(R"({"inbound":["orvane-system-proxy"],"port":53,"action":"hijack-dns"})"),
        parsed(R"({"protocol":"bittorrent","outbound":"block"})"),
    };
    EXPECT_EQ(show(JSONValue(JSONValue::Array(rulesOf(config)))), show(expected));
}

TEST(SingBoxConfigRewriterTest, NormalizesInboundsOfRules) {
    struct Case {
        const char* rule;
        const char* expected;
    };
    const Case cases[] = {
        {R"({"inbound":"tun-in","outbound":"x"})",
         R"({"inbound":"orvane-system-proxy","outbound":"x"})"},
        {R"({"inbound":["a","b"]})", R"({"inbound":["orvane-system-proxy"]})"},
        {R"({"inbound":[]})", R"({"inbound":["orvane-system-proxy"]})"},
        {R"({"inbound":["a","orvane-system-proxy"]})",
         R"({"inbound":["a","orvane-system-proxy"]})"},
        {R"({"inbound":"orvane-system-proxy"})", R"({"inbound":"orvane-system-proxy"})"},
        {R"({"outbound":"x"})", R"({"outbound":"x"})"},
        {R"({"inbound":5})", R"({"inbound":5})"},
        {R"({"inbound":["a",3]})", R"({"inbound":["a",3]})"},
        {R"({"inbound":null})", R"({"inbound":null})"},
    };
    JSONValue::Array rules;
    JSONValue::Array expected;
    for (const Case& c : cases) {
        rules.push_back(parsed(c.rule));
        expected.push_back(parsed(c.expected));
    }
    EXPECT_EQ(show(Rewriter::normalizedProxyRouteRules(rules, P)), show(expected));

    // Rules of the AI inbound stay bound to it while it is in use, and only then.
    const JSONValue::Array aiRules{parsed(R"({"inbound":"orvane-ai-proxy"})"),
                                   parsed(R"({"inbound":["orvane-ai-proxy"]})")};
    EXPECT_EQ(show(Rewriter::normalizedProxyRouteRules(aiRules, P, A)), show(aiRules));
    EXPECT_EQ(show(Rewriter::normalizedProxyRouteRules(aiRules, P)),
              show(JSONValue::Array{parsed(R"({"inbound":"orvane-system-proxy"})"),
                                    parsed(R"({"inbound":["orvane-system-proxy"]})")}));
}

TEST(SingBoxConfigRewriterTest, MergeKeepsPresentRulesInPlace) {
    const JSONValue r1 = parsed(R"({"r":1})");
    const JSONValue r2 = parsed(R"({"r":2})");
    const JSONValue r3 = parsed(R"({"r":3})");
    const JSONValue process = parsed(R"({"package_name":"x"})");
    const JSONValue nodeRule = parsed(R"({"n":1})");
    const JSONValue::Array required{r1, r2, r3};
    struct Case {
        const char* label;
        JSONValue::Array existing;
        JSONValue::Array expected;
    };
    const Case cases[] = {
        {"empty", {}, {r1, r2, r3}},
        {"no process rules", {nodeRule}, {r1, r2, r3, nodeRule}},
        {"after the leading run only",
         {process, nodeRule, process},
         {process, r1, r2, r3, nodeRule, process}},
        {"present rule stays where it was",
         {process, nodeRule, r2},
         {process, r1, r3, nodeRule, r2}},
        {"all present", {r3, nodeRule, r1, r2}, {r3, nodeRule, r1, r2}},
        {"process rule carrying a null",
         {parsed(R"({"process_name":null})"), nodeRule},
         {parsed(R"({"process_name":null})"), r1, r2, r3, nodeRule}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(Rewriter::mergeRequiredRules(required, c.existing)), show(c.expected))
            << c.label;
    }

    // An existing rule equal to the first required rule is not added twice.
    const JSONValue config = rewritten(R"({"route":{"rules":[{"a":1},
        {"inbound":"orvane-system-proxy","action":"sniff"}]}})");
    const auto& rules = rulesOf(config);
    EXPECT_EQ(std::count(rules.begin(), rules.end(), sniff(P)), 1);
    EXPECT_EQ(rules.back(), sniff(P));
    EXPECT_EQ(rules.size(), 4u);
}

TEST(SingBoxConfigRewriterTest, RouteDefaultsAndShapes) {
    const JSONValue kept = rewritten(R"({"route":{"auto_detect_interface":false,
        "default_domain_resolver":{"server":"local"},"final":"elsewhere","rules":[]}})");
    EXPECT_EQ(at(at(kept, "route"), "auto_detect_interface"), JSONValue(true));
    EXPECT_EQ(show(at(at(kept, "route"), "default_domain_resolver")),
              show(parsed(R"({"server":"local"})")));
    EXPECT_EQ(at(at(kept, "route"), "final"), JSONValue("direct"));

    // Rules of the wrong shape read as none: the route then holds just the required rules.
    for (const char* rules : {R"({"a":1})", "[1,2]", R"([{"a":1},"b"])", "null"}) {
        const QByteArray source = QByteArray(R"({"route":{"rules":)") + rules + "}}";
        const JSONValue config = JSONValue::parse(rewriteBytes(source, OutboundMode::global));
        EXPECT_EQ(show(JSONValue(JSONValue::Array(rulesOf(config)))),
                  show(JSONValue::Array{sniff(P)}))
            << rules;
    }

    // A route that is no object stays as it is; the rest is still rewritten.
    const JSONValue odd = rewritten(R"({"route":"mine"})");
    EXPECT_EQ(at(odd, "route"), JSONValue("mine"));
    EXPECT_EQ(at(odd, "inbounds").array().size(), 1u);
}

TEST(SingBoxConfigRewriterTest, DNSDefaults) {
    EXPECT_EQ(show(at(rewritten("{}"), "dns")),
              show(parsed(R"({"strategy":"ipv4_only","final":"cloudflare","servers":[
                  {"tag":"cloudflare","type":"https","server":"1.1.1.1",
                   "domain_resolver":"bootstrap"},
                  {"tag":"bootstrap","type":"udp","server":"8.8.8.8"}]})")));
    EXPECT_EQ(show(at(rewritten(R"({"dns":{"final":"local","servers":[]}})"), "dns")),
              show(parsed(R"({"strategy":"ipv4_only","final":"local","servers":[]})")));
    EXPECT_EQ(show(at(rewritten(R"({"dns":{"strategy":null}})"), "dns")),
              show(parsed(R"({"strategy":null,"final":"cloudflare"})")));
    EXPECT_EQ(at(rewritten(R"({"dns":"system"})"), "dns"), JSONValue("system"));
}

TEST(SingBoxConfigRewriterTest, DirectAndProxyOutbounds) {
    QString taken = QStringLiteral(R"({"type":"vless","tag":"direct"})");
    for (int i = 1; i <= 20; ++i) {
        taken += QStringLiteral(R"(,{"type":"vless","tag":"direct-%1"})").arg(i);
    }
    const QByteArray allTaken =
        (QStringLiteral(R"({"outbounds":[)") + taken + QStringLiteral("]}")).toUtf8();
    struct Case {
        const char* label;
        QByteArray source;
        OutboundMode mode;
        const char* added;  // tag of the appended direct outbound, or nullptr
        const char* direct; // outbound of the domestic rules
        const char* final;
    };
    const Case cases[] = {
        {"no outbounds", "{}", OutboundMode::smart, "direct", "direct", "direct"},
        {"no outbounds, global", "{}", OutboundMode::global, "direct", nullptr, "direct"},
        {"no outbounds, direct", "{}", OutboundMode::direct, "direct", "direct", "direct"},
        {"tag taken by vless", R"({"outbounds":[{"type":"vless","tag":"direct"}]})",
         OutboundMode::smart, "direct-1", "direct-1", "direct"},
        {"tag taken, direct mode", R"({"outbounds":[{"type":"vless","tag":"direct"}]})",
         OutboundMode::direct, "direct-1", "direct-1", "direct-1"},
        {"all twenty taken", allTaken, OutboundMode::smart, "direct-orvane", "direct-orvane",
         "direct"},
        {"direct without tag", R"({"outbounds":[{"type":"direct"},{"type":"vless","tag":"p"}]})",
         OutboundMode::smart, nullptr, "direct", "p"},
        {"direct in capitals",
         R"({"outbounds":[{"type":"vless","tag":"p"},{"type":"DIRECT","tag":"out"}]})",
         OutboundMode::direct, nullptr, "out", "out"},
        {"first non-direct type is the proxy",
         R"({"outbounds":[{"tag":"x"},{"type":"Block","tag":"b"},{"type":"dns","tag":"dns-out"},
                          {"type":"vless","tag":"p"}]})",
         OutboundMode::smart, "direct", "direct", "dns-out"},
        {"proxy without tag", R"({"outbounds":[{"type":"vless"},{"type":"trojan","tag":"t"}]})",
         OutboundMode::smart, "direct", "direct", "direct"},
        {"outbounds of another shape", R"({"outbounds":{"type":"vless","tag":"p"}})",
         OutboundMode::smart, "direct", "direct", "direct"},
        {"a list with a non-object", R"({"outbounds":[{"type":"vless","tag":"p"},1]})",
         OutboundMode::smart, "direct", "direct", "direct"},
        {"non-text tags are skipped", R"({"outbounds":[{"type":"vless","tag":7}]})",
         OutboundMode::smart, "direct", "direct", "direct"},
    };
    for (const Case& c : cases) {
        const JSONValue source = JSONValue::parse(c.source);
        const JSONValue config = JSONValue::parse(rewriteBytes(c.source, c.mode));
        const auto& outbounds = at(config, "outbounds").array();
        const JSONValue* sourceOutbounds = source.find(QStringLiteral("outbounds"));
        const bool sourceIsList =
            sourceOutbounds && sourceOutbounds->isArray() &&
            std::all_of(sourceOutbounds->array().begin(), sourceOutbounds->array().end(),
                        [](const JSONValue& o) { return o.isObject(); });
        const size_t before = sourceIsList ? sourceOutbounds->array().size() : 0;
        if (c.added) {
            ASSERT_EQ(outbounds.size(), before + 1) << c.label;
            EXPECT_EQ(show(outbounds.back()),
                      show(JSONValue::Object{{QStringLiteral("type"), "direct"},
                                             {QStringLiteral("tag"), c.added}}))
                << c.label;
        } else {
            EXPECT_EQ(outbounds.size(), before) << c.label;
        }
        const auto& rules = rulesOf(config);
        if (c.direct) {
            ASSERT_EQ(rules.size(), 3u) << c.label;
            EXPECT_EQ(at(rules[1], "outbound"), JSONValue(c.direct)) << c.label;
            EXPECT_EQ(at(rules[2], "outbound"), JSONValue(c.direct)) << c.label;
        } else {
            EXPECT_EQ(rules.size(), 1u) << c.label;
        }
        EXPECT_EQ(at(at(config, "route"), "final"), JSONValue(c.final)) << c.label;
    }
}

TEST(SingBoxConfigRewriterTest, UniqueOutboundTag) {
    const QString base = QStringLiteral("direct");
    EXPECT_EQ(Rewriter::uniqueOutboundTag(base, {}), base);
    EXPECT_EQ(Rewriter::uniqueOutboundTag(base, {QStringLiteral("direct-1")}), base);
    EXPECT_EQ(Rewriter::uniqueOutboundTag(base, {base}), QStringLiteral("direct-1"));
    EXPECT_EQ(Rewriter::uniqueOutboundTag(
                  base, {base, QStringLiteral("direct-1"), QStringLiteral("direct-3")}),
              QStringLiteral("direct-2"));
    QSet<QString> all{base};
    for (int i = 1; i <= 19; ++i) {
        all.insert(base + QStringLiteral("-%1").arg(i));
    }
    EXPECT_EQ(Rewriter::uniqueOutboundTag(base, all), QStringLiteral("direct-20"));
    all.insert(QStringLiteral("direct-20"));
    all.insert(QStringLiteral("direct-orvane"));
    EXPECT_EQ(Rewriter::uniqueOutboundTag(base, all), QStringLiteral("direct-orvane"));
}

TEST(SingBoxConfigRewriterTest, ConfigurationsThatAreNotObjects) {
    for (const char* source : {"[1,2]", "[]", "\"text\"", "null", "42", "true"}) {
        const QByteArray bytes(source);
        EXPECT_EQ(rewriteBytes(bytes, OutboundMode::enhanced, true), bytes) << source;
    }
    for (const char* source : {"", "{", "{\"a\":}", "not json", "{} {}"}) {
        EXPECT_THROW(rewriteBytes(QByteArray(source)), DecodingError) << source;
    }
}

TEST(SingBoxConfigRewriterTest, SourceBytesOfAProtocolConfiguration) {
    ProtocolConfiguration c;
    c.endpointId = QStringLiteral("e");
    c.protocolKind = ProtocolKind::vless;
    try {
        Rewriter::sourceBytes(c);
        ADD_FAILURE() << "no source";
    } catch (const TunnelCoordinatorError& error) {
        EXPECT_EQ(error.errorCase(), TunnelCoordinatorError::Case::missingProtocolConfig);
        EXPECT_EQ(error.localizedDescription(), QStringLiteral("没有可用的协议配置。"));
    }
    c.rawConfig = parsed(R"({"outbounds":[{"tag":"raw"}]})");
    EXPECT_EQ(Rewriter::sourceBytes(c), QByteArray(R"({"outbounds":[{"tag":"raw"}]})"));
    c.singBoxConfigText = QStringLiteral("{\"dns\": {\"final\": \"中\"}}");
    EXPECT_EQ(Rewriter::sourceBytes(c), QStringLiteral("{\"dns\": {\"final\": \"中\"}}").toUtf8());
    c.singBoxConfig = parsed(R"({"route":{"final":"p"},"inbounds":[]})");
    EXPECT_EQ(Rewriter::sourceBytes(c), QByteArray(R"({"inbounds":[],"route":{"final":"p"}})"));
    // A tree that is a text value is a configuration sent as text.
    c.singBoxConfig = JSONValue(QStringLiteral("{\"log\":{}}"));
    EXPECT_EQ(Rewriter::sourceBytes(c), QByteArray("{\"log\":{}}"));

    EXPECT_EQ(Rewriter::configData(JSONValue(QStringLiteral("a\"b"))), QByteArray("a\"b"));
    EXPECT_EQ(Rewriter::configData(parsed("[1,null]")), QByteArray("[1,null]"));
    EXPECT_THROW(Rewriter::configData(JSONValue(JSONValue::Array{JSONValue(std::nan(""))})),
                 EncodingError);
}

TEST(SingBoxConfigRewriterTest, CleanupDeletesOnlyLegacyEndpointFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir folder(dir.path());
    for (const char* name :
         {"orvane-ep_1.json", "orvane-ep_", ".orvane-ep_hidden", "orvane-active.json",
          "x-orvane-ep_2.json", "Orvane-ep_3.json", "orvane-ep.json"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(folder.mkpath(QStringLiteral("orvane-ep_dir/inner")));
    ASSERT_TRUE(folder.mkpath(QStringLiteral("keep/orvane-ep_nested.json")));

    Rewriter::cleanupLegacyEndpointConfigFiles(dir.path());

    QStringList left = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left, (QStringList{
                        QStringLiteral(".orvane-ep_hidden"), QStringLiteral("Orvane-ep_3.json"),
                        QStringLiteral("keep"), QStringLiteral("orvane-active.json"),
                        QStringLiteral("orvane-ep.json"), QStringLiteral("x-orvane-ep_2.json")}));
    EXPECT_TRUE(folder.exists(QStringLiteral("keep/orvane-ep_nested.json")));

    // A folder that cannot be listed is no error.
    Rewriter::cleanupLegacyEndpointConfigFiles(folder.filePath(QStringLiteral("missing")));
}

TEST(SingBoxConfigRewriterTest, TunnelCoordinatorErrorTexts) {
    for (const QString& blank : {QString(), QStringLiteral("  \n\t"), QStringLiteral("\u3000")}) {
        EXPECT_EQ(TunnelCoordinatorError::commandFailed(blank).localizedDescription(),
                  QStringLiteral("协议内核命令执行失败。"));
    }
    EXPECT_EQ(TunnelCoordinatorError::commandFailed(QStringLiteral(" lsof: failed \n"))
                  .localizedDescription(),
              QStringLiteral(" lsof: failed \n"));
    EXPECT_EQ(TunnelCoordinatorError::missingProtocolConfig().localizedDescription(),
              QStringLiteral("没有可用的协议配置。"));
    EXPECT_STREQ(TunnelCoordinatorError::missingProtocolConfig().what(), "没有可用的协议配置。");
}
