#include "StandinFixture.h"
#include "StandinRun.h"

#include <gtest/gtest.h>

#include <QJsonArray>

using orvane::test::StandinFixture;
using orvane::test::StandinRun;

namespace {

const QString kOffReading =
    QStringLiteral("Enabled: No\nServer: \nPort: 0\nAuthenticated Proxy Enabled: 0\n");

class NetworkSetupStandin : public ::testing::Test {
protected:
    StandinRun networksetup(const QStringList& args, const std::map<QString, QString>& extra = {}) {
        return StandinRun::of(m_fixture.tool("networksetup"), args, extra);
    }
    StandinRun scutil() { return StandinRun::of(m_fixture.tool("scutil"), {"--proxy"}); }

    void setKnobs(const QJsonObject& knobs) {
        QJsonObject state = StandinFixture::defaultNetwork();
        state["knobs"] = knobs;
        m_fixture.writeNetwork(state);
    }

    StandinFixture m_fixture;
};

QJsonObject proxy(bool enabled, const QString& server, int port) {
    return {{"enabled", enabled}, {"server", server}, {"port", port}, {"authenticated", false}};
}

QJsonObject service(const QString& name, bool disabled, const QJsonObject& web,
                    const QJsonObject& secureWeb, const QJsonObject& socks,
                    const QStringList& bypass = {}) {
    return {{"name", name},   {"disabled", disabled},
            {"web", web},     {"secureWeb", secureWeb},
            {"socks", socks}, {"bypass", QJsonArray::fromStringList(bypass)}};
}

TEST_F(NetworkSetupStandin, ListsTheDefaultServicesWithTheDisabledOneStarred) {
    const StandinRun run = networksetup({"-listallnetworkservices"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "An asterisk (*) denotes that a network service is disabled.\n"
                       "Wi-Fi\nEthernet\n*Bluetooth PAN\n");
}

struct KindCase {
    const char* get;
    const char* set;
    const char* state;
    const char* key;
};

void PrintTo(const KindCase& kind, std::ostream* os) {
    *os << kind.key;
}

class NetworkSetupKinds : public NetworkSetupStandin,
                          public ::testing::WithParamInterface<KindCase> {};

TEST_P(NetworkSetupKinds, ReadsOffThenSetSwitchesOnAndStateSwitchesOff) {
    const KindCase kind = GetParam();
    EXPECT_EQ(networksetup({kind.get, "Wi-Fi"}).out, kOffReading);

    const StandinRun set = networksetup({kind.set, "Wi-Fi", "127.0.0.1", "19090", "off"});
    ASSERT_EQ(set.status, 0) << set.err.toStdString();
    EXPECT_TRUE(set.out.isEmpty());
    EXPECT_EQ(networksetup({kind.get, "Wi-Fi"}).out,
              "Enabled: Yes\nServer: 127.0.0.1\nPort: 19090\nAuthenticated Proxy Enabled: 0\n");
    // Only that kind of that service changed.
    EXPECT_EQ(networksetup({kind.get, "Ethernet"}).out, kOffReading);
    const QJsonObject wifi = m_fixture.readNetwork()["services"].toArray()[0].toObject();
    for (const char* other : {"web", "secureWeb", "socks"}) {
        EXPECT_EQ(wifi[other].toObject()["enabled"].toBool(), QLatin1String(other) == kind.key)
            << other;
    }

    ASSERT_EQ(networksetup({kind.state, "Wi-Fi", "off"}).status, 0);
    EXPECT_EQ(networksetup({kind.get, "Wi-Fi"}).out,
              "Enabled: No\nServer: 127.0.0.1\nPort: 19090\nAuthenticated Proxy Enabled: 0\n");
    ASSERT_EQ(networksetup({kind.state, "Wi-Fi", "on"}).status, 0);
    EXPECT_TRUE(networksetup({kind.get, "Wi-Fi"}).out.startsWith("Enabled: Yes\n"));

    ASSERT_EQ(networksetup({kind.set, "Wi-Fi", "proxy.example", "8080", "on", "u", "p"}).status, 0);
    EXPECT_EQ(networksetup({kind.get, "Wi-Fi"}).out,
              "Enabled: Yes\nServer: proxy.example\nPort: 8080\nAuthenticated Proxy Enabled: 1\n");
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, NetworkSetupKinds,
    ::testing::Values(KindCase{"-getwebproxy", "-setwebproxy", "-setwebproxystate", "web"},
                      KindCase{"-getsecurewebproxy", "-setsecurewebproxy",
                               "-setsecurewebproxystate", "secureWeb"},
                      KindCase{"-getsocksfirewallproxy", "-setsocksfirewallproxy",
                               "-setsocksfirewallproxystate", "socks"}),
    [](const auto& param) { return std::string(param.param.key); });

TEST_F(NetworkSetupStandin, BypassListIsReadOnePerLineAndClearedWithEmpty) {
    EXPECT_EQ(networksetup({"-getproxybypassdomains", "Wi-Fi"}).out,
              "There aren't any bypass domains set on Wi-Fi.\n");
    ASSERT_EQ(networksetup({"-setproxybypassdomains", "Wi-Fi", "*.local", "169.254/16"}).status, 0);
    EXPECT_EQ(networksetup({"-getproxybypassdomains", "Wi-Fi"}).out, "*.local\n169.254/16\n");
    EXPECT_EQ(networksetup({"-getproxybypassdomains", "Ethernet"}).out,
              "There aren't any bypass domains set on Ethernet.\n");
    ASSERT_EQ(networksetup({"-setproxybypassdomains", "Wi-Fi", "Empty"}).status, 0);
    EXPECT_EQ(networksetup({"-getproxybypassdomains", "Wi-Fi"}).out,
              "There aren't any bypass domains set on Wi-Fi.\n");
}

TEST_F(NetworkSetupStandin, RefusedCommandsFailAndChangeNothing) {
    const QList<std::pair<QStringList, int>> cases = {
        {{"-getwebproxy", "Nowhere"}, 4},
        {{"-setwebproxy", "Nowhere", "127.0.0.1", "19090", "off"}, 4},
        {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19o90", "off"}, 4},
        {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "70000"}, 4},
        {{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19090", "maybe"}, 4},
        {{"-setwebproxy", "Wi-Fi", "127.0.0.1"}, 4},
        {{"-setwebproxystate", "Wi-Fi", "yes"}, 4},
        {{"-setproxybypassdomains", "Wi-Fi"}, 4},
        {{"-listallnetworkservices", "extra"}, 4},
        {{"-setftpproxy", "Wi-Fi", "127.0.0.1", "21"}, 1},
        {{}, 1},
    };
    for (const auto& [args, status] : cases) {
        const StandinRun run = networksetup(args);
        EXPECT_EQ(run.status, status) << args.join(' ').toStdString();
        EXPECT_FALSE(run.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_EQ(m_fixture.readNetwork(), StandinFixture::defaultNetwork());
    EXPECT_EQ(networksetup({"-getwebproxy", "Nowhere"}).err,
              "** Error: Unable to find item in network database.\n");
}

TEST_F(NetworkSetupStandin, FailVerbsFailOnlyThoseVerbs) {
    setKnobs({{"failVerbs", QJsonArray{"-setwebproxy", "-setproxybypassdomains"}}});
    EXPECT_EQ(networksetup({"-setwebproxy", "Wi-Fi", "127.0.0.1", "19090", "off"}).status, 1);
    EXPECT_EQ(networksetup({"-setproxybypassdomains", "Wi-Fi", "a.cn"}).status, 1);
    EXPECT_EQ(networksetup({"-getwebproxy", "Wi-Fi"}).out, kOffReading);
    EXPECT_EQ(networksetup({"-setsecurewebproxy", "Wi-Fi", "127.0.0.1", "19090", "off"}).status, 0);
    EXPECT_EQ(networksetup({"-setwebproxystate", "Wi-Fi", "on"}).status, 0);
}

TEST_F(NetworkSetupStandin, FailServicesFailEverySetOnThatServiceOnly) {
    setKnobs({{"failServices", QJsonArray{"Wi-Fi"}}});
    for (const QStringList& args :
         {QStringList{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19090", "off"},
          QStringList{"-setsocksfirewallproxystate", "Wi-Fi", "on"},
          QStringList{"-setproxybypassdomains", "Wi-Fi", "Empty"}}) {
        const StandinRun run = networksetup(args);
        EXPECT_EQ(run.status, 1) << args.join(' ').toStdString();
        EXPECT_FALSE(run.err.isEmpty());
    }
    EXPECT_EQ(networksetup({"-getwebproxy", "Wi-Fi"}).status, 0);
    EXPECT_EQ(networksetup({"-setwebproxy", "Ethernet", "127.0.0.1", "19090", "off"}).status, 0);
}

TEST_F(NetworkSetupStandin, SetNeedsAdminFailsUntilRunAsAdministrator) {
    setKnobs({{"setNeedsAdmin", true}});
    const QStringList set{"-setwebproxy", "Wi-Fi", "127.0.0.1", "19091", "off"};
    const StandinRun plain = networksetup(set);
    EXPECT_NE(plain.status, 0);
    EXPECT_EQ(plain.err, "You need administrator privileges to run this command\n");
    EXPECT_EQ(networksetup({"-getwebproxy", "Wi-Fi"}).out, kOffReading);

    EXPECT_EQ(networksetup(set, {{"ORVANE_FAKE_ADMIN", "1"}}).status, 0);
    EXPECT_TRUE(networksetup({"-getwebproxy", "Wi-Fi"}).out.contains("Port: 19091\n"));

    const auto calls = m_fixture.invocations("networksetup");
    ASSERT_EQ(calls.size(), 4);
    EXPECT_FALSE(calls[1].admin);
    EXPECT_TRUE(calls[2].admin);
    EXPECT_EQ(calls[2].args, set);
}

TEST_F(NetworkSetupStandin, ScutilPrintsTheDictionaryOfTheServiceInUse) {
    const QJsonObject local = proxy(true, "127.0.0.1", 19090);
    m_fixture.writeNetwork(
        {{"services",
          QJsonArray{service("Bluetooth PAN", true, local, local, local),
                     service("Wi-Fi", false, proxy(false, "", 0), proxy(false, "", 0),
                             proxy(false, "", 0)),
                     service("Ethernet", false, local, local, local, {"*.local", "169.254/16"})}}});
    const StandinRun run = scutil();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "<dictionary> {\n"
                       "  ExceptionsList : <array> {\n"
                       "    0 : *.local\n"
                       "    1 : 169.254/16\n"
                       "  }\n"
                       "  FTPPassive : 1\n"
                       "  HTTPEnable : 1\n"
                       "  HTTPPort : 19090\n"
                       "  HTTPProxy : 127.0.0.1\n"
                       "  HTTPSEnable : 1\n"
                       "  HTTPSPort : 19090\n"
                       "  HTTPSProxy : 127.0.0.1\n"
                       "  SOCKSEnable : 1\n"
                       "  SOCKSPort : 19090\n"
                       "  SOCKSProxy : 127.0.0.1\n"
                       "}\n");
}

TEST_F(NetworkSetupStandin, ScutilFallsBackToTheFirstEnabledServiceWithKeysOnlyForServers) {
    m_fixture.writeNetwork(
        {{"services", QJsonArray{service("Bluetooth PAN", true, proxy(true, "10.1.1.1", 1), {}, {}),
                                 service("Wi-Fi", false, proxy(false, "127.0.0.1", 19093), {}, {}),
                                 service("Ethernet", false, {}, {}, {})}}});
    EXPECT_EQ(scutil().out, "<dictionary> {\n"
                            "  FTPPassive : 1\n"
                            "  HTTPEnable : 0\n"
                            "  HTTPPort : 19093\n"
                            "  HTTPProxy : 127.0.0.1\n"
                            "  HTTPSEnable : 0\n"
                            "  SOCKSEnable : 0\n"
                            "}\n");
}

TEST_F(NetworkSetupStandin, ScutilStaleCallsShowTheEmptyDictionaryAndCountDown) {
    ASSERT_EQ(networksetup({"-setwebproxy", "Wi-Fi", "127.0.0.1", "19090", "off"}).status, 0);
    QJsonObject state = m_fixture.readNetwork();
    state["knobs"] = QJsonObject{{"scutilStaleCalls", 2}};
    m_fixture.writeNetwork(state);

    const QString empty = "<dictionary> {\n  FTPPassive : 1\n  HTTPEnable : 0\n"
                          "  HTTPSEnable : 0\n  SOCKSEnable : 0\n}\n";
    EXPECT_EQ(scutil().out, empty);
    EXPECT_EQ(m_fixture.readNetwork()["knobs"].toObject()["scutilStaleCalls"].toInt(), 1);
    EXPECT_EQ(scutil().out, empty);
    EXPECT_TRUE(scutil().out.contains("HTTPPort : 19090\n"));
    EXPECT_EQ(m_fixture.readNetwork()["knobs"].toObject()["scutilStaleCalls"].toInt(), 0);
}

TEST_F(NetworkSetupStandin, ScutilKnowsOnlyTheProxyForm) {
    for (const QStringList& args :
         {QStringList{}, QStringList{"--dns"}, QStringList{"--proxy", "extra"}}) {
        EXPECT_NE(StandinRun::of(m_fixture.tool("scutil"), args).status, 0);
    }
}

} // namespace
