// One-shot actions beside the connection: devices, feedback, links, launchers, login item.
#include "AppState.h"

#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "PreferenceKeys.h"
#include "Preferences.h"

#include <QPointer>

namespace orvane {

namespace {

// Inside a single-quoted shell word: close the quote, add an escaped quote, reopen it.
QString insideSingleQuotes(const QString& text) {
    QString escaped = text;
    return escaped.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
}

// Terminals tried in order, each with the arguments that run one program with its own
// arguments (the script stays one argument, never part of another shell line).
struct TerminalKind {
    const char* name;
    QStringList runPrefix;
};

const QList<TerminalKind>& terminals() {
    static const QList<TerminalKind> kinds{
        {"x-terminal-emulator", {QStringLiteral("-e")}},
        {"gnome-terminal", {QStringLiteral("--")}},
        {"konsole", {QStringLiteral("-e")}},
        {"xfce4-terminal", {QStringLiteral("-x")}},
        {"mate-terminal", {QStringLiteral("-x")}},
        {"lxterminal", {QStringLiteral("-e")}},
        {"xterm", {QStringLiteral("-e")}},
    };
    return kinds;
}

} // namespace

QCoro::Task<void> AppState::unbindDevice(Device device) {
    if (!m_token) {
        setShowAuthSheet(true);
        co_return;
    }
    if (device.isCurrent) {
        setAlertMessage(QStringLiteral("当前设备不能在本机直接解绑。"));
        co_return;
    }
    const QString token = *m_token;
    const QString fallback = QStringLiteral("解绑设备失败");
    QPointer<AppState> self(this);
    // A sign-out meanwhile owns the window and ends this hold.
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    std::exception_ptr failure;
    try {
        co_await m_api.deleteDevice(device.id, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    // A sign-out meanwhile owns the window and its busy mark: the outcome goes to the log
    // only, and nothing more is sent with the old session.
    if (m_token != token) {
        appendLog(failure ? fallback + QStringLiteral("：") + describeError(failure)
                          : QStringLiteral("已解绑设备：") + device.platform + QStringLiteral("。"));
        co_return;
    }
    if (!failure) {
        appendLog(QStringLiteral("已解绑设备：") + device.platform + QStringLiteral("。"));
        try {
            co_await syncDevices(token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || m_token != token) {
            co_return;
        }
    }
    if (failure) {
        present(failure, fallback);
    }
}

QCoro::Task<void> AppState::submitFeedback(QString title, QString contactEmail, QString body) {
    if (!m_token) {
        setShowAuthSheet(true);
        co_return;
    }
    if (title.trimmed().isEmpty() || body.trimmed().isEmpty()) {
        setAlertMessage(QStringLiteral("请填写反馈标题和内容。"));
        co_return;
    }
    const QString token = *m_token;
    QPointer<AppState> self(this);
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    APICreateTicketRequest request;
    request.title = title;
    request.category = QStringLiteral("客户端问题");
    if (!contactEmail.isEmpty()) {
        request.contactEmail = contactEmail;
    }
    request.body = body + QStringLiteral("\n\n--- macOS 客户端日志 ---\n") +
                   recentLogText(static_cast<int>(m_logs.size()));
    const QString fallback = QStringLiteral("提交反馈失败");
    std::exception_ptr failure;
    try {
        co_await m_api.createTicket(request, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    // As for an unbind: after a sign-out the outcome is only logged.
    if (m_token != token) {
        appendLog(failure ? fallback + QStringLiteral("：") + describeError(failure)
                          : QStringLiteral("日志反馈已提交。"));
        co_return;
    }
    if (!failure) {
        appendLog(QStringLiteral("日志反馈已提交。"));
        try {
            co_await syncTickets(token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || m_token != token) {
            co_return;
        }
    }
    if (failure) {
        present(failure, fallback);
    } else {
        setAlertMessage(QStringLiteral("反馈已提交。"));
    }
}

void AppState::copyInviteLink() {
    const auto code = m_currentUser ? m_currentUser->referralCode : std::nullopt;
    if (!code || code->isEmpty()) {
        setAlertMessage(QStringLiteral("登录后才能复制邀请链接。"));
        setShowAuthSheet(true);
        return;
    }
    const QString base = m_deps.webBaseURL.toString(QUrl::StripTrailingSlash);
    m_deps.copyToClipboard(base + QStringLiteral("/client/?invite=") + *code);
    setAlertMessage(QStringLiteral("邀请链接已复制。"));
}

void AppState::openTelegramProxy() {
    const QString link =
        QStringLiteral("tg://socks?server=127.0.0.1&port=") + QString::number(m_localProxyPort);
    m_deps.copyToClipboard(link);
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid()) {
        appendLog(QStringLiteral("Telegram 本地 SOCKS 代理入口已复制。"));
        return;
    }
    if (m_deps.openURL(url)) {
        appendLog(QStringLiteral("已打开 Telegram 本地 SOCKS 代理入口。"));
        return;
    }
    // With no Telegram to take the link, it is only on the clipboard.
    const QString text = QStringLiteral("无法打开 Telegram，链接已复制：") + link;
    appendLog(text);
    setAlertMessage(text);
}

QString AppState::aiToolLauncherScript(const QString& command, const QString& displayName,
                                       int aiProxyPort) {
    const QString port = QString::number(aiProxyPort);
    const QString quoted = QLatin1Char('\'') + insideSingleQuotes(command) + QLatin1Char('\'');
    const QStringList lines{
        QStringLiteral("export HTTP_PROXY=http://127.0.0.1:") + port,
        QStringLiteral("export HTTPS_PROXY=http://127.0.0.1:") + port,
        QStringLiteral("export ALL_PROXY=socks5h://127.0.0.1:") + port,
        QStringLiteral("export NO_PROXY=localhost,127.0.0.1,::1"),
        QStringLiteral("clear"),
        QStringLiteral("echo 'Orvane AI增强功能已注入代理环境：127.0.0.1:") + port +
            QLatin1Char('\''),
        QStringLiteral("echo 'HTTP_PROXY / HTTPS_PROXY / ALL_PROXY 已设置。'"),
        QStringLiteral("echo ''"),
        QStringLiteral("if command -v ") + quoted + QStringLiteral(" >/dev/null 2>&1; then"),
        QStringLiteral("  ") + quoted,
        QStringLiteral("else"),
        // The name sits inside a quoted echo: a quote in it must not end the string.
        QStringLiteral("  echo '未检测到 ") + insideSingleQuotes(displayName) +
            QStringLiteral(" 命令，请先安装或检查 PATH。'"),
        QStringLiteral("fi"),
    };
    return lines.join(QLatin1Char('\n'));
}

void AppState::openAIToolLauncher(const QString& command, const QString& displayName) {
    if (!m_aiEnhancedModeEnabled) {
        setAlertMessage(QStringLiteral("请先开启 AI增强功能，并重新一键连接后再启动 ") +
                        displayName + QStringLiteral("。"));
        return;
    }
    if (m_connectionState.stateCase() != ConnectionState::Case::connected || !m_aiProxyReady) {
        setAlertMessage(QStringLiteral("请先开启 AI增强功能并完成一键连接，再启动 ") +
                        displayName + QStringLiteral(" AI 代理环境。"));
        return;
    }
    const QString script = aiToolLauncherScript(command, displayName, m_localAIProxyPort);
    const QString fallback = displayName + QStringLiteral(" 启动器打开失败");
    const QString bash = m_deps.findExecutable(QStringLiteral("bash"));
    for (const TerminalKind& kind : terminals()) {
        const QString terminal = m_deps.findExecutable(QString::fromLatin1(kind.name));
        if (terminal.isEmpty() || bash.isEmpty()) {
            continue;
        }
        // The script runs in the shell that stays open afterwards, its variables exported.
        const QStringList arguments =
            kind.runPrefix + QStringList{bash, QStringLiteral("-c"),
                                         QStringLiteral("eval \"$1\"; exec \"$0\" -i"), bash,
                                         script};
        if (m_deps.startDetached(terminal, arguments)) {
            appendLog(QStringLiteral("已打开 ") + displayName + QStringLiteral(" AI 代理启动器。"));
        } else {
            present(QStringLiteral("终端程序无法启动。"), fallback);
        }
        return;
    }
    present(QStringLiteral("未找到可用的终端程序，请先安装一个终端。"), fallback);
}

void AppState::setLaunchAtLogin(bool enabled) {
    std::exception_ptr failure;
    try {
        m_deps.setLaunchAtLogin(enabled);
    } catch (...) {
        failure = std::current_exception();
    }
    // A refused change shows and stores the opposite, as the system left it.
    const bool stored = failure ? !enabled : enabled;
    m_launchAtLogin = stored;
    m_preferences.setBool(prefkey::launchAtLogin, stored);
    emit preferencesChanged();
    if (failure) {
        present(failure, enabled ? QStringLiteral("登录时启动启用失败")
                                 : QStringLiteral("登录时启动关闭失败"));
        return;
    }
    appendLog(enabled ? QStringLiteral("登录时启动已启用。") : QStringLiteral("登录时启动已关闭。"));
}

void AppState::openClientHome() {
    const QString base = m_deps.webBaseURL.toString(QUrl::StripTrailingSlash);
    openPage(QUrl(base + QStringLiteral("/client/")));
}

bool AppState::openPage(const QUrl& url) {
    if (m_deps.openURL(url)) {
        return true;
    }
    const QString text = unopenedPageText(url);
    appendLog(text);
    setAlertMessage(text);
    return false;
}

QString AppState::unopenedPageText(const QUrl& url) {
    // Encoded as sent, so that a pasted copy reaches the same page.
    return QStringLiteral("无法打开浏览器，请手动访问：") + url.toString(QUrl::FullyEncoded);
}

} // namespace orvane
