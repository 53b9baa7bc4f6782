#include "StandinRun.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using orvane::test::StandinRun;

namespace {

const QString kStandin = QStringLiteral(ORVANE_SING_BOX_STANDIN);
const QString kCurl = QStringLiteral("/usr/bin/curl");

// A local HTTP origin the proxied requests end at.
class Origin {
public:
    explicit Origin(const std::string& host = "127.0.0.1") {
        m_server.set_keep_alive_max_count(1);
        m_server.Get("/hello", [this](const httplib::Request&, httplib::Response& response) {
            ++m_requests;
            response.set_content("hello from origin", "text/plain");
        });
        m_server.Get(
            "/inspect", [this](const httplib::Request& request, httplib::Response& response) {
                ++m_requests;
                response.set_content(
                    "target=" + request.target +
                        " connection=" + request.get_header_value("Connection") +
                        " proxy-connection=" + request.get_header_value("Proxy-Connection"),
                    "text/plain");
            });
        m_server.Post("/echo",
                      [this](const httplib::Request& request, httplib::Response& response) {
                          ++m_requests;
                          response.set_content(request.body, "application/octet-stream");
                      });
        m_port = m_server.bind_to_any_port(host);
        if (m_port > 0) {
            m_thread = std::thread([this] { m_server.listen_after_bind(); });
            while (!m_server.is_running()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    ~Origin() {
        m_server.stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int port() const { return m_port; }
    int requests() const { return m_requests; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = -1;
    std::atomic<int> m_requests = 0;
};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool listening(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(500);
}

QJsonObject inbound(const QString& type, const QString& tag, const QJsonValue& port) {
    return {{"type", type}, {"tag", tag}, {"listen", "127.0.0.1"}, {"listen_port", port}};
}

// The shape the client writes: local inbounds, a node outbound, direct and block, DNS and rules.
QJsonObject nodeConfig(quint16 port = 19090, quint16 aiPort = 19091) {
    return {
        {"log", QJsonObject{{"level", "info"}}},
        {"inbounds", QJsonArray{inbound("mixed", "orvane-system-proxy", port),
                                inbound("mixed", "orvane-ai-proxy", QString::number(aiPort))}},
        {"outbounds",
         QJsonArray{QJsonObject{{"type", "vless"}, {"tag", "proxy"}, {"server", "127.0.0.1"}},
                    QJsonObject{{"type", "direct"}},
                    QJsonObject{{"type", "block"}, {"tag", "block"}}}},
        {"dns",
         QJsonObject{{"strategy", "ipv4_only"},
                     {"final", "cloudflare"},
                     {"servers", QJsonArray{QJsonObject{{"tag", "cloudflare"},
                                                        {"type", "https"},
                                                        {"server", "1.1.1.1"},
                                                        {"domain_resolver", "bootstrap"}},
                                            QJsonObject{{"tag", "bootstrap"}, {"type", "udp"}}}},
                     {"rules", QJsonArray{QJsonObject{{"domain_suffix", QJsonArray{"cn"}},
                                                      {"server", "bootstrap"}}}}}},
        {"route",
         QJsonObject{
             {"auto_detect_interface", true},
             {"default_domain_resolver", QJsonObject{{"server", "bootstrap"}}},
             {"final", "proxy"},
             {"rules",
              QJsonArray{
                  QJsonObject{{"inbound", "orvane-system-proxy"}, {"action", "sniff"}},
                  QJsonObject{{"inbound", QJsonArray{"orvane-system-proxy", "orvane-ai-proxy"}},
                              {"domain_suffix", QJsonArray{"openai.com"}},
                              {"outbound", "proxy"}},
                  QJsonObject{{"inbound", "orvane-system-proxy"},
                              {"ip_cidr", QJsonArray{"10.0.0.0/8"}},
                              {"outbound", "direct"}},
                  QJsonObject{{"inbound", "orvane-ai-proxy"}, {"outbound", "proxy"}}}}}},
    };
}

QJsonObject mixedConfig(quint16 port, const QJsonObject& knobs = {}) {
    QJsonObject config{
        {"inbounds", QJsonArray{inbound("mixed", "mixed-in", port)}},
        {"outbounds", QJsonArray{QJsonObject{{"type", "direct"}, {"tag", "direct"}}}}};
    if (!knobs.isEmpty()) {
        config["_standin"] = knobs;
    }
    return config;
}

// Replaces the value at a path of object keys and list indexes.
QJsonValue patched(const QJsonValue& value, QStringList path, const QJsonValue& replacement) {
    if (path.isEmpty()) {
        return replacement;
    }
    const QString step = path.takeFirst();
    if (value.isArray()) {
        QJsonArray list = value.toArray();
        list[step.toInt()] = patched(list[step.toInt()], path, replacement);
        return list;
    }
    QJsonObject object = value.toObject();
    object[step] = patched(object[step], path, replacement);
    return object;
}

class SingBoxStandin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    void TearDown() override {
        for (auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(60000);
            }
        }
    }

    QString write(const QJsonObject& config, const QString& name = "config.json") {
        return writeText(QJsonDocument(config).toJson(), name);
    }
    QString writeText(const QByteArray& text, const QString& name = "config.json") {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        return path;
    }

    StandinRun check(const QString& path) {
        return StandinRun::of(kStandin, {"check", "-c", path});
    }

    QProcess* start(const QString& path) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        m_log.clear();
        process->start(kStandin, {"run", "-c", path});
        EXPECT_TRUE(process->waitForStarted(60000));
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    // Waits until the log of the last started process holds `text` or the process has ended.
    bool waitForLog(QProcess* process, const QString& text, int ms = 60000) {
        QElapsedTimer timer;
        timer.start();
        while (!m_log.contains(text) && timer.elapsed() < ms) {
            if (process->state() == QProcess::NotRunning) {
                m_log += QString::fromUtf8(process->readAll());
                break;
            }
            process->waitForReadyRead(50);
            m_log += QString::fromUtf8(process->readAll());
        }
        return m_log.contains(text);
    }

    QProcess* startServing(const QString& path) {
        QProcess* process = start(path);
        EXPECT_TRUE(waitForLog(process, "sing-box started")) << m_log.toStdString();
        return process;
    }

    // Ends within `ms` with `status`; collects the rest of its output.
    void expectExit(QProcess* process, int status, int ms = 60000) {
        ASSERT_TRUE(process->waitForFinished(ms)) << m_log.toStdString();
        m_log += QString::fromUtf8(process->readAll());
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), status) << m_log.toStdString();
    }

    static StandinRun curl(const QStringList& args) {
        const QStringList common = {"-sS", "--connect-timeout", "3", "--max-time", "5"};
        return StandinRun::of(kCurl, common + args,
                              {{"http_proxy", ""},
                               {"https_proxy", ""},
                               {"HTTPS_PROXY", ""},
                               {"ALL_PROXY", ""},
                               {"all_proxy", ""},
                               {"NO_PROXY", ""},
                               {"no_proxy", ""}});
    }

    QTemporaryDir m_dir;
    QString m_log;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

TEST_F(SingBoxStandin, CheckAcceptsANodeConfigurationSilently) {
    const StandinRun result = check(write(nodeConfig()));
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

TEST_F(SingBoxStandin, CheckRejectsBrokenConfigurationsWithOneDiagnosticLine) {
    struct Case {
        const char* label;
        QStringList path;
        QJsonValue value;
        QString diagnostic;
    };
    const QList<Case> cases = {
        {"route rule outbound",
         {"route", "rules", "2", "outbound"},
         "proxy-x",
         "route rule[2]: outbound not found: proxy-x"},
        {"route rule inbound",
         {"route", "rules", "1", "inbound"},
         QJsonArray{"orvane-ai-proxy", "gone"},
         "route rule[1]: inbound not found: gone"},
        {"route final", {"route", "final"}, "nowhere", "route: final outbound not found: nowhere"},
        {"dns rule server",
         {"dns", "rules", "0", "server"},
         "local",
         "dns rule[0]: server not found: local"},
        {"dns final", {"dns", "final"}, "google", "dns: final server not found: google"},
        {"dns resolver",
         {"dns", "servers", "0", "domain_resolver"},
         "missing",
         "dns server[0]: domain_resolver not found: missing"},
        {"route resolver",
         {"route", "default_domain_resolver"},
         QJsonObject{{"server", "gone"}},
         "route: default_domain_resolver not found: gone"},
        {"tun inbound",
         {"inbounds", "1", "type"},
         "tun",
         "inbound[1]: unsupported inbound type: tun"},
        {"text port",
         {"inbounds", "0", "listen_port"},
         "80a",
         "inbound[0]: invalid listen_port: 80a"},
        {"port range",
         {"inbounds", "0", "listen_port"},
         70000,
         "inbound[0]: invalid listen_port: 70000"},
        {"fractional port",
         {"inbounds", "0", "listen_port"},
         8080.5,
         "inbound[0]: invalid listen_port: 8080.5"},
        {"duplicate outbound",
         {"outbounds", "2", "tag"},
         "proxy",
         "outbound[2]: duplicate outbound tag: proxy"},
        {"inbounds shape", {"inbounds"}, QJsonObject{}, "inbound: not a list"},
        {"knob type",
         {"_standin"},
         QJsonObject{{"exitAfterMs", "soon"}},
         "_standin.exitAfterMs: not a number of milliseconds"},
    };
    for (const Case& c : cases) {
        const QString path =
            write(patched(nodeConfig(), c.path, c.value).toObject(), QString(c.label) + ".json");
        const StandinRun result = check(path);
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(result.err, "FATAL[0000] decode config at " + path + ": " + c.diagnostic + "\n")
            << c.label;
    }

    QJsonObject noPort = nodeConfig();
    QJsonArray inbounds = noPort["inbounds"].toArray();
    inbounds[0] = QJsonObject{{"type", "mixed"}, {"tag", "orvane-system-proxy"}};
    noPort["inbounds"] = inbounds;
    EXPECT_TRUE(check(write(noPort)).err.endsWith("inbound[0]: missing listen_port\n"));
}

TEST_F(SingBoxStandin, CheckRejectsWhatIsNotAConfigurationObject) {
    const QList<std::pair<QByteArray, QString>> cases = {
        {"{\"inbounds\": [", "decode config at "},
        {"[1, 2]", "the top level is not an object"},
        {"", "decode config at "},
    };
    for (const auto& [text, fragment] : cases) {
        const StandinRun result = check(writeText(text));
        EXPECT_EQ(result.status, 1) << text.toStdString();
        EXPECT_TRUE(result.err.startsWith("FATAL[0000] ")) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(fragment)) << result.err.toStdString();
        EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
    }
    const StandinRun missing = check(m_dir.filePath("absent.json"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(
        missing.err.startsWith("FATAL[0000] read config at " + m_dir.filePath("absent.json")))
        << missing.err.toStdString();
}

TEST_F(SingBoxStandin, RelaysRealCurlThroughEveryProxyForm) {
    ASSERT_TRUE(QFile::exists(kCurl));
    Origin origin;
    ASSERT_GT(origin.port(), 0);
    const quint16 port = freePort();
    startServing(write(mixedConfig(port)));

    const QString proxy = "127.0.0.1:" + QString::number(port);
    const QString local = "http://127.0.0.1:" + QString::number(origin.port());
    const QString named = "http://localhost:" + QString::number(origin.port());
    // Past 1 MiB curl asks for "100 Continue" first.
    const QByteArray big(1500 * 1000, 'x');
    const QString bigFile = writeText(big, "body.bin");
    const QString binary = "Content-Type: application/octet-stream";
    struct Case {
        const char* label;
        QStringList args;
        QString body;
    };
    const QList<Case> cases = {
        {"socks5 domain", {"-x", "socks5h://" + proxy, named + "/hello"}, "hello from origin"},
        {"socks5 ipv4", {"--socks5", proxy, local + "/hello"}, "hello from origin"},
        {"http absolute uri", {"-x", "http://" + proxy, local + "/hello"}, "hello from origin"},
        {"http connect", {"-p", "-x", "http://" + proxy, local + "/hello"}, "hello from origin"},
        {"origin form",
         {"-x", "http://" + proxy, local + "/inspect?x=1"},
         "target=/inspect?x=1 connection=close proxy-connection="},
        {"two requests",
         {"-x", "http://" + proxy, local + "/hello", local + "/hello"},
         "hello from originhello from origin"},
        {"post body",
         {"-x", "http://" + proxy, "--data-binary", "a=1&b=2", local + "/echo"},
         "a=1&b=2"},
        {"large post",
         {"-x", "http://" + proxy, "-H", binary, "--data-binary", "@" + bigFile, local + "/echo"},
         QString::fromLatin1(big)},
        {"large post tunnelled",
         {"-p", "-x", "http://" + proxy, "-H", binary, "--data-binary", "@" + bigFile,
          local + "/echo"},
         QString::fromLatin1(big)},
        {"large post socks",
         {"-x", "socks5h://" + proxy, "-H", binary, "--data-binary", "@" + bigFile,
          named + "/echo"},
         QString::fromLatin1(big)},
    };
    for (const Case& c : cases) {
        const StandinRun result = curl(c.args);
        EXPECT_EQ(result.status, 0) << c.label << ": " << result.err.toStdString();
        EXPECT_EQ(result.out.size(), c.body.size()) << c.label;
        EXPECT_TRUE(result.out == c.body) << c.label << ": " << result.out.left(200).toStdString();
    }
}

TEST_F(SingBoxStandin, RelaysSocksRequestsForIPv6Targets) {
    Origin origin("::1");
    if (origin.port() <= 0) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const quint16 port = freePort();
    startServing(write(mixedConfig(port)));
    const StandinRun result = curl({"--socks5", "127.0.0.1:" + QString::number(port),
                                    "http://[::1]:" + QString::number(origin.port()) + "/hello"});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, "hello from origin");
}

TEST_F(SingBoxStandin, EachInboundTypeServesOnlyItsProtocol) {
    Origin origin;
    const quint16 socksPort = freePort();
    const quint16 httpPort = freePort();
    QJsonObject config = mixedConfig(0);
    config["inbounds"] =
        QJsonArray{inbound("socks", "socks-in", socksPort), inbound("http", "http-in", httpPort)};
    startServing(write(config));

    const QString url = "http://127.0.0.1:" + QString::number(origin.port()) + "/hello";
    const auto through = [&](const QString& scheme, quint16 port) {
        return curl({"-x", scheme + "://127.0.0.1:" + QString::number(port), url});
    };
    EXPECT_EQ(through("socks5h", socksPort).out, "hello from origin");
    EXPECT_NE(through("http", socksPort).status, 0);
    EXPECT_EQ(through("http", httpPort).out, "hello from origin");
    EXPECT_NE(through("socks5h", httpPort).status, 0);
}

TEST_F(SingBoxStandin, BlockOutboundsAndOutsideDestinationsAreRefused) {
    Origin origin;
    const quint16 port = freePort();
    QJsonObject config = mixedConfig(port);
    config["outbounds"] = QJsonArray{QJsonObject{{"type", "direct"}, {"tag", "direct"}},
                                     QJsonObject{{"type", "block"}, {"tag", "deny"}}};
    config["route"] = QJsonObject{
        {"rules", QJsonArray{QJsonObject{{"domain_suffix", QJsonArray{"blocked.localhost"}},
                                         {"outbound", "deny"}}}},
        {"final", "direct"}};
    startServing(write(config));

    const QString proxy = "127.0.0.1:" + QString::number(port);
    const QString originPort = QString::number(origin.port());
    EXPECT_EQ(curl({"-x", "socks5h://" + proxy, "http://localhost:" + originPort + "/hello"}).out,
              "hello from origin");
    EXPECT_EQ(origin.requests(), 1);

    for (const QString& host : {QString("blocked.localhost"), QString("www.blocked.localhost"),
                                QString("example.invalid")}) {
        const QString url = "http://" + host + ":" + originPort + "/hello";
        EXPECT_EQ(curl({"-x", "socks5h://" + proxy, url}).status, 97) << host.toStdString();
        const StandinRun http =
            curl({"-x", "http://" + proxy, "-o", "/dev/null", "-w", "%{http_code}", url});
        EXPECT_EQ(http.out, "403") << host.toStdString();
    }
    EXPECT_EQ(origin.requests(), 1);
    EXPECT_TRUE(waitForLog(m_processes.back().get(), "refused connection to example.invalid:"));
}

TEST_F(SingBoxStandin, ATakenPortEndsTheRunAtOnce) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 taken = holder.serverPort();
    QProcess* process = start(write(mixedConfig(taken)));
    expectExit(process, 1);
    EXPECT_TRUE(
        m_log.contains("FATAL[0000] start service: start inbound/mixed[mixed-in]: listen tcp "
                       "127.0.0.1:" +
                       QString::number(taken) + ": bind: address already in use"))
        << m_log.toStdString();

    // Two inbounds on one port collide the same way.
    const quint16 port = freePort();
    QJsonObject twice = mixedConfig(port);
    twice["inbounds"] = QJsonArray{inbound("mixed", "a", port), inbound("socks", "b", port)};
    expectExit(start(write(twice)), 1);
    EXPECT_TRUE(m_log.contains("bind: address already in use")) << m_log.toStdString();
}

TEST_F(SingBoxStandin, RunRefusesInvalidFilesAndNonLoopbackListeners) {
    QJsonObject dangling = mixedConfig(freePort());
    dangling["route"] = QJsonObject{{"final", "proxy-x"}};
    expectExit(start(write(dangling)), 1);
    EXPECT_TRUE(m_log.contains("route: final outbound not found: proxy-x")) << m_log.toStdString();

    const quint16 port = freePort();
    QJsonObject open = mixedConfig(port);
    open["inbounds"] =
        QJsonArray{QJsonObject{{"type", "mixed"}, {"listen", "0.0.0.0"}, {"listen_port", port}}};
    expectExit(start(write(open)), 1);
    EXPECT_TRUE(m_log.contains("listen tcp 0.0.0.0:" + QString::number(port)))
        << m_log.toStdString();
    EXPECT_FALSE(m_log.contains("bind:")) << m_log.toStdString();
}

TEST_F(SingBoxStandin, HangUpRebindsToTheRereadFile) {
    Origin origin;
    const quint16 dropped = freePort();
    const quint16 kept = freePort();
    const quint16 added = freePort();
    QJsonObject config = mixedConfig(0);
    config["inbounds"] = QJsonArray{inbound("mixed", "a", dropped), inbound("mixed", "b", kept)};
    const QString path = write(config);
    QProcess* process = startServing(path);

    config["inbounds"] = QJsonArray{inbound("mixed", "b", kept), inbound("http", "c", added)};
    write(config);
    ::kill(static_cast<pid_t>(process->processId()), SIGHUP);
    ASSERT_TRUE(waitForLog(process, "sing-box reloaded")) << m_log.toStdString();

    EXPECT_FALSE(listening(dropped));
    EXPECT_TRUE(listening(kept));
    const QString url = "http://127.0.0.1:" + QString::number(origin.port()) + "/hello";
    EXPECT_EQ(curl({"-x", "http://127.0.0.1:" + QString::number(added), url}).out,
              "hello from origin");
    EXPECT_EQ(curl({"-x", "socks5h://127.0.0.1:" + QString::number(kept), url}).out,
              "hello from origin");
    EXPECT_EQ(process->state(), QProcess::Running);
}

TEST_F(SingBoxStandin, HangUpWithAnUnusableFileEndsTheRun) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    struct Case {
        const char* label;
        std::function<QByteArray(quint16)> next;
        QString logged;
    };
    const QList<Case> cases = {
        {"invalid json", [](quint16) { return QByteArray("{\"inbounds\": "); },
         "reload service: decode config at "},
        {"dangling outbound",
         [](quint16 port) {
             QJsonObject next = mixedConfig(port);
             next["route"] = QJsonObject{{"rules", QJsonArray{QJsonObject{{"outbound", "gone"}}}}};
             return QJsonDocument(next).toJson();
         },
         "route rule[0]: outbound not found: gone"},
        {"taken port",
         [&holder](quint16) { return QJsonDocument(mixedConfig(holder.serverPort())).toJson(); },
         "127.0.0.1:" + QString::number(holder.serverPort()) + ": bind: address already in use"},
    };
    for (const Case& c : cases) {
        const quint16 port = freePort();
        const QString path = write(mixedConfig(port), QString(c.label) + ".json");
        QProcess* process = startServing(path);
        writeText(c.next(port), QString(c.label) + ".json");
        ::kill(static_cast<pid_t>(process->processId()), SIGHUP);
        expectExit(process, 1);
        EXPECT_TRUE(m_log.contains(c.logged)) << c.label << ": " << m_log.toStdString();
    }
}

TEST_F(SingBoxStandin, TerminateAndInterruptEndTheRunCleanly) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const quint16 port = freePort();
        QProcess* process = startServing(write(mixedConfig(port)));
        ::kill(static_cast<pid_t>(process->processId()), signal);
        expectExit(process, 0);
        EXPECT_FALSE(listening(port));
    }
    // Nothing but the configuration is left behind: no pid file.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"config.json"});
}

TEST_F(SingBoxStandin, FaultKnobsShapeCheckAndRun) {
    const QString failing = "FATAL[0000] decode config at x: injected failure";
    const QString failPath = write(mixedConfig(freePort(), {{"failCheck", failing}}));
    const StandinRun failed = check(failPath);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, failing + "\n");
    expectExit(start(failPath), 1);
    EXPECT_TRUE(m_log.contains(failing));

    const QString exitLog = "FATAL[0001] start service: bind: address already in use";
    QProcess* exiting =
        startServing(write(mixedConfig(freePort(), {{"exitAfterMs", 300}, {"exitLog", exitLog}})));
    expectExit(exiting, 1);
    EXPECT_TRUE(m_log.contains(exitLog)) << m_log.toStdString();

    QProcess* dying = startServing(write(mixedConfig(freePort(), {{"dieOnSighup", true}})));
    ::kill(static_cast<pid_t>(dying->processId()), SIGHUP);
    expectExit(dying, 1);
    EXPECT_TRUE(m_log.contains("FATAL[0000] reload service:")) << m_log.toStdString();

    startServing(write(mixedConfig(freePort(), {{"ansiLog", true}})));
    EXPECT_TRUE(m_log.contains("\x1b[36mINFO\x1b[0m[0000] sing-box started"))
        << m_log.toStdString();
    QJsonObject dangling = mixedConfig(freePort(), {{"ansiLog", true}});
    dangling["route"] = QJsonObject{{"final", "x"}};
    EXPECT_TRUE(check(write(dangling)).err.startsWith("\x1b[31mFATAL\x1b[0m[0000] decode config"));
}

TEST_F(SingBoxStandin, IgnoredTerminateStillYieldsToKill) {
    const quint16 port = freePort();
    QProcess* process = startServing(write(mixedConfig(port, {{"ignoreSigterm", true}})));
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    ::kill(static_cast<pid_t>(process->processId()), SIGINT);
    EXPECT_FALSE(process->waitForFinished(300));
    EXPECT_TRUE(listening(port));
    process->kill();
    EXPECT_TRUE(process->waitForFinished(60000));
}

TEST_F(SingBoxStandin, StartDelayHoldsTheListenerBack) {
    const quint16 port = freePort();
    QProcess* process = start(write(mixedConfig(port, {{"startDelayMs", 800}})));
    ASSERT_TRUE(waitForLog(process, "waiting 800 ms before listening")) << m_log.toStdString();
    EXPECT_FALSE(listening(port));
    ASSERT_TRUE(waitForLog(process, "sing-box started")) << m_log.toStdString();
    EXPECT_TRUE(listening(port));
}

} // namespace
