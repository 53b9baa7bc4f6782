#include "AppFolders.h"
#include "AtomicFile.h"
#include "LocalHTTPServer.h"
#include "CancelToken.h"
#include "ChildProcesses.h"
#include "IsolatedRuntimeProfile.h"
#include "ProcessRunner.h"
#include "RunTask.h"
#include "SingBoxRuntimeCoordinator.h"
#include "SingBoxRuntimeError.h"
#include "StandinFixture.h"
#include "TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

const QString kNoLog = QStringLiteral("没有捕获到 sing-box 输出日志。");

QString writeTemp(const test::TempHome& home, const QString& name, const QByteArray& content) {
    const QString path = home.root() + QLatin1Char('/') + name;
    AtomicFile::write(path, content);
    return path;
}

SingBoxRuntimeError::Case errorCaseOf(const std::function<void()>& body, QString* description = nullptr) {
    try {
        body();
    } catch (const SingBoxRuntimeError& e) {
        if (description) {
            *description = e.localizedDescription();
        }
        return e.errorCase();
    }
    ADD_FAILURE() << "no SingBoxRuntimeError";
    return SingBoxRuntimeError::Case::missingBinary;
}

void instantSleeps(SingBoxRuntimeCoordinator& coordinator) {
    coordinator.setSleepFunction([](std::chrono::milliseconds) -> QCoro::Task<void> { co_return; });
}

} // namespace

TEST(SingBoxRuntimeTextTest, CleanMessageKeepsLastTenLinesWithoutColours) {
    EXPECT_EQ(SingBoxRuntimeCoordinator::cleanMessage(QString()), kNoLog);
    EXPECT_EQ(SingBoxRuntimeCoordinator::cleanMessage(QStringLiteral(" \n\t\n")), kNoLog);
    EXPECT_EQ(SingBoxRuntimeCoordinator::cleanMessage(QStringLiteral("\x1B[31m\x1B[0m")), kNoLog);
    EXPECT_EQ(SingBoxRuntimeCoordinator::cleanMessage(
                  QStringLiteral("\x1B[36mINFO\x1B[0m[0000] started\n\n\x1B[1;31mFATAL\x1B[0m x\n")),
              QStringLiteral("INFO[0000] started\nFATAL x"));
    QStringList lines;
    for (int i = 1; i <= 25; ++i) {
        lines << QStringLiteral("line %1").arg(i) << QString();
    }
    QStringList expected;
    for (int i = 16; i <= 25; ++i) {
        expected << QStringLiteral("line %1").arg(i);
    }
    EXPECT_EQ(SingBoxRuntimeCoordinator::cleanMessage(lines.join(QLatin1Char('\n'))),
              expected.join(QLatin1Char('\n')));
}

TEST(SingBoxRuntimeTextTest, AddressInUseDetection) {
    EXPECT_TRUE(SingBoxRuntimeCoordinator::isAddressInUse(
        QStringLiteral("listen tcp 127.0.0.1:19090: bind: address already in use")));
    EXPECT_TRUE(SingBoxRuntimeCoordinator::isAddressInUse(QStringLiteral("Address Already In Use")));
    EXPECT_TRUE(SingBoxRuntimeCoordinator::isAddressInUse(QStringLiteral("BIND: permission denied")));
    EXPECT_FALSE(SingBoxRuntimeCoordinator::isAddressInUse(QStringLiteral("connection refused")));
}

TEST(SingBoxRuntimeTextTest, OwnershipNeedsSingBoxAndAMarker) {
    const struct {
        const char* command;
        bool owned;
    } cases[] = {
        {"/opt/x/sing-box run -c /home/u/.local/share/Orvane/Protocols/orvane-active.json", true},
        {"/Applications/Orvane.app/Contents/Resources/sing-box run -c /tmp/a.json", true},
        {"sing-box run -c /Users/u/Library/Application Support/Orvane/x.json", true},
        {"/usr/local/bin/sing-box run -c /etc/velmo.json", true},
        {"/usr/local/bin/sing-box run -c /etc/sing-box/config.json", false},
        {"/usr/bin/orvane-helper --port 19090", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SingBoxRuntimeCoordinator::isOwnedSingBoxCommand(QString::fromUtf8(c.command)), c.owned)
            << c.command;
    }
}

TEST(SingBoxRuntimeFilesTest, ListenPortsOfAConfiguration) {
    test::TempHome home;
    const struct {
        const char* json;
        QList<int> ports;
    } cases[] = {
        {R"({"inbounds":[{"type":"mixed","listen_port":19093},{"type":"socks","listen_port":"19091"}]})", {19091, 19093}},
        {R"({"inbounds":[{"listen_port":19095},{"listen_port":19095},{"listen_port":"+19092"}]})", {19092, 19095}},
        {R"({"inbounds":[{"listen_port":19095.5},{"listen_port":""},{"listen_port":"12a"},{"listen_port":true}]})", {19090}},
        {R"({"inbounds":[]})", {19090}},
        {R"({"outbounds":[]})", {19090}},
        {R"({"inbounds":{"listen_port":1}})", {19090}},
        {R"([1,2])", {19090}},
        {R"(not json)", {19090}},
    };
    for (const auto& c : cases) {
        const QString path = writeTemp(home, QStringLiteral("c.json"), c.json);
        EXPECT_EQ(SingBoxRuntimeCoordinator::listenPorts(path), c.ports) << c.json;
    }
    EXPECT_EQ(SingBoxRuntimeCoordinator::listenPorts(home.root() + QStringLiteral("/missing.json")),
              QList<int>{19090});
}

TEST(SingBoxRuntimeFilesTest, PidFileValuesThatMustNeverBeSignalled) {
    test::TempHome home;
    const QString own = QString::number(QCoreApplication::applicationPid());
    const struct {
        QByteArray content;
        std::optional<qint32> pid;
    } cases[] = {
        {"4321", 4321},
        {"  4321\n", 4321},
        {"+4321", 4321},
        {"", std::nullopt},
        {" \n", std::nullopt},
        {"abc", std::nullopt},
        {"12 34", std::nullopt},
        {"2147483648", std::nullopt},
        {"0", std::nullopt},
        {"1", std::nullopt},
        {"-1", std::nullopt},
        {"-4321", std::nullopt},
        {own.toUtf8(), std::nullopt},
    };
    for (const auto& c : cases) {
        const QString path = writeTemp(home, QStringLiteral("sing-box.pid"), c.content);
        EXPECT_EQ(SingBoxRuntimeCoordinator::readPID(path), c.pid) << c.content.constData();
    }
    EXPECT_EQ(SingBoxRuntimeCoordinator::readPID(home.root() + QStringLiteral("/none.pid")), std::nullopt);
}

TEST(SingBoxRuntimeFilesTest, LogTail) {
    test::TempHome home;
    SingBoxRuntimeCoordinator coordinator;
    EXPECT_EQ(coordinator.logTail(), kNoLog); // no log yet
    EXPECT_EQ(coordinator.logTail(home.root() + QStringLiteral("/missing.log")), kNoLog);
    EXPECT_EQ(coordinator.logTail(writeTemp(home, QStringLiteral("a.log"), "")), kNoLog);
    EXPECT_EQ(coordinator.logTail(writeTemp(home, QStringLiteral("b.log"), "  \n \n")), kNoLog);
    EXPECT_EQ(coordinator.logTail(writeTemp(home, QStringLiteral("c.log"), "\xff\xfe oops")), kNoLog);
    EXPECT_EQ(coordinator.logTail(writeTemp(home, QStringLiteral("d.log"), "\x1b[31mFATAL\x1b[0m bind: x\n")),
              QStringLiteral("FATAL bind: x"));
}

TEST(SingBoxRuntimeFilesTest, RuntimeDirectoryIsPrivate) {
    test::TempHome home;
    const QString dir = SingBoxRuntimeCoordinator::runtimeDirectory();
    EXPECT_EQ(dir, AppFolders::applicationSupportDirectory() + QStringLiteral("/sing-box"));
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_EQ(QFile::permissions(dir) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
}

TEST(SingBoxRuntimeErrorTest, Descriptions) {
    EXPECT_EQ(SingBoxRuntimeError::invalidConfig(kNoLog).localizedDescription(),
              QStringLiteral("sing-box 配置校验失败：没有捕获到 sing-box 输出日志。"));
    EXPECT_EQ(SingBoxRuntimeError::exitedEarly(QStringLiteral("x")).localizedDescription(),
              QStringLiteral("sing-box 启动后立即退出：x"));
    EXPECT_EQ(SingBoxRuntimeError::privilegedLaunchFailed(QStringLiteral("x")).localizedDescription(),
              QStringLiteral("sing-box 管理员权限启动失败：x"));
    EXPECT_EQ(SingBoxRuntimeError::reloadFailed(QStringLiteral("x")).localizedDescription(),
              QStringLiteral("sing-box 热重载失败：x"));
    EXPECT_EQ(SingBoxRuntimeError::portInUse(19090, QStringLiteral("42 nginx")).localizedDescription(),
              QStringLiteral("本地代理端口 19090 已被占用，请退出旧版 Orvane 或占用该端口的程序后重试。占用进程：42 nginx"));
    EXPECT_EQ(SingBoxRuntimeError::missingBinary().localizedDescription(),
              QStringLiteral("未找到 sing-box 内核。正式安装包需要在 App 资源中内置 sing-box。"));
    EXPECT_EQ(SingBoxRuntimeError::staleRuntimeNeedsCleanup().localizedDescription(),
              QStringLiteral("检测到旧连接残留，需要清理后再连接。请先退出旧版 Orvane，或重启电脑后重试。"));
}

TEST(SingBoxRuntimeTextTest, PrivilegedScriptQuoting) {
    EXPECT_EQ(SingBoxRuntimeCoordinator::privilegedScript(QStringLiteral("echo \"a\\b\"\nkill 1")),
              QStringLiteral("do shell script \"echo \\\"a\\\\b\\\"\nkill 1\" with administrator privileges"));
}

namespace {

const QString kOwnCommand =
    QStringLiteral("/opt/orvane/sing-box run -c /home/u/.local/share/Orvane/Protocols/orvane-active.json");

QJsonObject process(const QString& command, QList<int> listens = {}, bool survivesTerm = false,
                    bool survivesKill = false) {
    QJsonArray ports;
    for (int p : listens) {
        ports.append(p);
    }
    return QJsonObject{{QStringLiteral("command"), command},
                       {QStringLiteral("listens"), ports},
                       {QStringLiteral("survivesTerm"), survivesTerm},
                       {QStringLiteral("survivesKill"), survivesKill}};
}

// The engine against the scripted process table: nothing real is ever signalled.
class StaleCleanupTest : public ::testing::Test {
protected:
    StaleCleanupTest() : coordinator(fakeTools()) { instantSleeps(coordinator); }

    ToolPaths fakeTools() const {
        ToolPaths tools = ToolPaths::platformDefaults();
        tools.lsof = fixture.tool("lsof");
        tools.ps = fixture.tool("ps");
        tools.kill = fixture.tool("kill");
        tools.osascript = fixture.tool("osascript");
        return tools;
    }
    void setProcesses(const QJsonObject& table) {
        fixture.writeProcesses(QJsonObject{{QStringLiteral("processes"), table}});
    }
    QJsonObject remaining() const {
        return fixture.readProcesses().value(QStringLiteral("processes")).toObject();
    }
    QStringList calls(const char* tool) const {
        QStringList out;
        for (const auto& call : fixture.invocations()) {
            if (call.tool == QLatin1String(tool)) {
                out << call.args.join(QLatin1Char(' '));
            }
        }
        return out;
    }
    QString pidFile(const QByteArray& content) {
        const QString path = SingBoxRuntimeCoordinator::runtimeDirectory() + QStringLiteral("/sing-box.pid");
        AtomicFile::write(path, content);
        return path;
    }
    QStringList cleanup(const QString& pidURL, QList<int> ports, bool allowPrivilege) {
        return test::runTask(coordinator.cleanupStaleRuntime(pidURL, ports, allowPrivilege));
    }

    test::TempHome home;
    test::StandinFixture fixture;
    SingBoxRuntimeCoordinator coordinator;
};

} // namespace

TEST_F(StaleCleanupTest, NothingFoundListsEachPortOnceAndRunsNothingElse) {
    setProcesses({});
    const QString pid = SingBoxRuntimeCoordinator::runtimeDirectory() + QStringLiteral("/sing-box.pid");
    EXPECT_TRUE(cleanup(pid, {19090, 19110}, false).isEmpty());
    for (const auto& call : fixture.invocations()) {
        EXPECT_EQ(call.tool, QStringLiteral("lsof"));
    }
    QStringList listed = calls("lsof");
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("-nP -iTCP:19090 -sTCP:LISTEN -t"),
                                   QStringLiteral("-nP -iTCP:19110 -sTCP:LISTEN -t")}));
}

TEST_F(StaleCleanupTest, OnlyPortsThatHadListenersAreListedAgain) {
    setProcesses({{QStringLiteral("4242"), process(QStringLiteral("/usr/sbin/nginx"), {19091})}});
    EXPECT_EQ(errorCaseOf([&] { cleanup(pidFile(""), {19090, 19091, 19092}, false); }),
              SingBoxRuntimeError::Case::portInUse);
    QStringList listed = calls("lsof");
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("-nP -iTCP:19090 -sTCP:LISTEN -t"),
                                   QStringLiteral("-nP -iTCP:19091 -sTCP:LISTEN -t"),
                                   QStringLiteral("-nP -iTCP:19091 -sTCP:LISTEN -t"),
                                   QStringLiteral("-nP -iTCP:19092 -sTCP:LISTEN -t")}));
}

TEST_F(StaleCleanupTest, ListingsSideBySideKeepEachPortsOwnListeners) {
    setProcesses({{QStringLiteral("301"), process(QStringLiteral("a"), {19095})},
                  {QStringLiteral("302"), process(QStringLiteral("b"), {19091, 19095})},
                  {QStringLiteral("303"), process(QStringLiteral("c"), {19109})}});
    QList<int> ports;
    for (int port = 19090; port <= 19110; ++port) {
        ports << port;
    }
    const QList<QList<qint32>> listeners = test::runTask(coordinator.listeningPIDs(ports));
    ASSERT_EQ(listeners.size(), ports.size());
    for (qsizetype i = 0; i < ports.size(); ++i) {
        QList<qint32> expected;
        if (ports[i] == 19091) {
            expected = {302};
        } else if (ports[i] == 19095) {
            expected = {301, 302};
        } else if (ports[i] == 19109) {
            expected = {303};
        }
        EXPECT_EQ(listeners[i], expected) << ports[i];
    }
}

TEST_F(StaleCleanupTest, FirstOccupiedPortInTheCallersOrderIsReported) {
    setProcesses({{QStringLiteral("401"), process(QStringLiteral("low"), {19091})},
                  {QStringLiteral("402"), process(QStringLiteral("high"), {19108})}});
    try {
        cleanup(pidFile(""), {19110, 19108, 19091}, false);
        ADD_FAILURE();
    } catch (const SingBoxRuntimeError& e) {
        EXPECT_EQ(e.port(), 19108);
        EXPECT_EQ(e.text(), QStringLiteral("402 high"));
    }
}

TEST_F(StaleCleanupTest, ForeignListenerIsNeverSignalledAndReported) {
    setProcesses({{QStringLiteral("4242"), process(QStringLiteral("/usr/sbin/nginx -g daemon"), {19090})}});
    QString description;
    EXPECT_EQ(errorCaseOf([&] { cleanup(pidFile("4242"), {19090}, true); }, &description),
              SingBoxRuntimeError::Case::portInUse);
    EXPECT_TRUE(description.endsWith(QStringLiteral("占用进程：4242 /usr/sbin/nginx -g daemon")))
        << description.toStdString();
    EXPECT_TRUE(calls("kill").isEmpty());
    EXPECT_TRUE(calls("osascript").isEmpty());
    EXPECT_TRUE(remaining().contains(QStringLiteral("4242")));
}

TEST_F(StaleCleanupTest, AtMostThreeOccupantsAreNamed) {
    setProcesses({{QStringLiteral("501"), process(QStringLiteral("a"), {19091})},
                  {QStringLiteral("502"), process(QStringLiteral("b"), {19091})},
                  {QStringLiteral("503"), process(QStringLiteral("c"), {19091})},
                  {QStringLiteral("504"), process(QStringLiteral("d"), {19091})}});
    try {
        cleanup(pidFile(""), {19090, 19091}, false);
        ADD_FAILURE();
    } catch (const SingBoxRuntimeError& e) {
        EXPECT_EQ(e.port(), 19091);
        EXPECT_EQ(e.text(), QStringLiteral("501 a；502 b；503 c"));
    }
}

TEST_F(StaleCleanupTest, OwnStaleProcessEndsOnTerminate) {
    setProcesses({{QStringLiteral("777"), process(kOwnCommand, {19090})}});
    const QString pid = pidFile("777\n");
    EXPECT_EQ(cleanup(pid, {19090}, false),
              QStringList{QStringLiteral("已清理上次异常退出留下的 Orvane 连接进程。")});
    EXPECT_EQ(calls("kill"), QStringList{QStringLiteral("777")});
    EXPECT_FALSE(QFile::exists(pid));
    EXPECT_TRUE(remaining().isEmpty());
}

TEST_F(StaleCleanupTest, SurvivorOfTerminateGetsKill) {
    setProcesses({{QStringLiteral("778"), process(kOwnCommand, {19092}, true)}});
    EXPECT_EQ(cleanup(pidFile(""), {19092}, false).size(), 1);
    EXPECT_EQ(calls("kill"), (QStringList{QStringLiteral("778"), QStringLiteral("-9 778")}));
}

TEST_F(StaleCleanupTest, SurvivorWithoutPrivilegeNeedsCleanupAndKeepsPidFile) {
    setProcesses({{QStringLiteral("779"), process(kOwnCommand, {19090}, true, true)}});
    const QString pid = pidFile("779");
    EXPECT_EQ(errorCaseOf([&] { cleanup(pid, {19090}, false); }),
              SingBoxRuntimeError::Case::staleRuntimeNeedsCleanup);
    EXPECT_TRUE(QFile::exists(pid));
    EXPECT_TRUE(calls("osascript").isEmpty());
}

TEST_F(StaleCleanupTest, SurvivorsGetOnePrivilegedScript) {
    setProcesses({{QStringLiteral("501"), process(kOwnCommand, {19090}, true, true)},
                  {QStringLiteral("502"), process(kOwnCommand, {19091}, true, true)}});
    // The privileged kills reach the same table; these two survive even them.
    EXPECT_EQ(errorCaseOf([&] { cleanup(pidFile(""), {19090, 19091}, true); }),
              SingBoxRuntimeError::Case::portInUse);
    const QStringList scripts = calls("osascript");
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_EQ(scripts[0],
              QStringLiteral("-e do shell script \"kill 501 >/dev/null 2>&1 || true\nsleep 0.2\n"
                             "kill -9 501 >/dev/null 2>&1 || true\nkill 502 >/dev/null 2>&1 || true\n"
                             "sleep 0.2\nkill -9 502 >/dev/null 2>&1 || true\" with administrator privileges"));
}

TEST_F(StaleCleanupTest, DeclinedPromptIsPrivilegedLaunchFailure) {
    setProcesses({{QStringLiteral("601"), process(kOwnCommand, {19090}, true, true)}});
    fixture.writeOsascript(QJsonObject{{QStringLiteral("decline"), true}});
    QString description;
    EXPECT_EQ(errorCaseOf([&] { cleanup(pidFile(""), {19090}, true); }, &description),
              SingBoxRuntimeError::Case::privilegedLaunchFailed);
    EXPECT_TRUE(description.contains(QStringLiteral("User canceled"))) << description.toStdString();
}

TEST_F(StaleCleanupTest, PidFileOfAnotherProgramIsLeftAlone) {
    setProcesses({{QStringLiteral("888"), process(QStringLiteral("/usr/bin/vim notes.txt"))}});
    const QString pid = pidFile("888");
    EXPECT_EQ(cleanup(pid, {19090}, false),
              QStringList{QStringLiteral("已检查本地代理端口，未发现 Orvane 残留占用。")});
    EXPECT_TRUE(calls("kill").isEmpty());
    EXPECT_FALSE(QFile::exists(pid));
}

TEST_F(StaleCleanupTest, UnsafePidsNeverReachKill) {
    const QString own = QString::number(QCoreApplication::applicationPid());
    setProcesses({{QStringLiteral("1"), process(kOwnCommand, {19090})},
                  {own, process(kOwnCommand, {19091})}});
    for (const QByteArray& value : {QByteArray("0"), QByteArray("1"), QByteArray("-1"), own.toUtf8()}) {
        fixture.clearInvocations();
        try {
            cleanup(pidFile(value), {19090, 19091}, true);
        } catch (const SingBoxRuntimeError&) {
            // The listeners are still reported as occupants; that is fine.
        }
        EXPECT_TRUE(calls("kill").isEmpty()) << value.constData();
        EXPECT_TRUE(calls("osascript").isEmpty()) << value.constData();
    }
}

TEST_F(StaleCleanupTest, StopSignalsOnlyAnOwnedPidFromThePidFile) {
    setProcesses({{QStringLiteral("901"), process(QStringLiteral("/usr/bin/postgres -D /var/lib"))},
                  {QStringLiteral("902"), process(kOwnCommand)}});
    const QString pid = pidFile("901");
    test::runTask(coordinator.stop(true));
    EXPECT_TRUE(calls("kill").isEmpty());
    EXPECT_FALSE(QFile::exists(pid));

    pidFile("902");
    test::runTask(coordinator.stop(false));
    EXPECT_EQ(calls("kill"), QStringList{QStringLiteral("902")});
}

TEST_F(StaleCleanupTest, ReloadWithoutAnyProcessSendsNoSignal) {
    setProcesses({{QStringLiteral("903"), process(QStringLiteral("/usr/bin/postgres"))}});
    pidFile("903");
    ToolPaths tools = fakeTools();
    tools.singBoxCandidates = {test::StandinFixture::binDir() + QStringLiteral("/sing-box")};
    SingBoxRuntimeCoordinator withBinary(tools);
    instantSleeps(withBinary);
    const QString config = writeTemp(home, QStringLiteral("c.json"),
                                     R"({"inbounds":[{"type":"mixed","tag":"m","listen":"127.0.0.1","listen_port":19099}],"outbounds":[{"type":"direct","tag":"direct"}]})");
    QString description;
    EXPECT_EQ(errorCaseOf([&] { test::runTask(withBinary.reload(config)); }, &description),
              SingBoxRuntimeError::Case::reloadFailed);
    EXPECT_EQ(description, QStringLiteral("sing-box 热重载失败：未找到正在运行的 sing-box 进程。"));
    EXPECT_TRUE(calls("kill").isEmpty());
}

namespace {

bool portAcceptsConnections(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(300);
}

// A local web page to fetch through the proxy.
class LocalWebServer {
public:
    LocalWebServer() {
        m_http.server().Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello through the proxy", "text/plain");
        });
    }
    QString url() const { return m_http.url("/hello").toString(); }

private:
    test::LocalHTTPServer m_http;
};

// Starts the sing-box stand-in through the coordinator, the way the application does.
class SingBoxStartTest : public ::testing::Test {
protected:
    SingBoxStartTest() {
        const QString real = test::StandinFixture::binDir() + QStringLiteral("/sing-box");
        m_runs = home.root() + QStringLiteral("/runs.txt");
        m_wrapper = home.root() + QStringLiteral("/bin/sing-box");
        // Counts every invocation, then becomes the stand-in (same pid, same command line).
        AtomicFile::write(m_wrapper,
                          QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\nexec '%2' \"$@\"\n")
                              .arg(m_runs, real)
                              .toUtf8(),
                          0700);
        ToolPaths tools = ToolPaths::platformDefaults();
        tools.singBoxCandidates = {home.root() + QStringLiteral("/missing/sing-box"), m_wrapper};
        tools.osascript = fixture.tool("osascript");
        coordinator = std::make_unique<SingBoxRuntimeCoordinator>(tools, profile);
    }
    ~SingBoxStartTest() override {
        test::endOwnChildren();
        coordinator.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // For a child the test expects to end by itself: every wait of the coordinator lasts until
    // that end was seen, however slowly the machine schedules the child.
    void waitsUntilTheChildEnds() {
        QPointer<QObject> owner(coordinator.get());
        coordinator->setSleepFunction([this, owner](std::chrono::milliseconds d) {
            waitedMs << d.count();
            return test::untilChildrenOf(owner);
        });
    }

    QString writeConfig(int port, const QJsonObject& standin = {}) {
        QJsonObject config{
            {QStringLiteral("log"), QJsonObject{{QStringLiteral("level"), QStringLiteral("info")}}},
            {QStringLiteral("inbounds"),
             QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("mixed")},
                                    {QStringLiteral("tag"), QStringLiteral("mixed-in")},
                                    {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                                    {QStringLiteral("listen_port"), port}}}},
            {QStringLiteral("outbounds"),
             QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("direct")},
                                    {QStringLiteral("tag"), QStringLiteral("direct")}}}},
            {QStringLiteral("route"), QJsonObject{{QStringLiteral("final"), QStringLiteral("direct")}}},
        };
        if (!standin.isEmpty()) {
            config.insert(QStringLiteral("_standin"), standin);
        }
        const QString path =
            AppFolders::applicationSupportDirectory() + QStringLiteral("/Protocols/orvane-active.json");
        AtomicFile::write(path, QJsonDocument(config).toJson());
        return path;
    }
    QStringList runs() const {
        QFile file(m_runs);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    TunnelActivation start(const QString& config) { return test::runTask(coordinator->start(config)); }

    // A port of this test process's own block that this test has not used yet.
    int freePort() { return profile.firstProxyPort + m_portsTaken++; }

    test::TempHome home;
    test::StandinFixture fixture;
    const RuntimeProfile profile = test::isolatedRuntimeProfile(home.root());
    std::unique_ptr<SingBoxRuntimeCoordinator> coordinator;
    // The waits the coordinator asked for, in order, in milliseconds.
    QList<qint64> waitedMs;

private:
    QString m_runs;
    QString m_wrapper;
    int m_portsTaken = 0;
};

CommandResult curlThrough(int proxyPort, const QString& url) {
    const QStringList arguments{QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("5"),
                                QStringLiteral("-x"),
                                QStringLiteral("socks5h://127.0.0.1:%1").arg(proxyPort), url};
    return test::runTask(ProcessRunner::run(QStringLiteral("/usr/bin/curl"), arguments));
}

} // namespace

TEST_F(SingBoxStartTest, StartsRelaysReloadsAndStopsWithoutLeftovers) {
    LocalWebServer web;
    const int port = freePort();
    const QString config = writeConfig(port);
    const TunnelActivation activation = start(config);
    EXPECT_EQ(activation.mode, TunnelActivation::Mode::singBox);
    EXPECT_EQ(activation.configURL, config);
    EXPECT_EQ(activation.proxyPort, port);
    EXPECT_EQ(activation.recoveryNotes, QStringList{QStringLiteral("sing-box 内核已启动。")});
    ASSERT_TRUE(coordinator->isChildRunning());
    EXPECT_EQ(runs(), (QStringList{QStringLiteral("check"), QStringLiteral("run")}));

    const CommandResult fetched = curlThrough(port, web.url());
    EXPECT_EQ(fetched.status, 0) << fetched.standardError.toStdString();
    EXPECT_EQ(fetched.standardOutput, QStringLiteral("hello through the proxy"));

    // Hot reload: the same file, rewritten, re-read on SIGHUP.
    const int newPort = freePort();
    writeConfig(newPort);
    test::runTask(coordinator->reload(config));
    EXPECT_TRUE(coordinator->isChildRunning());
    EXPECT_EQ(curlThrough(newPort, web.url()).standardOutput, QStringLiteral("hello through the proxy"));

    const qint64 pid = *coordinator->childPid();
    test::runTask(coordinator->stop(false));
    EXPECT_FALSE(coordinator->isChildRunning());
    EXPECT_TRUE(test::untilProcessCount(test::ownChildren, 0));
    EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0) << "sing-box still running";
    EXPECT_FALSE(portAcceptsConnections(newPort));
}

TEST_F(SingBoxStartTest, MissingExecutable) {
    ToolPaths tools = ToolPaths::platformDefaults();
    tools.singBoxCandidates = {home.root() + QStringLiteral("/nothing/sing-box")};
    SingBoxRuntimeCoordinator none(tools, profile);
    EXPECT_EQ(errorCaseOf([&] { test::runTask(none.start(writeConfig(freePort()))); }),
              SingBoxRuntimeError::Case::missingBinary);
}

TEST_F(SingBoxStartTest, RejectedConfigurationIsNeverRun) {
    const QString config =
        writeConfig(freePort(), {{QStringLiteral("failCheck"), QStringLiteral("outbound not found: proxy")}});
    QString description;
    EXPECT_EQ(errorCaseOf([&] { start(config); }, &description), SingBoxRuntimeError::Case::invalidConfig);
    EXPECT_TRUE(description.contains(QStringLiteral("outbound not found: proxy"))) << description.toStdString();
    EXPECT_EQ(runs(), QStringList{QStringLiteral("check")});
}

TEST_F(SingBoxStartTest, EarlyExitWithoutPortConflictIsNotRetried) {
    waitsUntilTheChildEnds();
    const QString config = writeConfig(
        freePort(), {{QStringLiteral("exitAfterMs"), 50}, {QStringLiteral("exitLog"), QStringLiteral("FATAL decode config: x")}});
    QString description;
    EXPECT_EQ(errorCaseOf([&] { start(config); }, &description), SingBoxRuntimeError::Case::exitedEarly);
    EXPECT_TRUE(description.contains(QStringLiteral("FATAL decode config: x"))) << description.toStdString();
    EXPECT_EQ(runs(), (QStringList{QStringLiteral("check"), QStringLiteral("run")}));
}

TEST_F(SingBoxStartTest, PortConflictGivesExactlyOneRelaunch) {
    waitsUntilTheChildEnds();
    const int port = freePort();
    const QString config = writeConfig(
        port, {{QStringLiteral("exitAfterMs"), 50},
               {QStringLiteral("exitLog"),
                QStringLiteral("FATAL listen tcp 127.0.0.1:%1: bind: address already in use").arg(port)}});
    QString description;
    EXPECT_EQ(errorCaseOf([&] { start(config); }, &description), SingBoxRuntimeError::Case::exitedEarly);
    EXPECT_EQ(runs(), (QStringList{QStringLiteral("check"), QStringLiteral("run"), QStringLiteral("run")}));
    // The log was emptied before the relaunch: one run's lines only.
    EXPECT_EQ(description.count(QStringLiteral("address already in use")), 1) << description.toStdString();
    // The relaunch is given the same time to fail as the first launch.
    EXPECT_EQ(waitedMs, (QList<qint64>{1100, 1100}));
}

// sing-box reports a bad outbound or a taken port by exiting soon after it starts: a launch
// counts as started only once it has stayed alive for 1.1 s.
TEST_F(SingBoxStartTest, ALaunchIsStartedOnlyAfterSurvivingItsWait) {
    coordinator->setSleepFunction([this](std::chrono::milliseconds d) -> QCoro::Task<void> {
        waitedMs << d.count();
        co_return;
    });
    start(writeConfig(freePort()));
    EXPECT_TRUE(coordinator->isChildRunning());
    EXPECT_EQ(waitedMs, QList<qint64>{1100});
}

// waitsUntilTheChildEnds gives up on a child that never ends: the test fails naming it instead
// of hanging until ctest's time-out.
TEST_F(SingBoxStartTest, WaitForAChildThatNeverEndsGivesUpNamingIt) {
    instantSleeps(*coordinator);
    start(writeConfig(freePort()));
    const qint64 pid = *coordinator->childPid();
    QPointer<QObject> owner(coordinator.get());
    EXPECT_NONFATAL_FAILURE(test::runTask(test::untilChildrenOf(owner, 0s)),
                            QStringLiteral("sing-box (pid %1) still running").arg(pid).toStdString());
}

// The child's end is reported in the same pass of the event loop in which the wait's own poll
// timer fires, the report first: the wait goes on and nothing is left to run on what it freed.
TEST(UntilChildrenOf, AnEndReportedAsThePollTimerFiresLeavesNothingBehind) {
    QObject owner;
    auto* child = new QProcess(&owner);
    child->start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child->waitForStarted(60000));
    QCoro::Task<void> waiting = test::untilChildrenOf(&owner);
    QTimer::singleShot(10ms, child, [child] {
        emit child->finished(0, QProcess::NormalExit);
        child->kill();
    });
    QThread::msleep(300); // both timers are due when the loop next runs
    test::runTask(std::move(waiting));
    EXPECT_EQ(child->state(), QProcess::NotRunning);
}

// A process told to end may take its time to leave the table: the wait lets it, and when its
// own time runs out it names each process still there.
TEST(UntilProcessCount, WaitsForAnEndingProcessAndNamesWhatIsLeft) {
    test::TempHome home;
    const QString marker = home.root() + QStringLiteral("/marker");
    const auto mentioning = [&] { return test::processesMentioning(marker); };
    QProcess ending;
    ending.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("trap 'sleep 1; exit 0' TERM; while :; do sleep 0.1; done"),
                  marker});
    ASSERT_TRUE(ending.waitForStarted(60000));
    EXPECT_TRUE(test::untilProcessCount(mentioning, 1));
    ending.terminate();
    EXPECT_TRUE(test::untilProcessCount(mentioning, 0));
    // Reaped by the wait's own event loop already, most often.
    EXPECT_TRUE(ending.state() == QProcess::NotRunning || ending.waitForFinished(60000));

    QProcess lasting;
    lasting.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("while :; do sleep 1; done"), marker});
    ASSERT_TRUE(lasting.waitForStarted(60000));
    const testing::AssertionResult left = test::untilProcessCount(mentioning, 0, 0s);
    EXPECT_FALSE(left);
    EXPECT_THAT(left.message(),
                testing::HasSubstr(QStringLiteral("pid %1: /bin/sh -c while :; do sleep 1; done %2")
                                       .arg(lasting.processId())
                                       .arg(marker)
                                       .toStdString()));
    lasting.kill();
    lasting.waitForFinished(60000);
}

TEST_F(SingBoxStartTest, ReloadAfterTheChildDied) {
    const QString config = writeConfig(freePort());
    start(config);
    ::kill(static_cast<pid_t>(*coordinator->childPid()), SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator->isChildRunning(); }));
    QString description;
    EXPECT_EQ(errorCaseOf([&] { test::runTask(coordinator->reload(config)); }, &description),
              SingBoxRuntimeError::Case::reloadFailed);
    EXPECT_EQ(description, QStringLiteral("sing-box 热重载失败：未找到正在运行的 sing-box 进程。"));
}

TEST_F(SingBoxStartTest, ReloadThatKillsTheChildIsAnEarlyExit) {
    const QString config = writeConfig(freePort(), {{QStringLiteral("dieOnSighup"), true}});
    start(config);
    waitsUntilTheChildEnds();
    EXPECT_EQ(errorCaseOf([&] { test::runTask(coordinator->reload(config)); }),
              SingBoxRuntimeError::Case::exitedEarly);
}

TEST_F(SingBoxStartTest, ASecondStartReplacesTheFirstChild) {
    const int port = freePort();
    const QString config = writeConfig(port);
    start(config);
    const qint64 first = *coordinator->childPid();
    const TunnelActivation second = start(config);
    EXPECT_NE(*coordinator->childPid(), first);
    EXPECT_EQ(second.proxyPort, port);
    // Reaped by the loop: gone from the process table, not just dying.
    EXPECT_TRUE(test::untilProcessCount(
        [&] {
            return test::ownChildren().contains(pid_t(first)) ? QList{pid_t(first)}
                                                              : QList<pid_t>{};
        },
        0));
    const qint64 last = *coordinator->childPid();
    test::runTask(coordinator->stop(false));
    EXPECT_TRUE(test::untilProcessCount(test::ownChildren, 0));
    EXPECT_NE(::kill(static_cast<pid_t>(last), 0), 0);
}
