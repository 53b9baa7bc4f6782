#pragma once

#include "CommandResult.h"
#include "RuntimeProfile.h"
#include "ToolPaths.h"
#include "TunnelActivation.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class QProcess;

namespace orvane {

// Runs sing-box as our child: finds it, validates configurations, starts it with its log,
// relaunches once after a port conflict, reloads it with SIGHUP, stops it, and clears stale
// sing-box processes of earlier runs off the proxy ports.
class SingBoxRuntimeCoordinator : public QObject {
    Q_OBJECT
public:
    // Waits on the event loop; tests replace it to run the fixed waits instantly.
    using SleepFunction = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;

    // Only a sing-box carrying one of the profile's markers is ever signalled as ours.
    explicit SingBoxRuntimeCoordinator(ToolPaths tools = ToolPaths::platformDefaults(),
                                       RuntimeProfile profile = RuntimeProfile(),
                                       QObject* parent = nullptr);
    // Releases the child without signalling it.
    ~SingBoxRuntimeCoordinator() override;

    void setSleepFunction(SleepFunction sleep) { m_sleep = std::move(sleep); }
    const ToolPaths& tools() const { return m_tools; }

    QCoro::Task<TunnelActivation> start(QString configURL);
    QCoro::Task<void> stop(bool allowPrivilege);
    QCoro::Task<void> validate(QString configURL);
    QCoro::Task<void> reload(QString configURL);
    QCoro::Task<QStringList> cleanupStaleRuntime(QString pidURL, QList<int> proxyPorts,
                                                 bool allowPrivilege);

    // "Orvane/sing-box" in the application-support folder, created 0700. Throws FileError.
    static QString runtimeDirectory();

    // The own child, while it runs.
    bool isChildRunning() const;
    std::optional<qint64> childPid() const;

    std::optional<QString> bundledSingBoxURL() const;
    QCoro::Task<QList<qint32>> listeningPIDs(int port);
    // The listeners of each port, in the order of `ports`. The listings run side by side: they
    // only read, and one after another they were most of a connect's own time.
    QCoro::Task<QList<QList<qint32>>> listeningPIDs(QList<int> ports);
    QCoro::Task<void> terminate(qint32 pid, bool allowPrivilege);
    QCoro::Task<void> terminatePrivileged(QList<qint32> pids);
    QCoro::Task<void> runPrivileged(QString command);

    static QString cleanMessage(const QString& text);
    static bool isAddressInUse(const QString& text);
    // The inbound ports of a configuration; [fallbackPort] when it names none.
    static QList<int> listenPorts(const QString& configURL, int fallbackPort = 19090);
    // No pid for a value that must never be signalled (below 2, or our own process).
    static std::optional<qint32> readPID(const QString& pidURL);
    static bool
    isOwnedSingBoxCommand(const QString& commandLine,
                          const QStringList& markers = RuntimeProfile().ownershipMarkers);
    // The last 10 non-empty lines of a log, colours removed.
    QString logTail(const std::optional<QString>& logURL = std::nullopt) const;
    // The AppleScript that runs `command` with administrator rights.
    static QString privilegedScript(const QString& command);

private:
    QCoro::Task<CommandResult> runTool(const QString& executable, QStringList arguments);
    QCoro::Task<bool> processExists(qint32 pid);
    QCoro::Task<QString> commandLine(qint32 pid);
    QCoro::Task<void> sendSignal(qint32 pid, std::optional<QString> signalOption);
    void stopManagedProcess();
    void releaseProcess();
    static void resetRuntimeFiles(const QString& logURL, const QString& pidURL);
    QCoro::Task<void> checkConfig(QString executableURL, QString configURL);
    QCoro::Task<std::optional<TunnelActivation>> startUnprivileged(QString executableURL,
                                                                   QString configURL,
                                                                   QString logURL,
                                                                   std::optional<int> proxyPort);
    // An owned sing-box named by the pid file, else nothing; a stale file is deleted.
    QCoro::Task<std::optional<qint32>> ownedPidFromFile(QString pidURL);

    ToolPaths m_tools;
    RuntimeProfile m_profile;
    SleepFunction m_sleep;
    QPointer<QProcess> m_process;
    std::optional<QString> m_lastLogURL;
};

} // namespace orvane
