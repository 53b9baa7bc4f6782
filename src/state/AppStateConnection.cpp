// The connect button, the node pick, the automatic connect test and the web links.
#include "AppState.h"

#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "PreferenceKeys.h"
#include "Preferences.h"

#include <QPointer>
#include <QUrlQuery>

namespace orvane {

namespace {

const QString kSmokeTestArgument = QStringLiteral("--orvane-autoconnect-smoke");
constexpr std::chrono::milliseconds kSmokeTestDelay{800};

} // namespace

QCoro::Task<void> AppState::toggleConnection() {
    using C = ConnectionState::Case;
    switch (m_connectionState.stateCase()) {
    case C::connected:
        co_await disconnect();
        co_return;
    case C::preparing:
    case C::disconnecting:
    case C::repairing:
        co_return;
    case C::disconnected:
    case C::configReady:
    case C::failed:
        break;
    }
    // A connect still binding the device has not reached `preparing` yet: ignore the press.
    // One that a disconnect or sign-out stopped only has its last request to hear back.
    if (m_flows->connectRunning()) {
        co_return;
    }
    if (m_requiresVersionAction) {
        appendLog(m_versionPolicyText);
        setAlertMessage(m_versionPolicyText);
        if (m_versionDownloadURL && !m_deps.openURL(*m_versionDownloadURL)) {
            const QString unopened = unopenedPageText(*m_versionDownloadURL);
            appendLog(unopened);
            setAlertMessage(m_versionPolicyText + QLatin1Char('\n') + unopened);
        }
        co_return;
    }
    co_await connect();
}

QCoro::Task<void> AppState::connect() {
    if (!m_token) {
        setShowAuthSheet(true);
        co_return;
    }
    const quint64 generation = m_flows->generation();
    ConnectionFlows::Lease run = m_flows->beginConnect();
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::connection);
    QPointer<AppState> self(this);
    // A take-down still running, or the node start of a connect that was stopped, would
    // switch the new connection's proxy off and clear its record when it ends: the connect
    // begins once they are over.
    const bool alive = co_await m_flows->untilTunnelIsFree();
    if (!alive || !self || flowStopped(generation) || !m_token) {
        co_return;
    }
    co_await runConnectSequence(*m_token);
    if (!self) {
        co_return;
    }
    // What the user chose while it ran applies now, before the button comes back.
    run.end();
    co_await bringConnectionToChoices();
}

QCoro::Task<void> AppState::runConnectSequence(QString token) {
    setAIProxyReady(false);
    const quint64 generation = m_flows->generation();
    QPointer<AppState> self(this);
    // Once a disconnect, sign-out or exit has stopped the flow, its failure is nobody's news.
    auto stopped = [&self, this, generation] { return !self || flowStopped(generation); };
    std::exception_ptr failure;
    try {
        co_await connectWithFullPreparation(token, generation);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || stopped()) {
        co_return;
    }
    try {
        co_await syncDevices(token);
    } catch (...) {
        // The failure of the connect is what the user needs to see.
    }
    if (stopped()) {
        co_return;
    }
    const QString description = describeError(failure);
    setConnectionState(ConnectionState::failed(description));
    co_await reportClientCrash(QStringLiteral("macos-connection"), description,
                               recentLogText(12));
    if (stopped()) {
        co_return;
    }
    present(failure, QStringLiteral("连接失败"));
}

QCoro::Task<void> AppState::disconnect() {
    // The user's disconnect wins: a connect, reload, keep-alive check or recovery still
    // running ends at its next step, before the take-down is over, and lets go of the mark.
    m_flows->advance();
    stopConnectionHeartbeat();
    const quint64 generation = m_flows->generation();
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::connection);
    co_await runDisconnectSequence(generation);
}

void AppState::selectEndpointFromMenu(const Endpoint& endpoint) {
    if (m_selectedEndpointId == endpoint.id) {
        return;
    }
    setSelectedEndpointId(endpoint.id);
    m_flows->notePick();
    noteChoiceChange(QStringLiteral("当前线路已切换"));
    if (m_aiRouteChoice != RouteRegionChoice::automatic) {
        setAIRouteChoice(RouteRegionChoice::automatic);
        m_preferences.setString(prefkey::aiRegion, rawValue(m_aiRouteChoice));
        if (m_token) {
            spawn(saveAIRoutePreference(*m_token));
        }
        appendLog(QStringLiteral("已清理旧线路偏好，当前线路以手动选择为准。"));
    }
    appendLog(QStringLiteral("当前线路已切换为：") + endpoint.region + QLatin1Char(' ') +
              endpoint.name + QStringLiteral("。"));
    if (m_connectionState.stateCase() == ConnectionState::Case::connected) {
        spawn(reloadActiveConfiguration(QStringLiteral("当前线路已切换"), ReloadPurpose::choices));
    }
}

QCoro::Task<void> AppState::runAutoconnectSmokeTestIfRequested() {
    if (!m_deps.arguments.contains(kSmokeTestArgument)) {
        co_return;
    }
    appendLog(QStringLiteral("自动化连接测试：准备触发一键连接。"));
    QPointer<AppState> self(this);
    co_await m_deps.sleep(kSmokeTestDelay);
    // A connection the user made meanwhile is not toggled off.
    if (!self || m_connectionState.stateCase() == ConnectionState::Case::connected) {
        co_return;
    }
    co_await toggleConnection();
}

QCoro::Task<void> AppState::purchase(Plan plan) {
    const auto url = publicPlanURL(plan);
    if (!url) {
        setAlertMessage(QStringLiteral("套餐页面地址生成失败，请稍后重试。"));
        co_return;
    }
    // A link nobody could open is not reported as opened.
    if (openPage(*url)) {
        appendLog(QStringLiteral("已打开公网") + plan.name + QStringLiteral("页面。"));
    }
}

std::optional<QUrl> AppState::publicPlanURL(const Plan& plan) const {
    const QUrl base = m_deps.webBaseURL;
    if (!base.isValid() || base.scheme().isEmpty() || base.host().isEmpty()) {
        return std::nullopt;
    }
    const QUrl next = publicPricingURL(base, plan, std::nullopt);
    if (!m_token || !m_currentUser) {
        return publicLoginURL(base, next);
    }
    return publicPricingURL(base, plan, m_currentUser->identity);
}

namespace {

// "pricing/" appended as a path component, its trailing slash kept.
QUrl withPathComponent(const QUrl& base, const QString& component) {
    QUrl url = base;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    url.setPath(path + component);
    return url;
}

// Query items encoded as a URL's query part: '&', '=', '+' and '#' inside a value are escaped.
QString encodedQueryValue(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "!$'()*,;:@/?"));
}

QUrl withQuery(QUrl url, const QList<std::pair<QString, QString>>& items) {
    QStringList parts;
    for (const auto& [name, value] : items) {
        parts << encodedQueryValue(name) + QLatin1Char('=') + encodedQueryValue(value);
    }
    url.setQuery(parts.join(QLatin1Char('&')), QUrl::StrictMode);
    return url;
}

} // namespace

QUrl AppState::publicPricingURL(const QUrl& base, const Plan& plan,
                                const std::optional<QString>& account) const {
    QList<std::pair<QString, QString>> items{
        {QStringLiteral("plan"), plan.id},
        {QStringLiteral("source"), QStringLiteral("macos")},
        {QStringLiteral("client_version"), m_appVersion},
    };
    if (account && !account->isEmpty()) {
        items.append({QStringLiteral("account"), *account});
    }
    return withQuery(withPathComponent(base, QStringLiteral("pricing/")), items);
}

QUrl AppState::publicLoginURL(const QUrl& base, const QUrl& next) {
    return withQuery(withPathComponent(base, QStringLiteral("login/")),
                     {{QStringLiteral("next"), next.toString(QUrl::FullyEncoded)},
                      {QStringLiteral("source"), QStringLiteral("macos")}});
}

} // namespace orvane
