#include "TunnelCoordinator.h"

#include "AppFolders.h"
#include "AtomicFile.h"
#include "CancelToken.h"
#include "JSONValue.h"
#include "PlatformBuildConfig.h"
#include "ProcessRunner.h"
#include "SingBoxConfigRewriter.h"
#include "TunnelCoordinatorError.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <exception>

namespace orvane {

namespace {

using namespace std::chrono_literals;

QStringList defaultAIDomainSuffixes() {
    return {QStringLiteral("openai.com"),        QStringLiteral("chatgpt.com"),
            QStringLiteral("oaistatic.com"),     QStringLiteral("oaiusercontent.com"),
            QStringLiteral("openai.azureedge.net"), QStringLiteral("anthropic.com"),
            QStringLiteral("claude.ai"),         QStringLiteral("statsigapi.net"),
            QStringLiteral("segment.io"),        QStringLiteral("sentry.io")};
}

const QString kConfigKept = QStringLiteral("本地协议配置已保存用于菜单热重载。");
const QString kProxyOn = QStringLiteral("macOS 系统代理模式已启用。");
const QString kProxyOff = QStringLiteral("macOS 系统代理当前关闭，仅本地代理端口可用。");
const QString kDomesticDirect = QStringLiteral("国内 App 图片与 CDN 已启用直连保护。");
const QString kQuickStart = QStringLiteral("快速连接已通过本地代理出网检测。");
const QString kWebPassed = QStringLiteral("本地代理连通性检测通过。");
const QString kAIPassed = QStringLiteral("AI 增强模式连通性检测通过。");
const QString kWebFailed = QStringLiteral("本地代理已启动，但外网连通性检测失败，已自动回滚。");
const QString kAIFailed =
    QStringLiteral("AI 增强模式已启动，但 OpenAI/Claude 连通性检测未通过，正在切换其他节点。");
const QString kNotConfirmed = QStringLiteral("系统代理设置未生效，已自动回滚。");
const QString kSwitchNotApplied = QStringLiteral("系统代理设置未生效，请允许 Orvane 修改网络设置后重试。");
const QString kProxyRestored = QStringLiteral("已恢复 macOS 系统代理设置。");
const QString kProxyLost = QStringLiteral("系统代理未生效，已尝试重新设置但仍为空。");
const QString kConnectionGone = QStringLiteral("连接已断开，本次操作已取消。");

std::optional<int> parseStatus(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QString trimBlanksAndTabs(const QString& line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(line.at(begin))) {
        ++begin;
    }
    while (end > begin && blank(line.at(end - 1))) {
        --end;
    }
    return line.mid(begin, end - begin);
}

} // namespace

TunnelCoordinator::ProbeURLs TunnelCoordinator::ProbeURLs::defaults() {
    // From the build, so a development build probes the local service.
    const auto list = [](const char* joined) {
        return QString::fromUtf8(joined).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    };
    return {list(build::kProbeWebURLs), list(build::kProbeAIURLs)};
}

TunnelCoordinator::TunnelCoordinator(ToolPaths tools, ProbeURLs probes, RuntimeProfile profile,
                                     std::shared_ptr<TunnelPreferences> tunnelPreferences,
                                     QObject* parent)
    : QObject(parent), macOSProxyPort(profile.firstProxyPort),
      macOSProxyPortRange(profile.proxyPortRange()), aiProxyPort(profile.aiProxyPort),
      aiDomainSuffixes(defaultAIDomainSuffixes()), m_tools(std::move(tools)),
      m_probes(std::move(probes)),
      m_sleep([](std::chrono::milliseconds d) -> QCoro::Task<void> { co_await sleepFor(d); }),
      m_networkExtension(std::make_unique<NetworkExtensionTunnelCoordinator>(
          QStringLiteral("com.orvane.macos.PacketTunnel"), QStringLiteral("Orvane"),
          std::move(tunnelPreferences))),
      m_singBox(std::make_unique<SingBoxRuntimeCoordinator>(m_tools, profile)),
      m_systemProxyManager(std::make_unique<MacOSSystemProxyManager>(m_tools, profile)) {}

TunnelCoordinator::~TunnelCoordinator() = default;

void TunnelCoordinator::setSleepFunction(SleepFunction sleep) { m_sleep = std::move(sleep); }

// --- configuration files -------------------------------------------------------------------

void TunnelCoordinator::cleanupLegacyEndpointConfigFiles(const QString& folder) {
    SingBoxConfigRewriter::cleanupLegacyEndpointConfigFiles(folder);
}

QByteArray TunnelCoordinator::configData(const JSONValue& value) {
    return SingBoxConfigRewriter::configData(value);
}

QByteArray TunnelCoordinator::macOSSystemProxyConfigData(const QByteArray& source,
                                                         OutboundMode outboundMode,
                                                         int localProxyPort,
                                                         bool aiEnhancedModeEnabled) const {
    return SingBoxConfigRewriter::rewrite(source, outboundMode, localProxyPort,
                                          aiEnhancedModeEnabled, aiProxyPort, aiDomainSuffixes);
}

QString TunnelCoordinator::protocolsDirectory() {
    const QString folder = AppFolders::applicationSupportDirectory() + QStringLiteral("/Protocols");
    AtomicFile::makeDirectory(folder);
    return folder;
}

// --- node start ----------------------------------------------------------------------------

QCoro::Task<TunnelActivation> TunnelCoordinator::connect(ProtocolConfiguration protocolConfiguration,
                                                         OutboundMode outboundMode,
                                                         bool aiEnhancedModeEnabled,
                                                         bool systemProxyEnabled, bool quickStart) {
    const quint64 generation = advanceGeneration(true);
    m_startGeneration = generation;
    co_await m_systemProxyManager->disableLocalProxy(true);
    throwIfCancelled(generation);
    const int port = co_await chooseLocalProxyPort(aiEnhancedModeEnabled);
    throwIfCancelled(generation);

    const QString folder = protocolsDirectory();
    cleanupLegacyEndpointConfigFiles(folder);
    const QString file = folder + QStringLiteral("/orvane-active.json");
    const QByteArray source = SingBoxConfigRewriter::sourceBytes(protocolConfiguration);
    const QByteArray adapted =
        macOSSystemProxyConfigData(source, outboundMode, port, aiEnhancedModeEnabled);
    AtomicFile::write(file, adapted, 0600);
    activeConfigURL = file;

    TunnelActivation activation = co_await connectWithSingBox(file, port, aiEnhancedModeEnabled,
                                                              systemProxyEnabled, quickStart);
    const StartedRuntime started{generation, m_singBox->childPid(), systemProxyEnabled};
    const QStringList warnings = co_await thirdPartyNetworkWarnings(false);
    if (m_generation != generation) {
        co_await abandonStart(started);
        throw TunnelCoordinatorError::commandFailed(kConnectionGone);
    }
    activation.recoveryNotes << warnings;
    activeMode = activation.mode;
    activeProxyPort = activation.proxyPort;
    activeAIProxyPort = aiEnhancedModeEnabled ? std::optional<int>(aiProxyPort) : std::nullopt;
    co_return activation;
}

// --- connect sequence ----------------------------------------------------------------------

QCoro::Task<TunnelActivation> TunnelCoordinator::connectWithSingBox(QString configURL, int port,
                                                                    bool aiEnhancedModeEnabled,
                                                                    bool systemProxyEnabled,
                                                                    bool quickStart) {
    const quint64 generation = m_generation;
    StartedRuntime started{generation, std::nullopt, false};
    TunnelActivation activation;
    QStringList webNotes;
    QStringList aiNotes;
    QStringList proxyNotes;
    bool confirming = false;
    std::exception_ptr failure;
    try {
        activation = co_await m_singBox->start(configURL);
        started.child = m_singBox->childPid();
        throwIfCancelled(generation);
        webNotes = co_await validateProxyConnection(port);
        throwIfCancelled(generation);
        if (aiEnhancedModeEnabled) {
            aiNotes = co_await validateAIProxyConnection(aiProxyPort);
            throwIfCancelled(generation);
        }
        if (systemProxyEnabled) {
            // Set before the wait: an enable cut short by a disconnect may have done half.
            started.proxyTouched = true;
            const auto enabled = co_await enableProxyFor(port, generation, ProxyOwner::start);
            throwIfCancelled(generation);
            proxyNotes = enabled.value_or(QStringList());
            confirming = true;
            co_await confirm(port, generation);
        } else {
            co_await m_systemProxyManager->disableLocalProxy(true);
        }
        throwIfCancelled(generation);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && m_generation != generation) {
        // Whatever went wrong, the connection is no longer wanted: nothing of it may stay.
        co_await abandonStart(started);
        throw TunnelCoordinatorError::commandFailed(kConnectionGone);
    }
    if (failure && confirming) {
        co_await m_singBox->stop(true);
        try {
            const QString pid =
                SingBoxRuntimeCoordinator::runtimeDirectory() + QStringLiteral("/sing-box.pid");
            const QList<int> ports{port, aiProxyPort};
            co_await m_singBox->cleanupStaleRuntime(pid, ports, false);
        } catch (...) {
        }
        co_await m_systemProxyManager->disableLocalProxy(true);
    }
    if (failure) {
        // A failed probe is not rolled back here: the caller cleans up.
        std::rethrow_exception(failure);
    }

    QStringList& notes = activation.recoveryNotes;
    notes << kConfigKept << webNotes << aiNotes << (systemProxyEnabled ? kProxyOn : kProxyOff)
          << kDomesticDirect << proxyNotes;
    if (quickStart) {
        notes << kQuickStart;
    }
    if (port != macOSProxyPort) {
        notes << QStringLiteral("默认端口被占用，已自动切换本地代理端口为 %1。").arg(port);
    }
    if (aiEnhancedModeEnabled) {
        notes << QStringLiteral("AI 专用代理入口已启用：127.0.0.1:%1。").arg(aiProxyPort);
    }
    co_return activation;
}

QCoro::Task<QStringList> TunnelCoordinator::validateProxyConnection(int port) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const QString& url : m_probes.web.mid(0, 2)) {
            const int status = co_await proxyHTTPStatus(port, url);
            if (status >= 200 && status <= 399) {
                co_return QStringList{kWebPassed};
            }
        }
        co_await m_sleep(500ms);
    }
    throw TunnelCoordinatorError::commandFailed(kWebFailed);
}

QCoro::Task<QStringList> TunnelCoordinator::validateAIProxyConnection(int port) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        for (const QString& url : m_probes.ai) {
            const int status = co_await proxyHTTPStatus(port, url);
            if (status >= 200 && status <= 499) {
                co_return QStringList{kAIPassed};
            }
        }
        co_await m_sleep(1500ms);
    }
    throw TunnelCoordinatorError::commandFailed(kAIFailed);
}

bool TunnelCoordinator::stillWanted(quint64 generation, ProxyOwner owner) const {
    if (m_generation != generation) {
        return false;
    }
    // Upkeep serves the recorded connection only: a pass begun while a disconnect was under way
    // holds that disconnect's generation, and finds the record cleared once its turn comes.
    return owner == ProxyOwner::start || activeMode == TunnelActivation::Mode::singBox;
}

void TunnelCoordinator::throwIfCancelled(quint64 generation) const {
    if (m_generation != generation) {
        throw TunnelCoordinatorError::commandFailed(kConnectionGone);
    }
}

QCoro::Task<std::optional<QStringList>>
TunnelCoordinator::enableProxyFor(int port, quint64 generation, ProxyOwner owner) {
    if (!stillWanted(generation, owner)) {
        co_return std::nullopt;
    }
    // Checked again once the manager's turn comes: a disconnect may be ahead of us.
    auto wanted = [this, generation, owner] { return stillWanted(generation, owner); };
    QStringList notes;
    std::optional<QString> missingTool;
    try {
        notes = co_await m_systemProxyManager->enableLocalProxy(port, wanted);
    } catch (const ProcessLaunchError& e) {
        missingTool = e.program();
    }
    if (missingTool) {
        throw TunnelCoordinatorError::missingSystemTool(*missingTool);
    }
    if (m_generation != generation) {
        co_return std::nullopt;
    }
    co_return notes;
}

QCoro::Task<void> TunnelCoordinator::abandonStart(StartedRuntime started) {
    if (m_startGeneration > started.generation) {
        // A newer start has taken over sing-box and the system proxy.
        co_return;
    }
    const bool allowAuthorization = m_cancelAllowsAuthorization;
    if (started.child && m_singBox->childPid() == started.child) {
        co_await m_singBox->stop(allowAuthorization);
    }
    if (started.proxyTouched) {
        co_await m_systemProxyManager->disableLocalProxy(allowAuthorization);
    }
}

QCoro::Task<void> TunnelCoordinator::confirm(int port, quint64 generation) {
    const bool applied = co_await systemProxyPointsToLocalProxy(port);
    if (applied) {
        co_return;
    }
    const auto reapplied = co_await enableProxyFor(port, generation, ProxyOwner::start);
    if (!reapplied) {
        throw TunnelCoordinatorError::commandFailed(kConnectionGone);
    }
    co_await m_sleep(300ms);
    const bool appliedNow = co_await systemProxyPointsToLocalProxy(port);
    if (!appliedNow) {
        throw TunnelCoordinatorError::commandFailed(kNotConfirmed);
    }
}

QCoro::Task<void> TunnelCoordinator::confirmSystemProxy(int port) {
    co_await confirm(port, m_generation);
}

QCoro::Task<void> TunnelCoordinator::confirmSystemProxyApplied(int port) {
    co_await confirm(port, m_generation);
}

QCoro::Task<bool> TunnelCoordinator::proxyWebConnectivityAvailable(int port) {
    for (const QString& url : m_probes.web.mid(0, 2)) {
        const int status = co_await proxyHTTPStatus(port, url);
        if (status >= 200 && status <= 399) {
            co_return true;
        }
    }
    co_return false;
}

QCoro::Task<bool> TunnelCoordinator::aiProxyConnectivityAvailable(int port) {
    for (const QString& url : m_probes.ai) {
        const int status = co_await proxyHTTPStatus(port, url);
        if (status >= 200 && status <= 499) {
            co_return true;
        }
    }
    co_return false;
}

QCoro::Task<int> TunnelCoordinator::proxyHTTPStatus(int port, QString url) {
    const QStringList arguments{QStringLiteral("--socks5-hostname"),
                                QStringLiteral("127.0.0.1:%1").arg(port),
                                QStringLiteral("--connect-timeout"),
                                QStringLiteral("1.5"),
                                QStringLiteral("--max-time"),
                                QStringLiteral("2"),
                                QStringLiteral("-L"),
                                QStringLiteral("-sS"),
                                QStringLiteral("-o"),
                                QStringLiteral("/dev/null"),
                                QStringLiteral("-w"),
                                QStringLiteral("%{http_code}"),
                                url};
    QString output;
    try {
        output = co_await runProcess(m_tools.curl, arguments);
    } catch (...) {
        output.clear();
    }
    co_return parseStatus(output.trimmed()).value_or(0);
}

QCoro::Task<bool> TunnelCoordinator::systemProxyPointsToLocalProxy(int port) {
    QString output;
    bool launched = true;
    try {
        const QStringList arguments{QStringLiteral("--proxy")};
        output = co_await runProcess(m_tools.scutil, arguments);
    } catch (const ProcessLaunchError&) {
        launched = false;
    } catch (...) {
        co_return false;
    }
    if (!launched) {
        // No read-back can ever succeed: waiting and re-applying would only delay the answer.
        throw TunnelCoordinatorError::missingSystemTool(m_tools.scutil);
    }
    const QString portText = QString::number(port);
    const bool hasHost = output.contains(QLatin1String("127.0.0.1"));
    const bool hasPort = output.contains(QStringLiteral("HTTPPort : ") + portText) ||
                         output.contains(QStringLiteral("HTTPSPort : ") + portText) ||
                         output.contains(QStringLiteral("SOCKSPort : ") + portText);
    const bool enabled = output.contains(QLatin1String("HTTPEnable : 1")) ||
                         output.contains(QLatin1String("HTTPSEnable : 1")) ||
                         output.contains(QLatin1String("SOCKSEnable : 1"));
    co_return hasHost && hasPort && enabled;
}

QCoro::Task<QString> TunnelCoordinator::runProcess(QString executable, QStringList arguments) {
    const CommandResult result = co_await ProcessRunner::run(executable, std::move(arguments));
    if (result.launchFailed) {
        throw ProcessLaunchError(executable, result.standardError);
    }
    if (result.status != 0) {
        throw TunnelCoordinatorError::commandFailed(
            result.standardError.isEmpty() ? result.standardOutput : result.standardError);
    }
    co_return result.standardOutput;
}

// --- upkeep --------------------------------------------------------------------------------

QCoro::Task<void> TunnelCoordinator::sweepStaleRuntime() {
    QString pid;
    try {
        pid = SingBoxRuntimeCoordinator::runtimeDirectory() + QStringLiteral("/sing-box.pid");
    } catch (...) {
        co_return;
    }
    QList<int> ports{aiProxyPort};
    ports << macOSProxyPortRange;
    try {
        co_await m_singBox->cleanupStaleRuntime(pid, ports, false);
    } catch (...) {
        // Foreign listeners and survivors are the port choice's and the start's business.
    }
}

QCoro::Task<int> TunnelCoordinator::chooseLocalProxyPort(bool aiEnhancedModeEnabled) {
    co_await sweepStaleRuntime();
    bool aiPortFree = true;
    if (aiEnhancedModeEnabled) {
        aiPortFree = co_await isTCPPortAvailable(aiProxyPort);
    }
    if (!aiPortFree) {
        throw TunnelCoordinatorError::commandFailed(
            QStringLiteral("AI 专用代理端口 %1 已被占用，请退出占用该端口的程序后重试。").arg(aiProxyPort));
    }
    for (int port : macOSProxyPortRange) {
        const bool free = co_await isTCPPortAvailable(port);
        if (free) {
            co_return port;
        }
    }
    co_return macOSProxyPort;
}

QCoro::Task<bool> TunnelCoordinator::isTCPPortAvailable(int port) {
    const QStringList arguments{QStringLiteral("-nP"), QStringLiteral("-iTCP:%1").arg(port),
                                QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-t")};
    try {
        co_await runProcess(m_tools.lsof, arguments);
    } catch (...) {
        co_return true;
    }
    co_return false;
}

QCoro::Task<TunnelHealthCheck> TunnelCoordinator::connectionHealthCheck(int systemProxyPort,
                                                                        bool aiEnhancedModeEnabled,
                                                                        bool systemProxyEnabled) {
    const quint64 generation = m_generation;
    SystemProxyRepairResult repair = SystemProxyRepairResult::notNeeded();
    bool proxyApplied = true;
    if (systemProxyEnabled) {
        proxyApplied = co_await systemProxyPointsToLocalProxy(systemProxyPort);
    }
    if (!proxyApplied) {
        const auto notes =
            co_await enableProxyFor(systemProxyPort, generation, ProxyOwner::recordedConnection);
        if (!notes) {
            co_return TunnelHealthCheck{false, kConnectionGone};
        }
        co_await m_sleep(300ms);
        const bool appliedNow = co_await systemProxyPointsToLocalProxy(systemProxyPort);
        if (!appliedNow) {
            co_return TunnelHealthCheck{false, kProxyLost};
        }
        repair = SystemProxyRepairResult::reappliedWith(*notes);
    }
    const bool webReachable = co_await proxyWebConnectivityAvailable(systemProxyPort);
    bool aiReachable = true;
    if (webReachable && aiEnhancedModeEnabled) {
        aiReachable = co_await aiProxyConnectivityAvailable(aiProxyPort);
    }
    if (m_generation != generation) {
        // Probes of a connection taken down meanwhile are no reason to recover it.
        co_return TunnelHealthCheck{false, kConnectionGone};
    }
    if (!webReachable) {
        co_return TunnelHealthCheck{
            false, QStringLiteral("系统代理入口 127.0.0.1:%1 外网保活失败。").arg(systemProxyPort)};
    }
    if (!aiReachable) {
        co_return TunnelHealthCheck{
            false, QStringLiteral("AI 专用入口 127.0.0.1:%1 OpenAI/Claude 保活失败。").arg(aiProxyPort)};
    }
    if (!systemProxyEnabled) {
        co_return TunnelHealthCheck{true, QStringLiteral("本地代理保活通过，系统代理当前关闭。")};
    }
    co_return TunnelHealthCheck{true, healthSummary(aiEnhancedModeEnabled, repair)};
}

QString TunnelCoordinator::healthSummary(bool aiEnhancedModeEnabled,
                                         const SystemProxyRepairResult& repair) {
    const QString base = aiEnhancedModeEnabled ? QStringLiteral("系统代理与 AI 专用入口保活通过。")
                                               : QStringLiteral("系统代理保活通过。");
    if (!repair.reapplied) {
        return base;
    }
    const QString detail = repair.notes.isEmpty() ? QStringLiteral("已重新设置 macOS 系统代理。")
                                                  : repair.notes.mid(0, 2).join(QLatin1Char(' '));
    return base + QStringLiteral(" 检测到系统代理曾丢失，") + detail;
}

QCoro::Task<QStringList> TunnelCoordinator::setSystemProxyEnabled(bool enabled, int port) {
    if (!enabled) {
        co_await m_systemProxyManager->disableLocalProxy(true);
        co_return QStringList{kProxyRestored};
    }
    const quint64 generation = m_generation;
    const auto notes = co_await enableProxyFor(port, generation, ProxyOwner::recordedConnection);
    if (!notes) {
        co_return QStringList{};
    }
    const bool applied = co_await systemProxyPointsToLocalProxy(port);
    if (m_generation != generation) {
        co_return QStringList{};
    }
    if (!applied) {
        throw TunnelCoordinatorError::commandFailed(kSwitchNotApplied);
    }
    co_return *notes;
}

void TunnelCoordinator::clearRecord() {
    activeConfigURL.reset();
    activeMode.reset();
    activeProxyPort.reset();
    activeAIProxyPort.reset();
}

QCoro::Task<void> TunnelCoordinator::disconnect() {
    advanceGeneration(true);
    if (!activeConfigURL || activeConfigURL->isEmpty()) {
        co_return;
    }
    if (activeMode == TunnelActivation::Mode::singBox) {
        co_await m_singBox->stop(true);
        co_await m_systemProxyManager->disableLocalProxy(true);
    } else if (activeMode == TunnelActivation::Mode::networkExtension) {
        auto manager = co_await m_networkExtension->loadOrCreateManager();
        manager->connection().stopVPNTunnel();
    }
    clearRecord();
}

QCoro::Task<void> TunnelCoordinator::cleanupRuntimeArtifacts(bool allowProxyAuthorization) {
    advanceGeneration(allowProxyAuthorization);
    co_await m_singBox->stop(allowProxyAuthorization);
    co_await sweepStaleRuntime();
    co_await m_systemProxyManager->disableLocalProxy(allowProxyAuthorization);
    clearRecord();
}

bool TunnelCoordinator::isOrvaneRouteLine(const QString& line) {
    for (const char* marker : {"172.19.0.1", "172.19.0.2", "172.19.0.3", "fdfe:dcba:9876"}) {
        if (line.contains(QLatin1String(marker))) {
            return true;
        }
    }
    return false;
}

QCoro::Task<QStringList> TunnelCoordinator::thirdPartyNetworkWarnings(bool checkSystemProxy) {
    QStringList warnings;
    QString routes;
    bool routesRead = true;
    try {
        const QStringList arguments{QStringLiteral("-rn"), QStringLiteral("-f"), QStringLiteral("inet")};
        routes = co_await runProcess(m_tools.netstat, arguments);
    } catch (...) {
        routesRead = false;
    }
    if (routesRead) {
        static const char* const prefixes[] = {"default", "0/1",  "1 ",   "2/7",     "4/6",
                                               "8/5",     "16/4", "32/3", "64/2",    "128.0/1",
                                               "198.18.0/16"};
        QStringList foreign;
        for (const QString& line : routes.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString trimmed = trimBlanksAndTabs(line);
            if (!trimmed.contains(QLatin1String("utun")) || isOrvaneRouteLine(line)) {
                continue;
            }
            for (const char* prefix : prefixes) {
                if (trimmed.startsWith(QLatin1String(prefix))) {
                    foreign << line;
                    break;
                }
            }
        }
        if (!foreign.isEmpty()) {
            warnings << QStringLiteral("检测到可能存在其它 VPN/TUN 路由：") +
                            foreign.mid(0, 3).join(QChar(0xFF1B));
        }
    }
    if (checkSystemProxy) {
        try {
            const QStringList arguments{QStringLiteral("--proxy")};
            const QString proxies = co_await runProcess(m_tools.scutil, arguments);
            if (proxies.contains(QLatin1String("HTTPEnable : 1")) ||
                proxies.contains(QLatin1String("HTTPSEnable : 1")) ||
                proxies.contains(QLatin1String("SOCKSEnable : 1"))) {
                warnings << QStringLiteral(
                    "检测到系统 HTTP/HTTPS/SOCKS 代理仍处于开启状态，可能影响流量归属。");
            }
        } catch (...) {
        }
    }
    co_return warnings;
}

// --- hot reload ----------------------------------------------------------------------------

QCoro::Task<void> TunnelCoordinator::reload(ProtocolConfiguration protocolConfiguration,
                                            OutboundMode outboundMode, bool aiEnhancedModeEnabled,
                                            bool systemProxyEnabled) {
    const quint64 generation = m_generation;
    if (activeMode != TunnelActivation::Mode::singBox) {
        throw TunnelCoordinatorError::commandFailed(
            QStringLiteral("当前连接模式不支持热重载，请断开后重新连接。"));
    }
    if (!activeConfigURL) {
        throw TunnelCoordinatorError::commandFailed(QStringLiteral("未找到当前运行配置，无法热重载。"));
    }
    const QString active = *activeConfigURL;
    const int port = activeProxyPort.value_or(macOSProxyPort);
    const QByteArray fresh = macOSSystemProxyConfigData(
        SingBoxConfigRewriter::sourceBytes(protocolConfiguration), outboundMode, port,
        aiEnhancedModeEnabled);

    std::optional<QByteArray> previous;
    {
        QFile file(active);
        if (file.open(QIODevice::ReadOnly)) {
            previous = file.readAll();
        }
    }
    const QString temporary = QFileInfo(active).absolutePath() + QStringLiteral("/orvane-reload-") +
                              QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                              QStringLiteral(".json");

    std::exception_ptr failure;
    try {
        AtomicFile::write(temporary, fresh, 0600);
        co_await m_singBox->validate(temporary);
        throwIfCancelled(generation);
        AtomicFile::write(active, fresh, 0600);
        co_await m_singBox->reload(active);
        throwIfCancelled(generation);
    } catch (...) {
        failure = std::current_exception();
    }

    if (m_generation != generation) {
        // The connection is gone, and the active file and sing-box may already be a newer
        // start's: no roll-back, no signal, no system proxy.
        QFile::remove(temporary);
        throw TunnelCoordinatorError::commandFailed(kConnectionGone);
    }
    if (failure) {
        bool restored = false;
        if (previous) {
            try {
                // Private like every configuration file, also when put back.
                AtomicFile::write(active, *previous, 0600);
                co_await m_singBox->reload(active);
                restored = true;
            } catch (...) {
            }
        }
        QFile::remove(temporary);
        if (!restored && !m_singBox->isChildRunning()) {
            throw TunnelCoordinatorError::reloadRollbackFailed(describeError(failure));
        }
        std::rethrow_exception(failure);
    }

    if (systemProxyEnabled) {
        try {
            co_await enableProxyFor(activeProxyPort.value_or(macOSProxyPort), generation,
                                    ProxyOwner::recordedConnection);
        } catch (const TunnelCoordinatorError&) {
            // sing-box already runs the new configuration: the reload itself has succeeded.
        }
    } else {
        co_await m_systemProxyManager->disableLocalProxy(true);
    }
    QFile::remove(temporary);
    throwIfCancelled(generation);
}

} // namespace orvane
