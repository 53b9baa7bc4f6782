// Start-up, the public and private data of the service, and the account flows.
#include "AppState.h"

#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "OrvaneAPIError.h"
#include "Preferences.h"
#include "StateText.h"

#include <algorithm>

namespace orvane {

namespace {

const QString kRouteQuery = QStringLiteral("?clientPlatform=macos&client_platform=macos");
const QString kActiveStatus = QStringLiteral("active");
const QString kMacDeviceType = QStringLiteral("macos");
const QString kRefreshFallback = QStringLiteral("账号数据同步失败");
constexpr int kRulesPerCategory = 4;
constexpr int kRuleSummaryLimit = 12;

bool isUnauthorized(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const OrvaneAPIError& apiError) {
        return apiError.errorCase() == OrvaneAPIError::Case::server &&
               apiError.statusCode() == 401;
    } catch (...) {
        return false;
    }
}

QString withLeadingV(const QString& version) {
    return version.startsWith(QLatin1Char('v')) ? version : QStringLiteral("v") + version;
}

std::optional<QUrl> urlFrom(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) {
        return std::nullopt;
    }
    return url;
}

} // namespace

// --- Start-up and public data --------------------------------------------------------------

QCoro::Task<void> AppState::bootstrap() {
    if (m_bootstrapped) {
        co_return;
    }
    m_bootstrapped = true;
    if (!m_startupCleanupCompleted) {
        m_startupCleanupCompleted = true;
        co_await m_tunnel.cleanupRuntimeArtifacts(true);
        forgetRunningNode();
        appendLog(QStringLiteral("已检查并清理上次异常退出残留连接。"));
    }
    m_token = m_preferences.string(m_sessionStore.tokenKey);
    setShowAuthSheet(!m_token.has_value());
    co_await refreshPublicData();
    if (m_token) {
        co_await refreshPrivateData();
    }
}

QCoro::Task<void> AppState::refreshPublicData() {
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    const QString get = QStringLiteral("GET");

    std::exception_ptr failure;
    try {
        const auto nodes = co_await m_api.send<APINodesResponse>(QStringLiteral("/nodes"), get,
                                                                 std::nullopt, std::nullopt, {});
        QList<Endpoint> endpoints;
        for (const APINode& node : nodes.nodes) {
            Endpoint endpoint = Endpoint::fromNode(node);
            if (endpoint.status != NodeStatus::offline) {
                endpoints.append(std::move(endpoint));
            }
        }
        setEndpoints(endpoints);
        if (!m_selectedEndpointId) {
            const auto recommended = recommendedEndpoint(m_endpoints);
            setSelectedEndpointId(recommended ? std::optional(recommended->id) : std::nullopt);
        }
        appendLog(QStringLiteral("节点列表同步完成。"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("节点列表同步失败"));
        failure = nullptr;
    }

    try {
        const auto catalog = co_await m_api.send<APIRouteCatalogResponse>(
            QStringLiteral("/client/route-catalog") + kRouteQuery, get, std::nullopt,
            std::nullopt, {});
        applyRouteCatalog(catalog);
    } catch (...) {
        appendLog(QStringLiteral("线路策略目录暂不可用，使用本机默认策略。"));
    }

    try {
        const auto plans = co_await m_api.send<APIPlansResponse>(QStringLiteral("/plans"), get,
                                                                 std::nullopt, std::nullopt, {});
        QList<Plan> list;
        for (qsizetype i = 0; i < plans.plans.size(); ++i) {
            list.append(Plan::fromAPI(plans.plans[i], i == 1));
        }
        setPlans(list);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("套餐列表同步失败"));
        failure = nullptr;
    }

    try {
        const auto versions = co_await m_api.send<APIVersionsResponse>(
            QStringLiteral("/versions"), get, std::nullopt, std::nullopt, {});
        const auto mac = std::find_if(versions.versions.begin(), versions.versions.end(),
                                      [](const APIAppVersion& v) {
                                          return v.platform == QStringLiteral("macos");
                                      });
        if (mac != versions.versions.end()) {
            m_latestVersion = withLeadingV(mac->latestVersion);
            applyVersionPolicy(*mac);
            emit versionChanged();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("版本信息同步失败"));
    }
}

void AppState::applyVersionPolicy(const APIAppVersion& version) {
    const QString mode = version.updateMode.toLower();
    const qint64 rollout = version.rolloutPercent.value_or(100);
    const QString latest = withLeadingV(version.latestVersion);
    if (mode == QStringLiteral("rollback")) {
        const QString target = version.rollbackVersion && !version.rollbackVersion->isEmpty()
                                   ? *version.rollbackVersion
                                   : version.minVersion;
        m_versionPolicyText = QStringLiteral("回滚到 ") + target;
        m_requiresVersionAction = true;
        m_versionDownloadURL = urlFrom(version.rollbackDownloadUrl);
        if (!m_versionDownloadURL) {
            m_versionDownloadURL = urlFrom(version.downloadUrl);
        }
        return;
    }
    if (mode == QStringLiteral("force")) {
        m_versionPolicyText = version.forceMessage && !version.forceMessage->isEmpty()
                                  ? *version.forceMessage
                                  : QStringLiteral("需要升级到 ") + latest;
        m_requiresVersionAction = true;
        m_versionDownloadURL = urlFrom(version.downloadUrl);
        return;
    }
    if (rollout <= 99 && latest != m_appVersion) {
        m_versionPolicyText = QStringLiteral("灰度发布 ") + QString::number(rollout) +
                              QStringLiteral("% · 最新 ") + latest;
    } else if (latest == m_appVersion) {
        m_versionPolicyText = QStringLiteral("已是最新");
    } else {
        m_versionPolicyText = QStringLiteral("发现新版 ") + latest;
    }
    m_requiresVersionAction = false;
    m_versionDownloadURL = urlFrom(version.downloadUrl);
}

bool AppState::isUsableRouteCatalog(const APIRouteCatalogResponse& catalog) {
    if (catalog.categories.isEmpty() || catalog.policies.isEmpty()) {
        return false;
    }
    auto has = [&catalog](const QString& id) {
        return std::any_of(catalog.categories.begin(), catalog.categories.end(),
                           [&id](const APIRouteCategory& c) { return c.id == id; });
    };
    return has(QStringLiteral("ai")) && has(QStringLiteral("china"));
}

void AppState::applyRouteCatalog(const APIRouteCatalogResponse& catalog) {
    if (!isUsableRouteCatalog(catalog)) {
        appendLog(QStringLiteral("线路策略目录异常，已保留当前可用策略。"));
        return;
    }
    m_routeCategories = catalog.categories;
    m_routePolicies = catalog.policies;
    m_routeAppRuleSummaries = macOSAppRuleSummaries(catalog.categories);
    emit routeCatalogChanged();
    const QString suffix =
        m_routeAppRuleSummaries.isEmpty()
            ? QString()
            : QStringLiteral("，已识别 ") + QString::number(m_routeAppRuleSummaries.size()) +
                  QStringLiteral(" 条 macOS App 辅助规则");
    appendLog(QStringLiteral("线路策略目录已同步") + suffix + QStringLiteral("。"));
}

QStringList AppState::macOSAppRuleSummaries(const QList<APIRouteCategory>& categories) const {
    static const QStringList kAppRuleTypes{QStringLiteral("bundle_id"),
                                           QStringLiteral("process_name"),
                                           QStringLiteral("process_path")};
    const QString dot = QStringLiteral(" · ");
    QStringList lines;
    for (const APIRouteCategory& category : categories) {
        QList<APIRouteRule> rules;
        for (const APIRouteRule& rule : category.rules) {
            if (rule.platformScope.toLower() == QStringLiteral("macos") &&
                kAppRuleTypes.contains(rule.ruleType)) {
                rules.append(rule);
            }
        }
        std::stable_sort(rules.begin(), rules.end(),
                         [](const APIRouteRule& a, const APIRouteRule& b) {
                             if (a.priority != b.priority) {
                                 return a.priority < b.priority;
                             }
                             return a.value < b.value;
                         });
        for (const APIRouteRule& rule : rules.mid(0, kRulesPerCategory)) {
            QString line = category.name + dot + rule.value;
            if (rule.ruleType == QStringLiteral("bundle_id")) {
                line += dot + (m_deps.isApplicationInstalled(rule.value)
                                   ? QStringLiteral("已安装")
                                   : QStringLiteral("未安装"));
            }
            lines << line + dot + routePolicyTitle(category.selectedPolicyId);
        }
    }
    return lines.mid(0, kRuleSummaryLimit);
}

QString AppState::routePolicyTitle(const QString& policyId) const {
    for (const APIRoutePolicy& policy : m_routePolicies) {
        if (policy.id == policyId) {
            return policy.name;
        }
    }
    static const QMap<QString, QString> kBuiltIn{
        {QStringLiteral("policy_ai"), QStringLiteral("AI 策略")},
        {QStringLiteral("policy_telegram"), QStringLiteral("Telegram 策略")},
        {QStringLiteral("policy_streaming"), QStringLiteral("流媒体策略")},
        {QStringLiteral("policy_game"), QStringLiteral("游戏策略")},
        {QStringLiteral("policy_crypto"), QStringLiteral("Crypto 策略")},
        {QStringLiteral("policy_scholar"), QStringLiteral("学术策略")},
        {QStringLiteral("policy_direct"), QStringLiteral("直连")},
        {QStringLiteral("policy_default"), QStringLiteral("默认策略")},
        {QString(), QStringLiteral("默认策略")},
    };
    return kBuiltIn.value(policyId, policyId);
}

// --- Private data --------------------------------------------------------------------------

namespace {

// What one step of a refresh threw, if anything (a task cannot carry a bare exception_ptr).
struct StepOutcome {
    std::exception_ptr failure;
};

QCoro::Task<StepOutcome> attempt(QCoro::Task<void> step) {
    StepOutcome outcome;
    try {
        co_await std::move(step);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    co_return outcome;
}

} // namespace

QCoro::Task<void> AppState::refreshPrivateData() {
    if (!m_token) {
        setShowAuthSheet(true);
        co_return;
    }
    const QString token = *m_token;
    // A sign-out ends the hold at once; the mark may belong to a new sign-in by then.
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    // A step ends the refresh when it failed, or when the session it began with is gone:
    // nothing of the old account may come back after a sign-out.
    auto ended = [this, &token](const std::exception_ptr& failure) {
        if (m_token != token) {
            return true;
        }
        if (failure) {
            reportRefreshFailure(failure);
        }
        return failure != nullptr;
    };

    StepOutcome step = co_await attempt(syncAccount(token));
    if (ended(step.failure)) {
        co_return;
    }
    step = co_await attempt(syncClientBootstrap(token));
    if (step.failure && m_token == token) {
        appendLog(QStringLiteral("新客户端启动信息暂不可用，使用兼容接口。"));
        step = co_await attempt(syncDevices(token));
    }
    if (ended(step.failure)) {
        co_return;
    }
    step = co_await attempt(syncRoutePreferences(token));
    if (m_token != token) {
        co_return;
    }
    if (step.failure) {
        appendLog(QStringLiteral("线路策略偏好暂不可用，继续使用本机偏好。"));
    }
    step = co_await attempt(syncTickets(token));
    if (!ended(step.failure)) {
        step = co_await attempt(syncOrders(token));
        ended(step.failure);
    }
}

QCoro::Task<void> AppState::syncAccount(QString token) {
    const auto me = co_await m_api.send<APIMeResponse>(QStringLiteral("/me"),
                                                       QStringLiteral("GET"), token,
                                                       std::nullopt, {});
    if (m_token != token) {
        co_return;
    }
    setCurrentUser(me.user);
    setMaxDevices(me.user.maxDevices);
    appendLog(QStringLiteral("账号权益同步完成。"));
}

void AppState::reportRefreshFailure(const std::exception_ptr& error) {
    present(error, kRefreshFallback);
    if (isUnauthorized(error)) {
        logoutLocally();
    }
}

QCoro::Task<void> AppState::syncClientBootstrap(QString token) {
    const auto response = co_await m_api.clientBootstrap(token);
    if (m_token != token) {
        co_return;
    }
    if (response.user) {
        setCurrentUser(response.user);
        setMaxDevices(response.user->maxDevices);
    }
    if (response.maxDevices) {
        setMaxDevices(*response.maxDevices);
    }
    if (!response.endpoints.isEmpty()) {
        QList<Endpoint> endpoints;
        for (const APIEndpoint& api : response.endpoints) {
            Endpoint endpoint = Endpoint::fromAPI(api);
            if (endpoint.status != NodeStatus::offline) {
                endpoints.append(std::move(endpoint));
            }
        }
        setEndpoints(endpoints);
        const bool listed =
            m_selectedEndpointId &&
            std::any_of(m_endpoints.begin(), m_endpoints.end(),
                        [this](const Endpoint& e) { return e.id == *m_selectedEndpointId; });
        if (!listed) {
            const auto recommended = recommendedEndpoint(m_endpoints);
            setSelectedEndpointId(recommended ? std::optional(recommended->id) : std::nullopt);
        }
        appendLog(QStringLiteral("多协议节点启动信息同步完成。"));
    }
    if (!response.devices) {
        co_await syncDevices(token);
        co_return;
    }
    applyDeviceChoice(*response.devices, false);
}

QCoro::Task<void> AppState::syncDevices(QString token) {
    const auto response = co_await m_api.send<APIDevicesResponse>(
        QStringLiteral("/devices"), QStringLiteral("GET"), token, std::nullopt, {});
    if (m_token != token) {
        co_return;
    }
    setMaxDevices(response.maxDevices);
    setActiveDeviceCount(response.activeDeviceCount);
    applyDeviceChoice(response.devices, true);
}

void AppState::applyDeviceChoice(const QList<APIDevice>& list, bool fullForm) {
    const std::optional<QString> userId =
        m_currentUser ? std::optional(m_currentUser->id) : std::nullopt;
    const auto remembered = m_deviceIdentity.serverDeviceId(userId);
    const QString currentId =
        m_currentDevice ? m_currentDevice->id : remembered.value_or(QString());

    QList<Device> first;
    for (const APIDevice& api : list) {
        first.append(Device::fromAPI(api, currentId));
    }
    auto found = std::find_if(first.begin(), first.end(), [&currentId](const Device& d) {
        return d.id == currentId && d.status == kActiveStatus;
    });
    if (found == first.end()) {
        const QString host = m_deps.hostName();
        const QString os = m_deps.operatingSystemVersion();
        found = std::find_if(first.begin(), first.end(), [&](const Device& d) {
            return d.status == kActiveStatus && d.rawDeviceType == kMacDeviceType &&
                   d.rawDeviceName == host && d.rawOS == os;
        });
    }
    if (found != first.end()) {
        const Device chosen = *found;
        m_deviceIdentity.saveServerDeviceId(chosen.id, userId);
        setCurrentDevice(chosen);
        QList<Device> marked;
        for (const APIDevice& api : list) {
            marked.append(Device::fromAPI(api, chosen.id));
        }
        setDevices(marked);
        return;
    }
    if (fullForm) {
        const bool listed =
            m_currentDevice && std::any_of(first.begin(), first.end(), [this](const Device& d) {
                return d.id == m_currentDevice->id;
            });
        if (!listed) {
            setCurrentDevice(std::nullopt);
        }
    }
    setDevices(first);
}

QCoro::Task<void> AppState::syncRoutePreferences(QString token) {
    const auto response = co_await m_api.send<APIRoutePreferencesResponse>(
        QStringLiteral("/client/route-preferences") + kRouteQuery, QStringLiteral("GET"), token,
        std::nullopt, {});
    if (response.routeCatalog && m_token == token) {
        applyRouteCatalog(*response.routeCatalog);
    }
}

QCoro::Task<void> AppState::syncTickets(QString token) {
    const auto response = co_await m_api.send<APITicketsResponse>(
        QStringLiteral("/tickets"), QStringLiteral("GET"), token, std::nullopt, {});
    if (m_token != token) {
        co_return;
    }
    QList<Ticket> tickets;
    for (const APITicket& ticket : response.tickets) {
        tickets.append(Ticket::fromAPI(ticket));
    }
    setTickets(tickets);
}

QCoro::Task<void> AppState::syncOrders(QString token) {
    const auto response = co_await m_api.send<APIOrdersResponse>(
        QStringLiteral("/orders"), QStringLiteral("GET"), token, std::nullopt, {});
    if (m_token != token) {
        co_return;
    }
    QList<Order> orders;
    for (const APIOrder& order : response.orders) {
        orders.append(Order::fromAPI(order));
    }
    setOrders(orders);
}

void AppState::logoutLocally() {
    // Signing out must not leave the user's network pointing at a tunnel nobody controls.
    const bool tunnelUp = m_flows->running().has_value() || m_tunnel.activeMode().has_value() ||
                          m_flows->connectRunning() || m_flows->nodeStartsUnderWay() > 0;
    // What the old session was busy with ends quietly and lets go of the busy mark: the
    // signed-out window must not wait for its answers.
    m_flows->endSession();
    stopConnectionHeartbeat();
    m_preferences.remove(m_sessionStore.tokenKey);
    m_token.reset();
    setCurrentUser(std::nullopt);
    setDevices({});
    setTickets({});
    setOrders({});
    setCurrentDevice(std::nullopt);
    clearQuickConnectCache();
    setMaxDevices(0);
    setActiveDeviceCount(0);
    setConnectionState(ConnectionState::Case::disconnected);
    setConnectedAt(std::nullopt);
    setShowAuthSheet(true);
    appendLog(QStringLiteral("已退出登录。"));
    if (tunnelUp) {
        spawn(takeDownTunnelAfterSignOut());
    }
}

QCoro::Task<void> AppState::takeDownTunnelAfterSignOut() {
    const ConnectionFlows::Lease takeDown = m_flows->beginTakeDown();
    forgetRunningNode();
    setAIProxyReady(false);
    QPointer<AppState> self(this);
    std::exception_ptr failure;
    try {
        co_await m_tunnel.disconnect();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    if (failure) {
        appendLog(QStringLiteral("断开连接失败：") + describeError(failure));
    }
}

// --- Account flows -------------------------------------------------------------------------

QCoro::Task<bool> AppState::sendVerificationCode(QString identity) {
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    bool sent = false;
    std::exception_ptr failure;
    try {
        const QString email = StateText::normalizedEmail(identity);
        const auto response = co_await m_api.sendVerificationCode(email);
        setAlertMessage(response.message);
        appendLog(QStringLiteral("验证码已发送。"));
        sent = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("验证码发送失败"));
    }
    co_return sent;
}

QCoro::Task<void> AppState::registerAccount(QString identity, QString password,
                                            QString verificationCode,
                                            std::optional<QString> inviteCode) {
    // A sign-out during the new session's first refresh ends the hold with it.
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    std::optional<APIAuthResponse> auth;
    std::exception_ptr failure;
    try {
        APIRegisterRequest request;
        request.identity = StateText::normalizedEmail(identity);
        request.password = password;
        request.verificationCode = verificationCode;
        if (inviteCode && !inviteCode->isEmpty()) {
            request.inviteCode = inviteCode;
        }
        auth = co_await m_api.registerAccount(request);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("注册失败"));
        co_return;
    }
    co_await startSession(*auth, QStringLiteral("注册并登录成功。"));
}

QCoro::Task<void> AppState::login(QString identity, QString password) {
    const ConnectionFlows::Lease busy = m_flows->holdBusy(ConnectionFlows::Scope::account);
    std::optional<APIAuthResponse> auth;
    std::exception_ptr failure;
    try {
        const QString email = StateText::normalizedEmail(identity);
        auth = co_await m_api.login(email, password);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        present(failure, QStringLiteral("登录失败"));
        co_return;
    }
    co_await startSession(*auth, QStringLiteral("登录成功。"));
}

QCoro::Task<void> AppState::startSession(APIAuthResponse auth, QString logText) {
    m_preferences.setString(m_sessionStore.tokenKey, auth.token);
    m_token = auth.token;
    setCurrentUser(auth.user);
    setMaxDevices(auth.user.maxDevices);
    setShowAuthSheet(false);
    appendLog(logText);
    co_await refreshPublicData();
    // Signed out meanwhile, or signed in again: that session's own refresh is the one to run.
    if (m_token == auth.token) {
        co_await refreshPrivateData();
    }
}

QCoro::Task<void> AppState::logout() {
    if (!m_token) {
        logoutLocally();
        co_return;
    }
    bool failed = false;
    try {
        co_await m_api.send<APIOkResponse>(QStringLiteral("/auth/logout"), QStringLiteral("POST"),
                                           *m_token, std::nullopt, {});
    } catch (...) {
        failed = true;
    }
    if (failed) {
        appendLog(QStringLiteral("退出登录请求失败，已清理本地会话。"));
    }
    logoutLocally();
}

} // namespace orvane
