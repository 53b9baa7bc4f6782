#include "MacOSSystemProxyManager.h"

#include "OrvaneTrafficRules.h"
#include "ProcessRunner.h"

#include <charconv>
#include <limits>
#include <string>

namespace orvane {

namespace {

QSet<int> portSet(const QList<int>& ports) {
    return QSet<int>(ports.begin(), ports.end());
}

// A decimal integer with an optional sign and nothing else; 0 for anything that is not one,
// including a number too large for 64 bits.
qint64 decimalOrZero(const QString& text) {
    QString digits = text;
    bool negative = false;
    if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-'))) {
        negative = digits.front() == QLatin1Char('-');
        digits.remove(0, 1);
    }
    if (digits.isEmpty()) {
        return 0;
    }
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return 0;
        }
    }
    const std::string ascii = (negative ? QStringLiteral("-") + digits : digits).toStdString();
    qint64 value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size()) {
        return 0;
    }
    return value;
}

// "key: value" split at its first colon, empty pieces left out: "Port:" is one piece,
// ":x" is one piece, "a::b" is "a" and ":b".
QStringList splitAtFirstColon(const QString& line) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) != QLatin1Char(':')) {
            continue;
        }
        const bool appended = i > start;
        if (appended) {
            parts << line.mid(start, i - start);
        }
        start = i + 1;
        if (appended) {
            break;
        }
    }
    if (start < line.size()) {
        parts << line.mid(start);
    }
    return parts;
}

QStringList trimmedNonEmptyLines(const QString& text) {
    QStringList lines;
    for (const QString& piece : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString line = piece.trimmed();
        if (!line.isEmpty()) {
            lines << line;
        }
    }
    return lines;
}

QStringList bypassArguments(const QString& service, const QStringList& domains) {
    QStringList arguments{QStringLiteral("-setproxybypassdomains"), service};
    if (domains.isEmpty()) {
        arguments << QStringLiteral("Empty");
    } else {
        arguments << domains;
    }
    return arguments;
}

QString firstThree(const QStringList& names) {
    return names.mid(0, 3).join(QStringLiteral("、"));
}

} // namespace

MacOSSystemProxyManager::MacOSSystemProxyManager(ToolPaths tools, const RuntimeProfile& profile)
    : m_host(QStringLiteral("127.0.0.1")),
      m_ownedLocalProxyPorts(portSet(profile.proxyPortRange())),
      m_networkSetupPath(tools.networksetup), m_osascriptPath(tools.osascript) {}

QStringList MacOSSystemProxyManager::mergedBypassDomains(const QStringList& existing) {
    QStringList candidates = existing;
    candidates << OrvaneTrafficRules::domesticProxyBypassDomains();
    QStringList merged;
    QSet<QString> seen;
    for (const QString& candidate : candidates) {
        const QString entry = candidate.trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        const QString key = entry.toLower();
        if (seen.contains(key)) {
            continue;
        }
        seen.insert(key);
        merged << entry;
    }
    return merged;
}

QString MacOSSystemProxyManager::networkSetupShellCommand(const QStringList& arguments,
                                                          const QString& networkSetupPath) {
    QStringList words{networkSetupPath};
    words << arguments;
    QStringList quoted;
    for (QString word : words) {
        quoted << QLatin1Char('\'') + word.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                      QLatin1Char('\'');
    }
    return quoted.join(QLatin1Char(' '));
}

QString MacOSSystemProxyManager::appleScriptEscaped(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return escaped;
}

QString MacOSSystemProxyManager::administratorScript(const QList<QStringList>& batch,
                                                     const QString& networkSetupPath) {
    QStringList lines;
    for (const QStringList& commandLine : batch) {
        lines << networkSetupShellCommand(commandLine, networkSetupPath);
    }
    return QStringLiteral("do shell script \"") +
           appleScriptEscaped(lines.join(QLatin1Char('\n'))) +
           QStringLiteral("\" with administrator privileges");
}

QStringList MacOSSystemProxyManager::parseNetworkServices(const QString& output) {
    QStringList services;
    for (const QString& line : trimmedNonEmptyLines(output)) {
        if (line.startsWith(QStringLiteral("An asterisk")) || line.startsWith(QLatin1Char('*'))) {
            continue;
        }
        services << line;
    }
    return services;
}

ProxyState MacOSSystemProxyManager::parseProxyState(const QString& standardOutput) {
    ProxyState state;
    for (const QString& line : standardOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = splitAtFirstColon(line);
        if (parts.size() != 2) {
            continue;
        }
        const QString key = parts.at(0).trimmed();
        const QString value = parts.at(1).trimmed();
        if (key == u"Enabled") {
            state.enabled = value.toLower().startsWith(QStringLiteral("yes"));
        } else if (key == u"Server") {
            state.server = value;
        } else if (key == u"Port") {
            state.port = decimalOrZero(value);
        }
    }
    return state;
}

QStringList MacOSSystemProxyManager::parseBypassDomains(const QString& output) {
    QStringList domains;
    for (const QString& line : trimmedNonEmptyLines(output)) {
        const QString lower = line.toLower();
        if (lower.contains(QStringLiteral("there aren't any")) ||
            lower.contains(QStringLiteral("bypass domains"))) {
            continue;
        }
        domains << line;
    }
    return domains;
}

QStringList MacOSSystemProxyManager::enableNotes(const QStringList& enabled,
                                                 const QStringList& failed) {
    QStringList notes;
    if (!enabled.isEmpty()) {
        notes << QStringLiteral("已为 ") + firstThree(enabled) +
                     QStringLiteral(" 启用 HTTP/HTTPS/SOCKS 系统代理。");
        notes << QStringLiteral("国内图片与 CDN 域名已加入系统代理直连保护。");
    }
    if (!failed.isEmpty()) {
        notes << QStringLiteral("部分网络服务的系统代理增强未成功：") + firstThree(failed) +
                     QStringLiteral("。");
    }
    return notes;
}

QString MacOSSystemProxyManager::readOption(ProxyKind kind) {
    switch (kind) {
    case ProxyKind::web:
        return QStringLiteral("-getwebproxy");
    case ProxyKind::secureWeb:
        return QStringLiteral("-getsecurewebproxy");
    case ProxyKind::socks:
        break;
    }
    return QStringLiteral("-getsocksfirewallproxy");
}

QString MacOSSystemProxyManager::serverOption(ProxyKind kind) {
    switch (kind) {
    case ProxyKind::web:
        return QStringLiteral("-setwebproxy");
    case ProxyKind::secureWeb:
        return QStringLiteral("-setsecurewebproxy");
    case ProxyKind::socks:
        break;
    }
    return QStringLiteral("-setsocksfirewallproxy");
}

QString MacOSSystemProxyManager::stateOption(ProxyKind kind) {
    switch (kind) {
    case ProxyKind::web:
        return QStringLiteral("-setwebproxystate");
    case ProxyKind::secureWeb:
        return QStringLiteral("-setsecurewebproxystate");
    case ProxyKind::socks:
        break;
    }
    return QStringLiteral("-setsocksfirewallproxystate");
}

bool MacOSSystemProxyManager::isOwned(const ProxyState& state) const {
    return state.enabled && state.server == m_host && state.port >= 0 &&
           state.port <= std::numeric_limits<int>::max() &&
           m_ownedLocalProxyPorts.contains(static_cast<int>(state.port));
}

QList<QStringList> MacOSSystemProxyManager::restoreCommands(const ProxyState& state,
                                                            const QString& service,
                                                            ProxyKind kind) const {
    const QStringList switchOff{stateOption(kind), service, QStringLiteral("off")};
    if (isOwned(state)) {
        // Left over from an earlier run of ours: never put back.
        return {switchOff};
    }
    const bool hasServer = !state.server.isEmpty() && state.port >= 1;
    if (!hasServer) {
        return {switchOff};
    }
    // The trailing "off" is networksetup's authentication switch.
    const QStringList server{serverOption(kind), service, state.server, QString::number(state.port),
                             QStringLiteral("off")};
    if (state.enabled) {
        return {server, QStringList{stateOption(kind), service, QStringLiteral("on")}};
    }
    // A kind the user had switched off still gets its own server back, not ours.
    return {server, switchOff};
}

QCoro::Task<QStringList>
MacOSSystemProxyManager::enableLocalProxy(int port, std::function<bool()> stillWanted) {
    const AsyncMutexLock turn = co_await m_turn.lock();
    if (stillWanted && !stillWanted()) {
        co_return QStringList();
    }

    const QStringList listing{QStringLiteral("-listallnetworkservices")};
    const CommandResult listed = co_await runNetworkSetup(listing);
    if (listed.launchFailed) {
        // Every later command would fail the same way.
        throw ProcessLaunchError(m_networkSetupPath, listed.standardError);
    }
    const QStringList services =
        listed.status == 0 ? parseNetworkServices(listed.output()) : QStringList();
    if (services.isEmpty()) {
        co_return QStringList{QStringLiteral("系统代理增强未启用：未读取到可用网络服务。")};
    }
    if (!m_snapshot) {
        m_snapshot = co_await captureSnapshot(services);
    }

    const QString portText = QString::number(port);
    QStringList enabled;
    QStringList failed;
    for (const QString& service : services) {
        const QStringList existing = co_await readProxyBypassDomains(service);
        const QStringList merged = mergedBypassDomains(existing);
        bool allPassed = true;
        for (const ProxyKind kind : kProxyKinds) {
            const QStringList arguments{serverOption(kind), service, m_host, portText,
                                        QStringLiteral("off")};
            allPassed = (co_await runNetworkSetup(arguments)).status == 0 && allPassed;
        }
        allPassed = (co_await setProxyBypassDomains(service, merged)).status == 0 && allPassed;
        for (const ProxyKind kind : kProxyKinds) {
            const QStringList arguments{stateOption(kind), service, QStringLiteral("on")};
            allPassed = (co_await runNetworkSetup(arguments)).status == 0 && allPassed;
        }
        (allPassed ? enabled : failed) << service;
    }

    if (enabled.isEmpty() && !failed.isEmpty()) {
        const BatchOutcome outcome = co_await enableLocalProxyWithAuthorization(services, port);
        enabled = outcome.enabled;
        failed = outcome.failed;
    }
    co_return enableNotes(enabled, failed);
}

QCoro::Task<void> MacOSSystemProxyManager::disableLocalProxy(bool allowAuthorization) {
    const AsyncMutexLock turn = co_await m_turn.lock();
    if (m_snapshot) {
        const QList<ServiceProxySnapshot> records = *m_snapshot;
        for (const ServiceProxySnapshot& record : records) {
            co_await restore(record.web, record.service, ProxyKind::web, allowAuthorization);
            co_await restore(record.secureWeb, record.service, ProxyKind::secureWeb,
                             allowAuthorization);
            co_await restore(record.socks, record.service, ProxyKind::socks, allowAuthorization);
            const CommandResult result =
                co_await setProxyBypassDomains(record.service, record.bypassDomains);
            if (result.status != 0 && allowAuthorization) {
                const QList<QStringList> batch{
                    bypassArguments(record.service, record.bypassDomains)};
                co_await runNetworkSetupWithAuthorization(batch);
            }
        }
    }
    m_snapshot.reset();
    co_await disableOwnedProxyFallback(allowAuthorization);
}

QCoro::Task<QStringList> MacOSSystemProxyManager::networkServices() {
    const QStringList arguments{QStringLiteral("-listallnetworkservices")};
    const CommandResult result = co_await runNetworkSetup(arguments);
    if (result.status != 0) {
        co_return QStringList();
    }
    co_return parseNetworkServices(result.output());
}

QCoro::Task<ProxyState> MacOSSystemProxyManager::readProxyState(QString service, ProxyKind kind) {
    const QStringList arguments{readOption(kind), service};
    const CommandResult result = co_await runNetworkSetup(arguments);
    if (result.status != 0) {
        co_return ProxyState();
    }
    co_return parseProxyState(result.standardOutput);
}

QCoro::Task<QStringList> MacOSSystemProxyManager::readProxyBypassDomains(QString service) {
    const QStringList arguments{QStringLiteral("-getproxybypassdomains"), service};
    const CommandResult result = co_await runNetworkSetup(arguments);
    if (result.status != 0) {
        co_return QStringList();
    }
    co_return parseBypassDomains(result.output());
}

QCoro::Task<CommandResult> MacOSSystemProxyManager::setProxyBypassDomains(QString service,
                                                                          QStringList domains) {
    co_return co_await runNetworkSetup(bypassArguments(service, domains));
}

QCoro::Task<QList<ServiceProxySnapshot>>
MacOSSystemProxyManager::captureSnapshot(QStringList services) {
    QList<ServiceProxySnapshot> records;
    for (const QString& service : services) {
        ServiceProxySnapshot record;
        record.service = service;
        record.web = co_await readProxyState(service, ProxyKind::web);
        record.secureWeb = co_await readProxyState(service, ProxyKind::secureWeb);
        record.socks = co_await readProxyState(service, ProxyKind::socks);
        record.bypassDomains = co_await readProxyBypassDomains(service);
        records << record;
    }
    co_return records;
}

QCoro::Task<void> MacOSSystemProxyManager::restore(ProxyState state, QString service,
                                                   ProxyKind kind, bool allowAuthorization) {
    const QList<QStringList> commands = restoreCommands(state, service, kind);
    bool failed = false;
    for (const QStringList& arguments : commands) {
        failed = (co_await runNetworkSetup(arguments)).status != 0 || failed;
    }
    if (failed && allowAuthorization) {
        co_await runNetworkSetupWithAuthorization(commands);
    }
}

QCoro::Task<MacOSSystemProxyManager::BatchOutcome>
MacOSSystemProxyManager::enableLocalProxyWithAuthorization(QStringList services, int port) {
    // Only the domestic entries here: the services' own lists are not read on this path.
    const QStringList domestic = mergedBypassDomains({});
    const QString portText = QString::number(port);
    QList<QStringList> batch;
    for (const QString& service : services) {
        for (const ProxyKind kind : kProxyKinds) {
            batch << QStringList{serverOption(kind), service, m_host, portText,
                                 QStringLiteral("off")};
        }
        batch << bypassArguments(service, domestic);
        for (const ProxyKind kind : kProxyKinds) {
            batch << QStringList{stateOption(kind), service, QStringLiteral("on")};
        }
    }

    BatchOutcome outcome;
    const CommandResult result = co_await runNetworkSetupWithAuthorization(batch);
    if (result.status != 0) {
        outcome.failed = services;
        co_return outcome;
    }
    for (const QString& service : services) {
        bool verified = true;
        for (const ProxyKind kind : kProxyKinds) {
            const ProxyState state = co_await readProxyState(service, kind);
            if (!state.enabled || state.server != m_host || state.port != port) {
                verified = false;
                break;
            }
        }
        (verified ? outcome.enabled : outcome.failed) << service;
    }
    co_return outcome;
}

QCoro::Task<void> MacOSSystemProxyManager::disableOwnedProxyFallback(bool allowAuthorization) {
    const QStringList services = co_await networkServices();
    for (const QString& service : services) {
        for (const ProxyKind kind : kProxyKinds) {
            const ProxyState state = co_await readProxyState(service, kind);
            if (!isOwned(state)) {
                continue;
            }
            const QStringList arguments{stateOption(kind), service, QStringLiteral("off")};
            const CommandResult result = co_await runNetworkSetup(arguments);
            if (result.status != 0 && allowAuthorization) {
                const QList<QStringList> batch{arguments};
                co_await runNetworkSetupWithAuthorization(batch);
            }
        }
    }
}

QCoro::Task<CommandResult>
MacOSSystemProxyManager::runNetworkSetupWithAuthorization(QList<QStringList> batch) {
    const QStringList arguments{QStringLiteral("-e"),
                                administratorScript(batch, m_networkSetupPath)};
    // The administrator prompt may stay open as long as the user likes.
    co_return co_await ProcessRunner::run(m_osascriptPath, arguments, std::nullopt);
}

QCoro::Task<CommandResult> MacOSSystemProxyManager::runNetworkSetup(QStringList arguments) {
    co_return co_await ProcessRunner::run(m_networkSetupPath, arguments);
}

} // namespace orvane
