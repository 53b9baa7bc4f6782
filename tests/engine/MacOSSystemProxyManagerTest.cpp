#include "MacOSSystemProxyManager.h"
#include "OrvaneTrafficRules.h"
#include "RunTask.h"
#include "StandinFixture.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <ostream>

using namespace orvane;
using orvane::test::runTask;
using orvane::test::StandinFixture;

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orvane {
void PrintTo(const ProxyState& state, std::ostream* os) {
    *os << (state.enabled ? "on " : "off ") << state.server.toStdString() << ':' << state.port;
}
} // namespace orvane

namespace {

const QString kWeb = QStringLiteral("web");
const QString kSecureWeb = QStringLiteral("secureWeb");
const QString kSocks = QStringLiteral("socks");
const QString kDomesticNote = QStringLiteral("国内图片与 CDN 域名已加入系统代理直连保护。");
const QString kNoServicesNote = QStringLiteral("系统代理增强未启用：未读取到可用网络服务。");

QString enabledNote(const QString& names) {
    return QStringLiteral("已为 ") + names + QStringLiteral(" 启用 HTTP/HTTPS/SOCKS 系统代理。");
}

QString failedNote(const QString& names) {
    return QStringLiteral("部分网络服务的系统代理增强未成功：") + names + QStringLiteral("。");
}

QJsonObject proxy(bool enabled = false, const QString& server = {}, qint64 port = 0) {
    return {{"enabled", enabled}, {"server", server}, {"port", port}, {"authenticated", false}};
}

QJsonObject service(const QString& name, const QJsonObject& web = proxy(),
                    const QJsonObject& secureWeb = proxy(), const QJsonObject& socks = proxy(),
                    const QStringList& bypass = {}) {
    return {{"name", name},   {"disabled", false},
            {"web", web},     {"secureWeb", secureWeb},
            {"socks", socks}, {"bypass", QJsonArray::fromStringList(bypass)}};
}

QJsonObject rule(const QStringList& args, const QString& out, int status = 0,
                 const QString& err = {}) {
    return {{"tool", "networksetup"},
            {"args", QJsonArray::fromStringList(args)},
            {"status", status},
            {"stdout", out},
            {"stderr", err}};
}

ToolPaths standinTools(const StandinFixture& standins) {
    ToolPaths tools = ToolPaths::platformDefaults();
    tools.networksetup = standins.tool("networksetup");
    tools.scutil = standins.tool("scutil");
    tools.osascript = standins.tool("osascript");
    return tools;
}

QCoro::Task<void> awaitBoth(QCoro::Task<QStringList> first, QCoro::Task<void> second) {
    co_await std::move(first);
    co_await std::move(second);
}

class MacOSSystemProxyManagerTest : public ::testing::Test {
protected:
    void writeServices(const QJsonArray& services, const QJsonObject& knobs = {}) {
        m_standins.writeNetwork({{"services", services}, {"knobs", knobs}});
    }
    // Keeps the services as they are now.
    void setKnobs(const QJsonObject& knobs) {
        QJsonObject state = m_standins.readNetwork();
        state["knobs"] = knobs;
        m_standins.writeNetwork(state);
    }
    QJsonObject storedService(const QString& name) const {
        for (const QJsonValue& entry : m_standins.readNetwork()["services"].toArray()) {
            if (entry["name"].toString() == name) {
                return entry.toObject();
            }
        }
        ADD_FAILURE() << "no service " << name.toStdString();
        return {};
    }
    ProxyState stored(const QString& name, const QString& kind) const {
        const QJsonObject json = storedService(name)[kind].toObject();
        return {json["enabled"].toBool(), json["server"].toString(), json["port"].toInteger()};
    }
    QStringList storedBypass(const QString& name) const {
        QStringList list;
        for (const QJsonValue& entry : storedService(name)["bypass"].toArray()) {
            list << entry.toString();
        }
        return list;
    }
    QList<QStringList> networkSetupCalls() const {
        QList<QStringList> calls;
        for (const auto& invocation : m_standins.invocations(QStringLiteral("networksetup"))) {
            calls << invocation.args;
        }
        return calls;
    }
    // Networksetup calls whose first argument is one of `options`, in order.
    QList<QStringList> callsOf(const QStringList& options) const {
        QList<QStringList> calls;
        for (const QStringList& args : networkSetupCalls()) {
            if (options.contains(args.value(0))) {
                calls << args;
            }
        }
        return calls;
    }
    qsizetype osascriptRuns() const {
        return m_standins.invocations(QStringLiteral("osascript")).size();
    }
    QString shellLine(const QStringList& arguments) const {
        return MacOSSystemProxyManager::networkSetupShellCommand(arguments,
                                                                 m_standins.tool("networksetup"));
    }

    QStringList enable(int port) { return runTask(m_manager.enableLocalProxy(port)); }
    void disable(bool allowAuthorization) {
        runTask(m_manager.disableLocalProxy(allowAuthorization));
    }

    StandinFixture m_standins;
    MacOSSystemProxyManager m_manager{standinTools(m_standins)};
};

// ---- Pure helpers ------------------------------------------------------------------------

TEST(MacOSSystemProxyManagerFields, OwnsTheTwentyLocalPortsButNotTheAIPort) {
    const MacOSSystemProxyManager manager;
    EXPECT_EQ(manager.host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(manager.networkSetupPath(), QStringLiteral("/usr/sbin/networksetup"));
    EXPECT_EQ(manager.ownedLocalProxyPorts().size(), 20);
    EXPECT_TRUE(manager.ownedLocalProxyPorts().contains(19090));
    EXPECT_TRUE(manager.ownedLocalProxyPorts().contains(19109));
    EXPECT_FALSE(manager.ownedLocalProxyPorts().contains(19089));
    EXPECT_FALSE(manager.ownedLocalProxyPorts().contains(19110));
    EXPECT_FALSE(manager.hasSnapshot());
}

TEST(MacOSSystemProxyManagerMerge, KeepsTheServicesOwnSpellingFirstAndDropsCaseDuplicates) {
    const QStringList domestic = OrvaneTrafficRules::domesticProxyBypassDomains();
    const QStringList merged = MacOSSystemProxyManager::mergedBypassDomains(
        {" LocalHost ", "corp.example", "", "  ", "CORP.EXAMPLE", "*.LOCAL", "*.QQ.com"});

    QStringList expected{"LocalHost", "corp.example", "*.LOCAL", "*.QQ.com"};
    for (const QString& entry : domestic) {
        if (entry != u"localhost" && entry != u"*.local" && entry != u"*.qq.com") {
            expected << entry;
        }
    }
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(merged.size(), 4 + 128 - 3);
}

TEST(MacOSSystemProxyManagerMerge, AnEmptyServiceListGivesTheDomesticListAlone) {
    EXPECT_EQ(MacOSSystemProxyManager::mergedBypassDomains({}),
              OrvaneTrafficRules::domesticProxyBypassDomains());
}

TEST(MacOSSystemProxyManagerShell, QuotesEveryWord) {
    EXPECT_EQ(
        MacOSSystemProxyManager::networkSetupShellCommand({"-setwebproxystate", "Wi-Fi", "off"}),
        QStringLiteral("'/usr/sbin/networksetup' '-setwebproxystate' 'Wi-Fi' 'off'"));
    EXPECT_EQ(MacOSSystemProxyManager::networkSetupShellCommand({"-x", ""}, "/bin/ns"),
              QStringLiteral("'/bin/ns' '-x' ''"));
}

TEST(MacOSSystemProxyManagerShell, HostileServiceNamesSurviveBothQuotingLayers) {
    const QString name = QStringLiteral("Bob's \"Wi\\Fi\"");
    EXPECT_EQ(MacOSSystemProxyManager::networkSetupShellCommand({"-setwebproxystate", name, "off"}),
              QStringLiteral(
                  R"x('/usr/sbin/networksetup' '-setwebproxystate' 'Bob'\''s "Wi\Fi"' 'off')x"));
    EXPECT_EQ(MacOSSystemProxyManager::appleScriptEscaped(QStringLiteral(R"x(a\b"c'd)x")),
              QStringLiteral(R"x(a\\b\"c'd)x"));
    EXPECT_EQ(
        MacOSSystemProxyManager::administratorScript({{"-setwebproxystate", name, "off"}}),
        QStringLiteral(R"x(do shell script "'/usr/sbin/networksetup' '-setwebproxystate' )x"
                       R"x('Bob'\\''s \"Wi\\Fi\"' 'off'" with administrator privileges)x"));
}

TEST(MacOSSystemProxyManagerShell, ABatchOfTwoLinesHasExactlyOneLineBreak) {
    const QString script = MacOSSystemProxyManager::administratorScript(
        {{"-setwebproxystate", "A", "off"}, {"-setsocksfirewallproxystate", "B", "off"}}, "/ns");
    EXPECT_EQ(script, QStringLiteral("do shell script \"'/ns' '-setwebproxystate' 'A' 'off'\n"
                                     "'/ns' '-setsocksfirewallproxystate' 'B' 'off'\" with "
                                     "administrator privileges"));
}

// ---- Reading the tools' output -----------------------------------------------------------

TEST_F(MacOSSystemProxyManagerTest, ListingSkipsTheHeaderDisabledServicesAndBlankLines) {
    writeServices({service("A"), service("B")});
    m_standins.writeRules({rule({"-listallnetworkservices"},
                                "An asterisk (*) denotes that a network service is disabled.\n"
                                "  A  \n*Off\n\n \nB\n")});

    EXPECT_EQ(enable(19090), (QStringList{enabledNote("A、B"), kDomesticNote}));
    ASSERT_TRUE(m_manager.hasSnapshot());
    ASSERT_EQ(m_manager.snapshot()->size(), 2);
    EXPECT_EQ(m_manager.snapshot()->at(0).service, "A");
    EXPECT_EQ(m_manager.snapshot()->at(1).service, "B");
    for (const QStringList& args : networkSetupCalls()) {
        EXPECT_FALSE(args.contains("Off") || args.contains("*Off")) << args.join(' ').toStdString();
    }
}

TEST_F(MacOSSystemProxyManagerTest, NoServicesGiveOneNoteAndNoSnapshot) {
    for (const QJsonObject& listing :
         {rule({"-listallnetworkservices"}, "Wi-Fi\n", 1),
          rule({"-listallnetworkservices"},
               "An asterisk (*) denotes that a network service is disabled.\n*Wi-Fi\n")}) {
        m_standins.writeRules({listing});
        m_standins.clearInvocations();
        EXPECT_EQ(enable(19090), QStringList{kNoServicesNote});
        EXPECT_FALSE(m_manager.hasSnapshot());
        EXPECT_EQ(networkSetupCalls().size(), 1);
    }
}

struct ReadingCase {
    const char* name;
    int status;
    QString out;
    QString err;
    ProxyState expected;
};

void PrintTo(const ReadingCase& reading, std::ostream* os) {
    *os << reading.name;
}

class ProxyReading : public MacOSSystemProxyManagerTest,
                     public ::testing::WithParamInterface<ReadingCase> {};

TEST_P(ProxyReading, IsTakenIntoTheSnapshot) {
    const ReadingCase& reading = GetParam();
    writeServices({service("Wi-Fi")});
    m_standins.writeRules(
        {rule({"-getwebproxy", "Wi-Fi"}, reading.out, reading.status, reading.err)});
    enable(19090);
    ASSERT_TRUE(m_manager.hasSnapshot());
    EXPECT_EQ(m_manager.snapshot()->at(0).web, reading.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProxyReading,
    ::testing::Values(
        ReadingCase{"UpperCaseYes",
                    0,
                    "Enabled: YES\nServer: proxy.lan\nPort: 3128\nAuthenticated Proxy Enabled: 1\n",
                    "",
                    {true, "proxy.lan", 3128}},
        ReadingCase{"MixedCaseYesWithTrailingWords",
                    0,
                    "Enabled: yEs please\nServer: a\nPort: 1",
                    "",
                    {true, "a", 1}},
        ReadingCase{"Off", 0, "Enabled: No\nServer: \nPort: 0\n", "", {false, "", 0}},
        ReadingCase{"PlusPort", 0, "Enabled: Yes\nServer: a\nPort: +8080", "", {true, "a", 8080}},
        ReadingCase{"LetterInPort", 0, "Enabled: Yes\nServer: a\nPort: 80a", "", {true, "a", 0}},
        ReadingCase{"SignOnly", 0, "Port: +", "", {false, "", 0}},
        ReadingCase{"DoubleSign", 0, "Port: +-5", "", {false, "", 0}},
        ReadingCase{"OverflowingPort", 0, "Port: 99999999999999999999", "", {false, "", 0}},
        ReadingCase{"ServerWithColons",
                    0,
                    "Enabled: Yes\nServer: http://h:8\nPort: 9",
                    "",
                    {true, "http://h:8", 9}},
        ReadingCase{"SpacesAroundKeyAndValue",
                    0,
                    "  Enabled :  Yes \r\n Server:  b  \r\n",
                    "",
                    {true, "b", 0}},
        ReadingCase{"LastOfARepeatedKeyWins",
                    0,
                    "Enabled: Yes\nEnabled: No\nPort: 1\nPort: 2",
                    "",
                    {false, "", 2}},
        ReadingCase{
            "KeysAreCaseSensitive", 0, "enabled: Yes\nSERVER: a\nport: 5", "", {false, "", 0}},
        ReadingCase{
            "StandardErrorIsNotRead", 0, "Enabled: No", "Enabled: Yes\nServer: x", {false, "", 0}},
        ReadingCase{
            "FailingReadIsNeutral", 1, "Enabled: Yes\nServer: a\nPort: 1", "", {false, "", 0}}),
    [](const ::testing::TestParamInfo<ReadingCase>& param) { return param.param.name; });

TEST_F(MacOSSystemProxyManagerTest, BypassReadingDropsTheToolsOwnSentences) {
    writeServices({service("Wi-Fi")});
    m_standins.writeRules({rule({"-getproxybypassdomains", "Wi-Fi"},
                                "  corp.example \n\n*.LAN\nExceptions: bypass domains below\n"
                                "There aren't any more\n")});
    enable(19090);

    ASSERT_TRUE(m_manager.hasSnapshot());
    EXPECT_EQ(m_manager.snapshot()->at(0).bypassDomains, (QStringList{"corp.example", "*.LAN"}));
    const QList<QStringList> writes = callsOf({"-setproxybypassdomains"});
    ASSERT_EQ(writes.size(), 1);
    EXPECT_EQ(writes[0].mid(2),
              MacOSSystemProxyManager::mergedBypassDomains({"corp.example", "*.LAN"}));
}

TEST_F(MacOSSystemProxyManagerTest, AServiceWithoutBypassDomainsGetsEmptyBack) {
    writeServices({service("Wi-Fi")});
    enable(19090);
    ASSERT_TRUE(m_manager.hasSnapshot());
    EXPECT_TRUE(m_manager.snapshot()->at(0).bypassDomains.isEmpty());
    EXPECT_EQ(storedBypass("Wi-Fi"), OrvaneTrafficRules::domesticProxyBypassDomains());

    m_standins.clearInvocations();
    disable(false);
    EXPECT_EQ(callsOf({"-setproxybypassdomains"}),
              (QList<QStringList>{{"-setproxybypassdomains", "Wi-Fi", "Empty"}}));
    EXPECT_TRUE(storedBypass("Wi-Fi").isEmpty());
}

// ---- Enable, snapshot and restore --------------------------------------------------------

TEST_F(MacOSSystemProxyManagerTest, EnablePointsEveryKindAtTheLocalPortWithTheMergedList) {
    writeServices({service("Wi-Fi", proxy(true, "proxy.lan", 3128), proxy(), proxy(),
                           {"*.local", "169.254/16"}),
                   service("Ethernet")});
    EXPECT_EQ(enable(19093), (QStringList{enabledNote("Wi-Fi、Ethernet"), kDomesticNote}));

    const ProxyState ours{true, "127.0.0.1", 19093};
    for (const QString& name : {QStringLiteral("Wi-Fi"), QStringLiteral("Ethernet")}) {
        for (const QString& kind : {kWeb, kSecureWeb, kSocks}) {
            EXPECT_EQ(stored(name, kind), ours) << name.toStdString() << ' ' << kind.toStdString();
        }
        EXPECT_FALSE(storedService(name)[kWeb].toObject()["authenticated"].toBool());
    }
    EXPECT_EQ(storedBypass("Wi-Fi"),
              MacOSSystemProxyManager::mergedBypassDomains({"*.local", "169.254/16"}));
    EXPECT_EQ(storedBypass("Wi-Fi").first(), "*.local");
    EXPECT_EQ(osascriptRuns(), 0);
}

TEST_F(MacOSSystemProxyManagerTest, ASecondEnableMovesThePortAndKeepsTheFirstSnapshot) {
    writeServices({service("Wi-Fi", proxy(true, "proxy.lan", 3128), proxy(), proxy(),
                           {"*.local", "169.254/16"}),
                   service("Ethernet")});
    enable(19090);
    ASSERT_TRUE(m_manager.hasSnapshot());
    const QList<ServiceProxySnapshot> first = *m_manager.snapshot();
    const QStringList bypassAfterFirst = storedBypass("Wi-Fi");

    m_standins.clearInvocations();
    enable(19091);
    EXPECT_TRUE(
        callsOf({"-getwebproxy", "-getsecurewebproxy", "-getsocksfirewallproxy"}).isEmpty());
    EXPECT_EQ(*m_manager.snapshot(), first);
    EXPECT_EQ(stored("Wi-Fi", kSocks), (ProxyState{true, "127.0.0.1", 19091}));
    EXPECT_EQ(stored("Ethernet", kWeb), (ProxyState{true, "127.0.0.1", 19091}));
    EXPECT_EQ(storedBypass("Wi-Fi"), bypassAfterFirst);

    disable(false);
    EXPECT_FALSE(m_manager.hasSnapshot());
    EXPECT_EQ(stored("Wi-Fi", kWeb), (ProxyState{true, "proxy.lan", 3128}));
    EXPECT_FALSE(stored("Wi-Fi", kSecureWeb).enabled);
    EXPECT_FALSE(stored("Ethernet", kWeb).enabled);
    EXPECT_EQ(storedBypass("Wi-Fi"), (QStringList{"*.local", "169.254/16"}));
}

struct RestoreCase {
    const char* name;
    ProxyState before;
    ProxyState after;
    QList<QStringList> commands;
};

void PrintTo(const RestoreCase& restore, std::ostream* os) {
    *os << restore.name;
}

class WebProxyRestore : public MacOSSystemProxyManagerTest,
                        public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(WebProxyRestore, PutsBackWhatTheUserHad) {
    const RestoreCase& restore = GetParam();
    writeServices({service(
        "Wi-Fi", proxy(restore.before.enabled, restore.before.server, restore.before.port))});
    enable(19090);
    m_standins.clearInvocations();
    disable(false);

    EXPECT_EQ(stored("Wi-Fi", kWeb), restore.after);
    EXPECT_EQ(callsOf({"-setwebproxy", "-setwebproxystate"}), restore.commands);
    EXPECT_FALSE(storedService("Wi-Fi")[kWeb].toObject()["authenticated"].toBool());
}

const QStringList kWebOff{"-setwebproxystate", "Wi-Fi", "off"};
const QStringList kWebOn{"-setwebproxystate", "Wi-Fi", "on"};
const ProxyState kLeftByEnable{false, "127.0.0.1", 19090};

INSTANTIATE_TEST_SUITE_P(
    States, WebProxyRestore,
    ::testing::Values(
        RestoreCase{"EarlierProxy",
                    {true, "proxy.lan", 3128},
                    {true, "proxy.lan", 3128},
                    {{"-setwebproxy", "Wi-Fi", "proxy.lan", "3128", "off"}, kWebOn}},
        RestoreCase{"OwnLeftover", {true, "127.0.0.1", 19095}, kLeftByEnable, {kWebOff}},
        RestoreCase{"OwnLastPort", {true, "127.0.0.1", 19109}, kLeftByEnable, {kWebOff}},
        RestoreCase{"AIPortIsAnEarlierProxy",
                    {true, "127.0.0.1", 19110},
                    {true, "127.0.0.1", 19110},
                    {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19110", "off"}, kWebOn}},
        RestoreCase{"LoopbackBelowTheRange",
                    {true, "127.0.0.1", 19089},
                    {true, "127.0.0.1", 19089},
                    {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19089", "off"}, kWebOn}},
        RestoreCase{"OtherServerOnAnOwnPort",
                    {true, "127.0.0.2", 19095},
                    {true, "127.0.0.2", 19095},
                    {{"-setwebproxy", "Wi-Fi", "127.0.0.2", "19095", "off"}, kWebOn}},
        RestoreCase{"EnabledWithPortZero", {true, "proxy.lan", 0}, kLeftByEnable, {kWebOff}},
        RestoreCase{"EnabledWithoutServer", {true, "", 8080}, kLeftByEnable, {kWebOff}},
        RestoreCase{"OffWithEarlierServer",
                    {false, "proxy.lan", 3128},
                    {false, "proxy.lan", 3128},
                    {{"-setwebproxy", "Wi-Fi", "proxy.lan", "3128", "off"}, kWebOff}},
        RestoreCase{"OffOnAnOwnPort",
                    {false, "127.0.0.1", 19095},
                    {false, "127.0.0.1", 19095},
                    {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19095", "off"}, kWebOff}},
        RestoreCase{"OffWithoutServer", {false, "", 0}, kLeftByEnable, {kWebOff}},
        RestoreCase{"OffWithServerButNoPort", {false, "proxy.lan", 0}, kLeftByEnable, {kWebOff}}),
    [](const ::testing::TestParamInfo<RestoreCase>& param) { return param.param.name; });

TEST_F(MacOSSystemProxyManagerTest, RestoreRunsKindsThenBypassPerServiceInOrder) {
    writeServices({service("A", proxy(true, "p", 1), proxy(), proxy(), {"x"}), service("B")});
    enable(19090);
    m_standins.clearInvocations();
    disable(false);

    const QList<QStringList> calls = networkSetupCalls();
    ASSERT_GE(calls.size(), 9);
    const QList<QStringList> restoreCalls = calls.mid(0, 9);
    EXPECT_EQ(restoreCalls, (QList<QStringList>{
                                {"-setwebproxy", "A", "p", "1", "off"},
                                {"-setwebproxystate", "A", "on"},
                                {"-setsecurewebproxystate", "A", "off"},
                                {"-setsocksfirewallproxystate", "A", "off"},
                                {"-setproxybypassdomains", "A", "x"},
                                {"-setwebproxystate", "B", "off"},
                                {"-setsecurewebproxystate", "B", "off"},
                                {"-setsocksfirewallproxystate", "B", "off"},
                                {"-setproxybypassdomains", "B", "Empty"},
                            }));
    // Then the owned-proxy sweep: one listing and three reads per service, nothing left to do.
    EXPECT_EQ(calls.size(), 9 + 1 + 6);
    EXPECT_EQ(calls[9], QStringList{"-listallnetworkservices"});
}

// ---- Notes -------------------------------------------------------------------------------

TEST_F(MacOSSystemProxyManagerTest, TheSuccessNoteNamesOnlyTheFirstThreeServices) {
    writeServices({service("A"), service("B"), service("C"), service("D"), service("E")});
    EXPECT_EQ(enable(19090), (QStringList{enabledNote("A、B、C"), kDomesticNote}));
}

TEST_F(MacOSSystemProxyManagerTest, APartialFailureAddsItsNoteWithoutAnAdministratorPrompt) {
    writeServices({service("Wi-Fi"), service("Ethernet"), service("USB")},
                  {{"failServices", QJsonArray{"Ethernet", "USB"}}});
    EXPECT_EQ(enable(19090),
              (QStringList{enabledNote("Wi-Fi"), kDomesticNote, failedNote("Ethernet、USB")}));
    EXPECT_EQ(osascriptRuns(), 0);
    // A failing service still gets all seven writes.
    qsizetype ethernetWrites = 0;
    for (const QStringList& args : networkSetupCalls()) {
        ethernetWrites += args.value(0).startsWith("-set") && args.value(1) == "Ethernet";
    }
    EXPECT_EQ(ethernetWrites, 7);
}

TEST_F(MacOSSystemProxyManagerTest, OneFailingCommandFailsTheService) {
    writeServices({service("Wi-Fi"), service("Ethernet")},
                  {{"failVerbs", QJsonArray{"-setproxybypassdomains"}}});
    m_standins.writeOsascript({{"decline", true}});
    EXPECT_EQ(enable(19090), QStringList{failedNote("Wi-Fi、Ethernet")});
    // The state switches after the failing bypass line still ran.
    EXPECT_TRUE(stored("Ethernet", kSocks).enabled);
}

// ---- Administrator batch enable ----------------------------------------------------------

TEST_F(MacOSSystemProxyManagerTest, WhenEveryServiceFailsOneBatchEnablesThemAll) {
    writeServices(
        {service("Wi-Fi", proxy(), proxy(), proxy(), {"corp.example"}), service("Ethernet")},
        {{"setNeedsAdmin", true}});
    EXPECT_EQ(enable(19092), (QStringList{enabledNote("Wi-Fi、Ethernet"), kDomesticNote}));

    ASSERT_EQ(osascriptRuns(), 1);
    const auto run = m_standins.invocations(QStringLiteral("osascript")).first();
    ASSERT_EQ(run.args.size(), 2);
    EXPECT_EQ(run.args[0], "-e");
    const QStringList lines = m_standins.osascriptScripts().value(0).split('\n');
    ASSERT_EQ(lines.size(), 14);
    const QStringList domestic = OrvaneTrafficRules::domesticProxyBypassDomains();
    for (const QString& name : {QStringLiteral("Wi-Fi"), QStringLiteral("Ethernet")}) {
        const qsizetype at = name == u"Wi-Fi" ? 0 : 7;
        EXPECT_EQ(lines[at], shellLine({"-setwebproxy", name, "127.0.0.1", "19092", "off"}));
        EXPECT_EQ(lines[at + 1],
                  shellLine({"-setsecurewebproxy", name, "127.0.0.1", "19092", "off"}));
        EXPECT_EQ(lines[at + 2],
                  shellLine({"-setsocksfirewallproxy", name, "127.0.0.1", "19092", "off"}));
        EXPECT_EQ(lines[at + 3], shellLine(QStringList{"-setproxybypassdomains", name} + domestic));
        EXPECT_EQ(lines[at + 4], shellLine({"-setwebproxystate", name, "on"}));
        EXPECT_EQ(lines[at + 5], shellLine({"-setsecurewebproxystate", name, "on"}));
        EXPECT_EQ(lines[at + 6], shellLine({"-setsocksfirewallproxystate", name, "on"}));
        EXPECT_EQ(stored(name, kSocks), (ProxyState{true, "127.0.0.1", 19092}));
    }
    // The service's own entries are not merged on this path.
    EXPECT_EQ(storedBypass("Wi-Fi"), domestic);

    qsizetype adminRuns = 0;
    for (const auto& invocation : m_standins.invocations(QStringLiteral("networksetup"))) {
        adminRuns += invocation.admin;
    }
    EXPECT_EQ(adminRuns, 14);
}

TEST_F(MacOSSystemProxyManagerTest, TheBatchCarriesHostileServiceNamesIntact) {
    const QString name = QStringLiteral("Bob's \"Wi\\Fi\" $(x) `y`");
    writeServices({service(name)}, {{"setNeedsAdmin", true}});
    EXPECT_EQ(enable(19090), (QStringList{enabledNote(name), kDomesticNote}));
    EXPECT_EQ(stored(name, kWeb), (ProxyState{true, "127.0.0.1", 19090}));
    EXPECT_EQ(m_standins.invocations(QStringLiteral("osascript")).value(0).args.value(1),
              MacOSSystemProxyManager::administratorScript(
                  {{"-setwebproxy", name, "127.0.0.1", "19090", "off"},
                   {"-setsecurewebproxy", name, "127.0.0.1", "19090", "off"},
                   {"-setsocksfirewallproxy", name, "127.0.0.1", "19090", "off"},
                   QStringList{"-setproxybypassdomains", name} +
                       OrvaneTrafficRules::domesticProxyBypassDomains(),
                   {"-setwebproxystate", name, "on"},
                   {"-setsecurewebproxystate", name, "on"},
                   {"-setsocksfirewallproxystate", name, "on"}},
                  m_standins.tool("networksetup")));
}

TEST_F(MacOSSystemProxyManagerTest, TheReadBackDecidesWhichServicesCountAsEnabled) {
    writeServices({service("Wi-Fi"), service("Ethernet")}, {{"setNeedsAdmin", true}});
    // Right server, wrong port: the batch "worked" but Ethernet does not point at us.
    m_standins.writeRules({rule({"-getsecurewebproxy", "Ethernet"},
                                "Enabled: Yes\nServer: 127.0.0.1\nPort: 19000\n")});
    EXPECT_EQ(enable(19090),
              (QStringList{enabledNote("Wi-Fi"), kDomesticNote, failedNote("Ethernet")}));
    EXPECT_EQ(osascriptRuns(), 1);

    // After the batch: Wi-Fi read in full, Ethernet only up to its first bad reading.
    QList<QStringList> readBack;
    bool afterBatch = false;
    for (const auto& invocation : m_standins.invocations()) {
        if (invocation.tool == u"osascript") {
            afterBatch = true;
        } else if (afterBatch && !invocation.admin) {
            readBack << invocation.args;
        }
    }
    EXPECT_EQ(readBack, (QList<QStringList>{{"-getwebproxy", "Wi-Fi"},
                                            {"-getsecurewebproxy", "Wi-Fi"},
                                            {"-getsocksfirewallproxy", "Wi-Fi"},
                                            {"-getwebproxy", "Ethernet"},
                                            {"-getsecurewebproxy", "Ethernet"}}));
}

TEST_F(MacOSSystemProxyManagerTest, ADeclinedPromptFailsEveryServiceWithoutReadingBack) {
    writeServices({service("Wi-Fi"), service("Ethernet")}, {{"setNeedsAdmin", true}});
    m_standins.writeOsascript({{"decline", true}});
    EXPECT_EQ(enable(19090), QStringList{failedNote("Wi-Fi、Ethernet")});
    const auto all = m_standins.invocations();
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(all.last().tool, "osascript");
    EXPECT_FALSE(stored("Wi-Fi", kWeb).enabled);
}

// ---- Disable: administrator retries and the owned-proxy sweep ----------------------------

TEST_F(MacOSSystemProxyManagerTest, AFailedRestoreIsRetriedOnceAsABatchWithTheSameLines) {
    writeServices({service("Wi-Fi", proxy(false, "proxy.lan", 3128), proxy(true, "sec.lan", 3129),
                           proxy(), {"*.local"})});
    enable(19090);
    setKnobs({{"setNeedsAdmin", true}});
    disable(true);

    EXPECT_EQ(m_standins.osascriptScripts(),
              (QStringList{
                  shellLine({"-setwebproxy", "Wi-Fi", "proxy.lan", "3128", "off"}) + '\n' +
                      shellLine({"-setwebproxystate", "Wi-Fi", "off"}),
                  shellLine({"-setsecurewebproxy", "Wi-Fi", "sec.lan", "3129", "off"}) + '\n' +
                      shellLine({"-setsecurewebproxystate", "Wi-Fi", "on"}),
                  shellLine({"-setsocksfirewallproxystate", "Wi-Fi", "off"}),
                  shellLine({"-setproxybypassdomains", "Wi-Fi", "*.local"}),
              }));
    EXPECT_EQ(stored("Wi-Fi", kWeb), (ProxyState{false, "proxy.lan", 3128}));
    EXPECT_EQ(stored("Wi-Fi", kSecureWeb), (ProxyState{true, "sec.lan", 3129}));
    EXPECT_FALSE(stored("Wi-Fi", kSocks).enabled);
    EXPECT_EQ(storedBypass("Wi-Fi"), QStringList{"*.local"});
}

TEST_F(MacOSSystemProxyManagerTest, DisableWithoutAuthorizationNeverStartsOsascript) {
    writeServices({service("Wi-Fi", proxy(true, "proxy.lan", 3128))});
    enable(19090);
    setKnobs({{"setNeedsAdmin", true}});
    disable(false);

    EXPECT_EQ(osascriptRuns(), 0);
    EXPECT_FALSE(m_manager.hasSnapshot());
    // Every restore and the sweep failed silently: our proxy is still on.
    EXPECT_EQ(stored("Wi-Fi", kSocks), (ProxyState{true, "127.0.0.1", 19090}));
}

TEST_F(MacOSSystemProxyManagerTest, AfterACrashOnlyOurOwnLeftoverProxiesAreSwitchedOff) {
    writeServices(
        {service("Wi-Fi", proxy(true, "127.0.0.1", 19095), proxy(true, "127.0.0.1", 19110),
                 proxy(true, "127.0.0.1", 19109), {"keep.me"}),
         service("Ethernet", proxy(true, "proxy.lan", 19095), proxy(true, "127.0.0.1", 19089),
                 proxy(false, "127.0.0.1", 19090))});
    disable(true);

    EXPECT_EQ(callsOf({"-setwebproxystate", "-setsecurewebproxystate",
                       "-setsocksfirewallproxystate", "-setwebproxy", "-setsecurewebproxy",
                       "-setsocksfirewallproxy", "-setproxybypassdomains"}),
              (QList<QStringList>{{"-setwebproxystate", "Wi-Fi", "off"},
                                  {"-setsocksfirewallproxystate", "Wi-Fi", "off"}}));
    EXPECT_FALSE(stored("Wi-Fi", kWeb).enabled);
    EXPECT_EQ(stored("Wi-Fi", kSecureWeb), (ProxyState{true, "127.0.0.1", 19110}));
    EXPECT_FALSE(stored("Wi-Fi", kSocks).enabled);
    EXPECT_TRUE(stored("Ethernet", kWeb).enabled);
    EXPECT_TRUE(stored("Ethernet", kSecureWeb).enabled);
    EXPECT_EQ(storedBypass("Wi-Fi"), QStringList{"keep.me"});
    EXPECT_EQ(osascriptRuns(), 0);
}

TEST_F(MacOSSystemProxyManagerTest, AFailingSweepAsksPerLineOnlyWhenAllowed) {
    writeServices({service("Wi-Fi", proxy(true, "127.0.0.1", 19095), proxy(),
                           proxy(true, "127.0.0.1", 19100))},
                  {{"setNeedsAdmin", true}});
    disable(false);
    EXPECT_EQ(osascriptRuns(), 0);
    EXPECT_TRUE(stored("Wi-Fi", kWeb).enabled);

    disable(true);
    EXPECT_EQ(m_standins.osascriptScripts(),
              (QStringList{shellLine({"-setwebproxystate", "Wi-Fi", "off"}),
                           shellLine({"-setsocksfirewallproxystate", "Wi-Fi", "off"})}));
    EXPECT_FALSE(stored("Wi-Fi", kWeb).enabled);
    EXPECT_FALSE(stored("Wi-Fi", kSocks).enabled);
}

TEST_F(MacOSSystemProxyManagerTest, TheSweepCatchesAServiceAddedAfterTheSnapshot) {
    writeServices({service("Wi-Fi")});
    enable(19090);
    QJsonObject state = m_standins.readNetwork();
    QJsonArray services = state["services"].toArray();
    services.append(service("USB", proxy(true, "127.0.0.1", 19090)));
    state["services"] = services;
    m_standins.writeNetwork(state);

    disable(false);
    EXPECT_FALSE(stored("USB", kWeb).enabled);
    EXPECT_FALSE(stored("Wi-Fi", kWeb).enabled);
}

// ---- Taking turns ------------------------------------------------------------------------

TEST_F(MacOSSystemProxyManagerTest, AnEnableAndADisableStartedTogetherDoNotInterleave) {
    writeServices({service("Wi-Fi", proxy(true, "proxy.lan", 3128)), service("Ethernet")});
    QCoro::Task<QStringList> enabling = m_manager.enableLocalProxy(19090);
    QCoro::Task<void> disabling = m_manager.disableLocalProxy(false);
    runTask(awaitBoth(std::move(enabling), std::move(disabling)));

    // The disable saw the enable's snapshot and put everything back.
    EXPECT_FALSE(m_manager.hasSnapshot());
    EXPECT_EQ(stored("Wi-Fi", kWeb), (ProxyState{true, "proxy.lan", 3128}));
    EXPECT_FALSE(stored("Ethernet", kSocks).enabled);
    EXPECT_TRUE(storedBypass("Ethernet").isEmpty());

    // 1 listing, 4 snapshot reads and 8 enable commands per service, then the disable.
    const QList<QStringList> calls = networkSetupCalls();
    ASSERT_GT(calls.size(), 25);
    EXPECT_EQ(calls[0], QStringList{"-listallnetworkservices"});
    EXPECT_EQ(calls[24], (QStringList{"-setsocksfirewallproxystate", "Ethernet", "on"}));
    EXPECT_EQ(calls[25], (QStringList{"-setwebproxy", "Wi-Fi", "proxy.lan", "3128", "off"}));
    for (qsizetype i = 0; i <= 24; ++i) {
        EXPECT_NE(calls[i].value(2), "off") << i;
    }
}

TEST_F(MacOSSystemProxyManagerTest, ADisableStartedFirstRunsToItsEndBeforeTheEnable) {
    writeServices({service("Wi-Fi", proxy(true, "127.0.0.1", 19095))});
    QCoro::Task<void> disabling = m_manager.disableLocalProxy(false);
    QCoro::Task<QStringList> enabling = m_manager.enableLocalProxy(19091);
    runTask(awaitBoth(std::move(enabling), std::move(disabling)));

    const QList<QStringList> calls = networkSetupCalls();
    ASSERT_GE(calls.size(), 6);
    // Sweep: listing, web read, switch-off, two reads; only then the enable's listing.
    EXPECT_EQ(calls[2], (QStringList{"-setwebproxystate", "Wi-Fi", "off"}));
    EXPECT_EQ(calls[5], QStringList{"-listallnetworkservices"});
    // The snapshot was taken after the sweep, so it holds a switched-off leftover.
    ASSERT_TRUE(m_manager.hasSnapshot());
    EXPECT_FALSE(m_manager.snapshot()->at(0).web.enabled);
    EXPECT_EQ(stored("Wi-Fi", kWeb), (ProxyState{true, "127.0.0.1", 19091}));
}

TEST_F(MacOSSystemProxyManagerTest, AnEnableNoLongerWantedWhenItsTurnComesDoesNothing) {
    writeServices({service("Wi-Fi")});
    bool wanted = true;
    QCoro::Task<void> disabling = m_manager.disableLocalProxy(false);
    QCoro::Task<QStringList> enabling =
        m_manager.enableLocalProxy(19090, [&wanted] { return wanted; });
    wanted = false;
    runTask(awaitBoth(std::move(enabling), std::move(disabling)));

    EXPECT_FALSE(m_manager.hasSnapshot());
    EXPECT_FALSE(stored("Wi-Fi", kWeb).enabled);
    EXPECT_TRUE(callsOf({"-setwebproxy", "-setwebproxystate"}).isEmpty());
}

} // namespace
