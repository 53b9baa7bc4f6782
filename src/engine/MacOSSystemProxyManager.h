#pragma once

#include "AsyncMutex.h"
#include "CommandResult.h"
#include "RuntimeProfile.h"
#include "ToolPaths.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace orvane {

// One reading of one proxy kind (HTTP, HTTPS or SOCKS) of one network service.
struct ProxyState {
    bool enabled = false;
    // As networksetup prints it; empty when none was read.
    QString server;
    // 0 when none was read or it was not a number.
    qint64 port = 0;

    friend bool operator==(const ProxyState&, const ProxyState&) = default;
};

// Everything remembered of one network service before we first pointed it at the local proxy.
struct ServiceProxySnapshot {
    QString service;
    ProxyState web;
    ProxyState secureWeb;
    ProxyState socks;
    QStringList bypassDomains;

    friend bool operator==(const ServiceProxySnapshot&, const ServiceProxySnapshot&) = default;
};

// Points the system proxy of every enabled network service at the local mixed inbound,
// remembers what it found so it can put it back, and falls back to one administrator batch
// where plain networksetup commands fail. Enabling returns notes for the user and throws
// ProcessLaunchError only when networksetup cannot be started at all; everything else stays
// silent and never throws.
//
// Both public operations take turns: one runs to its end before the other starts, so an
// enable never interleaves with a disable over the snapshot.
class MacOSSystemProxyManager {
public:
    // Our own ports are the profile's local proxy ports (not its AI port).
    explicit MacOSSystemProxyManager(ToolPaths tools = ToolPaths::platformDefaults(),
                                     const RuntimeProfile& profile = RuntimeProfile());
    MacOSSystemProxyManager(const MacOSSystemProxyManager&) = delete;
    MacOSSystemProxyManager& operator=(const MacOSSystemProxyManager&) = delete;

    // HTTP, HTTPS and SOCKS of every enabled service to 127.0.0.1 and `port`, with the domestic
    // bypass list merged in; takes the snapshot first when none is held. `stillWanted`, when
    // given, is asked once this call's turn comes: false skips the work and returns no notes
    // (a disconnect that got ahead of us must not be undone).
    QCoro::Task<QStringList> enableLocalProxy(int port, std::function<bool()> stillWanted = {});
    // Restores every service from the snapshot (if held), forgets it, then switches off
    // whatever still points at our own address and ports. `allowAuthorization` permits
    // administrator prompts for the commands that fail.
    QCoro::Task<void> disableLocalProxy(bool allowAuthorization);

    const QString& host() const { return m_host; }
    const QSet<int>& ownedLocalProxyPorts() const { return m_ownedLocalProxyPorts; }
    const QString& networkSetupPath() const { return m_networkSetupPath; }
    bool hasSnapshot() const { return m_snapshot.has_value(); }
    const std::optional<QList<ServiceProxySnapshot>>& snapshot() const { return m_snapshot; }

    // The service's own entries, then the domestic bypass list; trimmed, empty ones dropped,
    // duplicates by letter case dropped with the first spelling kept.
    static QStringList mergedBypassDomains(const QStringList& existing);
    // One networksetup command line as shell text, every word single-quoted.
    static QString networkSetupShellCommand(
        const QStringList& arguments,
        const QString& networkSetupPath = QStringLiteral("/usr/sbin/networksetup"));
    // Text for the inside of an AppleScript string literal.
    static QString appleScriptEscaped(const QString& text);
    // The AppleScript that runs a batch of networksetup lines with administrator privileges.
    static QString
    administratorScript(const QList<QStringList>& batch,
                        const QString& networkSetupPath = QStringLiteral("/usr/sbin/networksetup"));

private:
    enum class ProxyKind { web, secureWeb, socks };
    // The order every service's kinds are read, written and restored in.
    static constexpr ProxyKind kProxyKinds[] = {ProxyKind::web, ProxyKind::secureWeb,
                                                ProxyKind::socks};
    struct BatchOutcome {
        QStringList enabled;
        QStringList failed;
    };

    static QStringList parseNetworkServices(const QString& output);
    static ProxyState parseProxyState(const QString& standardOutput);
    static QStringList parseBypassDomains(const QString& output);
    static QStringList enableNotes(const QStringList& enabled, const QStringList& failed);
    static QString readOption(ProxyKind kind);
    static QString serverOption(ProxyKind kind);
    static QString stateOption(ProxyKind kind);
    bool isOwned(const ProxyState& state) const;
    // The lines that put one remembered kind back, in the order they run.
    QList<QStringList> restoreCommands(const ProxyState& state, const QString& service,
                                       ProxyKind kind) const;

    QCoro::Task<QStringList> networkServices();
    QCoro::Task<ProxyState> readProxyState(QString service, ProxyKind kind);
    QCoro::Task<QStringList> readProxyBypassDomains(QString service);
    QCoro::Task<CommandResult> setProxyBypassDomains(QString service, QStringList domains);
    QCoro::Task<QList<ServiceProxySnapshot>> captureSnapshot(QStringList services);
    QCoro::Task<void> restore(ProxyState state, QString service, ProxyKind kind,
                              bool allowAuthorization);
    QCoro::Task<BatchOutcome> enableLocalProxyWithAuthorization(QStringList services, int port);
    QCoro::Task<void> disableOwnedProxyFallback(bool allowAuthorization);
    QCoro::Task<CommandResult> runNetworkSetupWithAuthorization(QList<QStringList> batch);
    QCoro::Task<CommandResult> runNetworkSetup(QStringList arguments);

    const QString m_host;
    const QSet<int> m_ownedLocalProxyPorts;
    const QString m_networkSetupPath;
    const QString m_osascriptPath;
    std::optional<QList<ServiceProxySnapshot>> m_snapshot;
    AsyncMutex m_turn;
};

} // namespace orvane
