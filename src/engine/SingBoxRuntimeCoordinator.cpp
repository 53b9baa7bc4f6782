#include "SingBoxRuntimeCoordinator.h"

#include "AppFolders.h"
#include "AtomicFile.h"
#include "CancelToken.h"
#include "OneShotEvent.h"
#include "ProcessRunner.h"
#include "SingBoxRuntimeError.h"
#include "SystemErrorText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <set>
#include <vector>

namespace orvane {

namespace {

using namespace std::chrono_literals;

const QString kNoLog = QStringLiteral("没有捕获到 sing-box 输出日志。");
const QString kStartedNote = QStringLiteral("sing-box 内核已启动。");
const QString kOwnCleanedNote = QStringLiteral("已清理上次异常退出留下的 Orvane 连接进程。");
const QString kForeignCheckedNote = QStringLiteral("已检查本地代理端口，未发现 Orvane 残留占用。");
const QString kNoProcess = QStringLiteral("未找到正在运行的 sing-box 进程。");

// `kill 0` and `kill -9 -1` signal whole groups; our own process must never be signalled either.
bool isSignallable(qint64 pid) {
    return pid >= 2 && pid != QCoreApplication::applicationPid();
}

std::optional<qint32> parseInt32(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<qint32>(value) : std::nullopt;
}

} // namespace

SingBoxRuntimeCoordinator::SingBoxRuntimeCoordinator(ToolPaths tools, RuntimeProfile profile,
                                                     QObject* parent)
    : QObject(parent), m_tools(std::move(tools)), m_profile(std::move(profile)),
      m_sleep([](std::chrono::milliseconds d) -> QCoro::Task<void> { co_await sleepFor(d); }) {}

SingBoxRuntimeCoordinator::~SingBoxRuntimeCoordinator() { releaseProcess(); }

void SingBoxRuntimeCoordinator::releaseProcess() {
    QProcess* process = m_process.data();
    m_process.clear();
    if (!process) {
        return;
    }
    // Deleting a QProcess kills its child and blocks until it is gone: forget it instead and
    // let it clean up after itself once the child has ended.
    process->setParent(nullptr);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
    } else {
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    }
}

bool SingBoxRuntimeCoordinator::isChildRunning() const {
    return m_process && m_process->state() == QProcess::Running;
}

std::optional<qint64> SingBoxRuntimeCoordinator::childPid() const {
    if (!isChildRunning()) {
        return std::nullopt;
    }
    return m_process->processId();
}

QString SingBoxRuntimeCoordinator::runtimeDirectory() {
    const QString dir = AppFolders::applicationSupportDirectory() + QStringLiteral("/sing-box");
    AtomicFile::makeDirectory(dir);
    return dir;
}

std::optional<QString> SingBoxRuntimeCoordinator::bundledSingBoxURL() const {
    for (const QString& candidate : m_tools.singBoxCandidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) {
            return candidate;
        }
    }
    return std::nullopt;
}

QString SingBoxRuntimeCoordinator::cleanMessage(const QString& text) {
    static const QRegularExpression ansi(QStringLiteral("\x1B\\[[0-9;]*m"));
    QString cleaned = text;
    cleaned.remove(ansi);
    cleaned = cleaned.trimmed();
    if (cleaned.isEmpty()) {
        return kNoLog;
    }
    QStringList lines = cleaned.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() > 10) {
        lines = lines.mid(lines.size() - 10);
    }
    return lines.join(QLatin1Char('\n'));
}

bool SingBoxRuntimeCoordinator::isAddressInUse(const QString& text) {
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("address already in use")) ||
           lower.contains(QLatin1String("bind:"));
}

QList<int> SingBoxRuntimeCoordinator::listenPorts(const QString& configURL, int fallbackPort) {
    const QList<int> fallback{fallbackPort};
    QFile file(configURL);
    if (!file.open(QIODevice::ReadOnly)) {
        return fallback;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    const QJsonValue inbounds = doc.object().value(QStringLiteral("inbounds"));
    if (!doc.isObject() || !inbounds.isArray()) {
        return fallback;
    }
    std::set<int> ports;
    for (const QJsonValue& inbound : inbounds.toArray()) {
        const QJsonValue port = inbound.toObject().value(QStringLiteral("listen_port"));
        if (port.isDouble()) {
            const double d = port.toDouble();
            if (d == static_cast<double>(static_cast<int>(d))) {
                ports.insert(static_cast<int>(d));
            }
        } else if (port.isString() && !port.toString().isEmpty()) {
            if (const auto parsed = parseInt32(port.toString())) {
                ports.insert(*parsed);
            }
        }
    }
    if (ports.empty()) {
        return fallback;
    }
    return QList<int>(ports.begin(), ports.end());
}

std::optional<qint32> SingBoxRuntimeCoordinator::readPID(const QString& pidURL) {
    QFile file(pidURL);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QString text = ProcessRunner::decodeUTF8(file.readAll()).trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const auto pid = parseInt32(text);
    if (!pid || !isSignallable(*pid)) {
        return std::nullopt;
    }
    return pid;
}

bool SingBoxRuntimeCoordinator::isOwnedSingBoxCommand(const QString& commandLine,
                                                      const QStringList& markers) {
    if (!commandLine.contains(QLatin1String("sing-box"), Qt::CaseInsensitive)) {
        return false;
    }
    for (const QString& marker : markers) {
        if (!marker.isEmpty() && commandLine.contains(marker, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

QString SingBoxRuntimeCoordinator::logTail(const std::optional<QString>& logURL) const {
    const std::optional<QString> location = logURL ? logURL : m_lastLogURL;
    if (!location) {
        return kNoLog;
    }
    QFile file(*location);
    if (!file.open(QIODevice::ReadOnly)) {
        return kNoLog;
    }
    const QByteArray bytes = file.readAll();
    const QString text = ProcessRunner::decodeUTF8(bytes);
    if (text.isEmpty() && !bytes.isEmpty()) {
        return kNoLog;
    }
    return cleanMessage(text);
}

QString SingBoxRuntimeCoordinator::privilegedScript(const QString& command) {
    QString escaped = command;
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    escaped.replace(QLatin1String("\""), QLatin1String("\\\""));
    return QStringLiteral("do shell script \"") + escaped +
           QStringLiteral("\" with administrator privileges");
}

QCoro::Task<CommandResult> SingBoxRuntimeCoordinator::runTool(const QString& executable,
                                                              QStringList arguments) {
    co_return co_await ProcessRunner::run(executable, std::move(arguments));
}

QCoro::Task<bool> SingBoxRuntimeCoordinator::processExists(qint32 pid) {
    const QString text = QString::number(pid);
    const QStringList arguments{QStringLiteral("-p"), text, QStringLiteral("-o"),
                                QStringLiteral("pid=")};
    const CommandResult result = co_await runTool(m_tools.ps, arguments);
    co_return result.status == 0 && result.standardOutput.trimmed().contains(text);
}

QCoro::Task<QString> SingBoxRuntimeCoordinator::commandLine(qint32 pid) {
    const QStringList arguments{QStringLiteral("-p"), QString::number(pid), QStringLiteral("-o"),
                                QStringLiteral("command=")};
    const CommandResult result = co_await runTool(m_tools.ps, arguments);
    co_return result.status == 0 ? result.standardOutput.trimmed() : QString();
}

QCoro::Task<void> SingBoxRuntimeCoordinator::sendSignal(qint32 pid,
                                                        std::optional<QString> signalOption) {
    if (!isSignallable(pid)) {
        co_return;
    }
    QStringList arguments;
    if (signalOption) {
        arguments << *signalOption;
    }
    arguments << QString::number(pid);
    co_await runTool(m_tools.kill, arguments);
}

QCoro::Task<QList<qint32>> SingBoxRuntimeCoordinator::listeningPIDs(int port) {
    const QStringList arguments{QStringLiteral("-nP"), QStringLiteral("-iTCP:%1").arg(port),
                                QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-t")};
    const CommandResult result = co_await runTool(m_tools.lsof, arguments);
    QList<qint32> pids;
    if (result.status != 0) {
        co_return pids;
    }
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QString& piece : result.standardOutput.split(space, Qt::SkipEmptyParts)) {
        if (const auto pid = parseInt32(piece)) {
            pids << *pid;
        }
    }
    co_return pids;
}

QCoro::Task<QList<QList<qint32>>> SingBoxRuntimeCoordinator::listeningPIDs(QList<int> ports) {
    // Tasks start eagerly, so every lsof is running before the first one is awaited.
    std::vector<QCoro::Task<QList<qint32>>> listings;
    listings.reserve(static_cast<size_t>(ports.size()));
    for (int port : ports) {
        listings.push_back(listeningPIDs(port));
    }
    QList<QList<qint32>> lists;
    lists.reserve(ports.size());
    for (auto& listing : listings) {
        QList<qint32> pids = co_await listing;
        lists << std::move(pids);
    }
    co_return lists;
}

QCoro::Task<void> SingBoxRuntimeCoordinator::runPrivileged(QString command) {
    // An administrator prompt may wait as long as the user takes: no time limit.
    const QStringList arguments{QStringLiteral("-e"), privilegedScript(command)};
    const CommandResult result =
        co_await ProcessRunner::run(m_tools.osascript, arguments, std::nullopt);
    if (result.status != 0) {
        throw SingBoxRuntimeError::privilegedLaunchFailed(cleanMessage(result.output()));
    }
}

QCoro::Task<void> SingBoxRuntimeCoordinator::terminatePrivileged(QList<qint32> pids) {
    QStringList lines;
    for (qint32 pid : pids) {
        if (!isSignallable(pid)) {
            continue;
        }
        lines << QStringLiteral("kill %1 >/dev/null 2>&1 || true").arg(pid)
              << QStringLiteral("sleep 0.2")
              << QStringLiteral("kill -9 %1 >/dev/null 2>&1 || true").arg(pid);
    }
    if (lines.isEmpty()) {
        co_return;
    }
    co_await runPrivileged(lines.join(QLatin1Char('\n')));
}

QCoro::Task<void> SingBoxRuntimeCoordinator::terminate(qint32 pid, bool allowPrivilege) {
    if (!isSignallable(pid)) {
        co_return;
    }
    co_await sendSignal(pid, std::nullopt);
    co_await m_sleep(250ms);
    const bool survived = co_await processExists(pid);
    if (survived) {
        co_await sendSignal(pid, QStringLiteral("-9"));
    }
    bool stillThere = false;
    if (allowPrivilege) {
        stillThere = co_await processExists(pid);
    }
    if (stillThere) {
        try {
            const QList<qint32> one{pid};
            co_await terminatePrivileged(one);
        } catch (const SingBoxRuntimeError&) {
        }
    }
}

QCoro::Task<QStringList> SingBoxRuntimeCoordinator::cleanupStaleRuntime(QString pidURL,
                                                                         QList<int> proxyPorts,
                                                                         bool allowPrivilege) {
    std::set<qint32> candidates;
    if (const auto pid = readPID(pidURL)) {
        candidates.insert(*pid);
    }
    // Only these ports are listed again below: ending processes frees ports, it never takes one.
    QList<int> busyPorts;
    const QList<QList<qint32>> listeners = co_await listeningPIDs(proxyPorts);
    for (qsizetype i = 0; i < proxyPorts.size(); ++i) {
        if (!listeners[i].isEmpty()) {
            busyPorts << proxyPorts[i];
        }
        for (qint32 pid : listeners[i]) {
            if (isSignallable(pid)) {
                candidates.insert(pid);
            }
        }
    }

    QList<qint32> own;
    QStringList foreign;
    for (qint32 pid : candidates) {
        const QString command = co_await commandLine(pid);
        if (isOwnedSingBoxCommand(command, m_profile.ownershipMarkers)) {
            own << pid;
        } else if (!command.isEmpty()) {
            foreign << QString::number(pid) + QLatin1Char(' ') + command;
        }
    }

    if (!own.isEmpty()) {
        for (qint32 pid : own) {
            co_await sendSignal(pid, std::nullopt);
            co_await m_sleep(250ms);
            const bool survived = co_await processExists(pid);
            if (survived) {
                co_await sendSignal(pid, QStringLiteral("-9"));
            }
        }
        co_await m_sleep(250ms);
        QList<qint32> survivors;
        for (qint32 pid : own) {
            const bool survived = co_await processExists(pid);
            if (survived) {
                survivors << pid;
            }
        }
        if (!survivors.isEmpty()) {
            if (!allowPrivilege) {
                throw SingBoxRuntimeError::staleRuntimeNeedsCleanup();
            }
            co_await terminatePrivileged(survivors);
            co_await m_sleep(250ms);
        }
    }

    const QList<QList<qint32>> stillListening = co_await listeningPIDs(busyPorts);
    for (qsizetype i = 0; i < busyPorts.size(); ++i) {
        QStringList occupants;
        for (qint32 pid : stillListening[i]) {
            const QString command = co_await commandLine(pid);
            if (!command.isEmpty()) {
                occupants << QString::number(pid) + QLatin1Char(' ') + command;
            }
        }
        if (!occupants.isEmpty()) {
            throw SingBoxRuntimeError::portInUse(busyPorts[i],
                                                 occupants.mid(0, 3).join(QChar(0xFF1B)));
        }
    }

    QFile::remove(pidURL);
    if (!own.isEmpty()) {
        co_return QStringList{kOwnCleanedNote};
    }
    if (!foreign.isEmpty()) {
        co_return QStringList{kForeignCheckedNote};
    }
    co_return QStringList{};
}

void SingBoxRuntimeCoordinator::stopManagedProcess() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        const qint64 pid = m_process->processId();
        m_process->terminate();
        if (m_process->state() != QProcess::NotRunning && isSignallable(pid)) {
            ::kill(static_cast<pid_t>(pid), SIGINT);
        }
    }
    releaseProcess();
}

void SingBoxRuntimeCoordinator::resetRuntimeFiles(const QString& logURL, const QString& pidURL) {
    AtomicFile::makeDirectory(QFileInfo(logURL).absolutePath());
    QFile log(logURL);
    if (log.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        log.close();
    }
    QFile::remove(pidURL);
}

QCoro::Task<void> SingBoxRuntimeCoordinator::checkConfig(QString executableURL, QString configURL) {
    const QStringList arguments{QStringLiteral("check"), QStringLiteral("-c"), configURL};
    const CommandResult result = co_await runTool(executableURL, arguments);
    if (result.status != 0) {
        throw SingBoxRuntimeError::invalidConfig(cleanMessage(result.output()));
    }
}

QCoro::Task<std::optional<TunnelActivation>>
SingBoxRuntimeCoordinator::startUnprivileged(QString executableURL, QString configURL,
                                             QString logURL, std::optional<int> proxyPort) {
    QFile log(logURL);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        throw FileError(logURL, SystemErrorText::fromFileDevice(log));
    }
    log.close();

    auto* process = new QProcess(this);
    process->setProgram(executableURL);
    process->setArguments({QStringLiteral("run"), QStringLiteral("-c"), configURL});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       QFileInfo(executableURL).absolutePath() +
                           QStringLiteral(":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(logURL, QIODevice::Append);
    process->setStandardErrorFile(logURL, QIODevice::Append);

    OneShotEvent launched;
    bool started = false;
    QObject::connect(process, &QProcess::started, &launched, [&launched, &started] {
        started = true;
        launched.set();
    });
    QObject::connect(process, &QProcess::errorOccurred, &launched,
                     [&launched](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             launched.set();
                         }
                     });
    process->start();
    co_await launched.wait();
    if (!started) {
        const QString reason = process->errorString();
        process->deleteLater();
        throw ProcessLaunchError(executableURL, reason);
    }

    QPointer<QProcess> guard(process);
    co_await m_sleep(1100ms);
    if (guard && guard->state() == QProcess::Running) {
        // A start that a newer one replaced meanwhile keeps the newer child.
        if (m_process && m_process != guard) {
            releaseProcess();
        }
        m_process = guard;
        TunnelActivation activation;
        activation.mode = TunnelActivation::Mode::singBox;
        activation.configURL = configURL;
        activation.proxyPort = proxyPort;
        activation.recoveryNotes = {kStartedNote};
        co_return activation;
    }
    if (guard) {
        guard->deleteLater();
    }
    co_return std::nullopt;
}

QCoro::Task<TunnelActivation> SingBoxRuntimeCoordinator::start(QString configURL) {
    const auto executable = bundledSingBoxURL();
    if (!executable) {
        throw SingBoxRuntimeError::missingBinary();
    }
    const QString directory = runtimeDirectory();
    const QString logURL = directory + QStringLiteral("/sing-box.log");
    const QString pidURL = directory + QStringLiteral("/sing-box.pid");
    const QList<int> ports = listenPorts(configURL, m_profile.firstProxyPort);

    stopManagedProcess();
    const QStringList firstNotes = co_await cleanupStaleRuntime(pidURL, ports, false);
    resetRuntimeFiles(logURL, pidURL);
    m_lastLogURL = logURL;
    co_await checkConfig(*executable, configURL);

    auto first = co_await startUnprivileged(*executable, configURL, logURL, ports.first());
    if (first) {
        TunnelActivation activation = *first;
        activation.recoveryNotes = firstNotes + activation.recoveryNotes;
        co_return activation;
    }
    if (!isAddressInUse(logTail(logURL))) {
        throw SingBoxRuntimeError::exitedEarly(logTail(logURL));
    }

    // The port was taken, most likely by a sing-box of ours that outlived an earlier run:
    // one more clean-up, this time with administrator rights, and one relaunch.
    const QStringList secondNotes = co_await cleanupStaleRuntime(pidURL, ports, true);
    resetRuntimeFiles(logURL, pidURL);
    auto second = co_await startUnprivileged(*executable, configURL, logURL, ports.first());
    if (second) {
        TunnelActivation activation = *second;
        activation.recoveryNotes = firstNotes + secondNotes + activation.recoveryNotes;
        co_return activation;
    }
    throw SingBoxRuntimeError::exitedEarly(logTail(logURL));
}

QCoro::Task<std::optional<qint32>> SingBoxRuntimeCoordinator::ownedPidFromFile(QString pidURL) {
    const auto pid = readPID(pidURL);
    if (!pid) {
        co_return std::nullopt;
    }
    // Nothing of ours writes this file, so its pid may since belong to another program.
    const QString command = co_await commandLine(*pid);
    if (!isOwnedSingBoxCommand(command, m_profile.ownershipMarkers)) {
        QFile::remove(pidURL);
        co_return std::nullopt;
    }
    co_return pid;
}

QCoro::Task<void> SingBoxRuntimeCoordinator::stop(bool allowPrivilege) {
    stopManagedProcess();
    QString directory;
    try {
        directory = runtimeDirectory();
    } catch (const LocalizedError&) {
        co_return;
    }
    const auto pid = co_await ownedPidFromFile(directory + QStringLiteral("/sing-box.pid"));
    if (pid) {
        co_await terminate(*pid, allowPrivilege);
    }
}

QCoro::Task<void> SingBoxRuntimeCoordinator::validate(QString configURL) {
    const auto executable = bundledSingBoxURL();
    if (!executable) {
        throw SingBoxRuntimeError::missingBinary();
    }
    co_await checkConfig(*executable, configURL);
}

QCoro::Task<void> SingBoxRuntimeCoordinator::reload(QString configURL) {
    co_await validate(configURL);
    const QString directory = runtimeDirectory();

    std::optional<qint32> target;
    if (const auto own = childPid()) {
        target = static_cast<qint32>(*own);
    } else {
        target = co_await ownedPidFromFile(directory + QStringLiteral("/sing-box.pid"));
    }
    if (!target || !isSignallable(*target)) {
        throw SingBoxRuntimeError::reloadFailed(kNoProcess);
    }
    const QStringList arguments{QStringLiteral("-HUP"), QString::number(*target)};
    const CommandResult result = co_await runTool(m_tools.kill, arguments);
    if (result.status != 0) {
        throw SingBoxRuntimeError::reloadFailed(cleanMessage(result.output()));
    }
    co_await m_sleep(700ms);
    bool alive = isChildRunning();
    if (m_process.isNull()) {
        const bool exists = co_await processExists(*target);
        alive = exists;
    }
    if (!alive) {
        throw SingBoxRuntimeError::exitedEarly(logTail());
    }
}

} // namespace orvane
