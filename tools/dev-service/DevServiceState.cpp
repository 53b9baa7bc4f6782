#include "DevServiceState.h"

#include "DevCatalog.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <optional>
#include <utility>

namespace orvane::dev {

namespace {

const QString kSessionExpired = QStringLiteral("登录已过期，请重新登录。");
const QString kBadRequest = QStringLiteral("请求格式错误。");
const QString kMissingFields = QStringLiteral("请求参数不完整。");

QString timeText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODate);
}

QString nowText() {
    return timeText(QDateTime::currentDateTimeUtc());
}

QString normalizedIdentity(const QString& identity) {
    return identity.trimmed().toLower();
}

// Null when the body is not a JSON object; the caller answers 400.
std::optional<QJsonObject> bodyObject(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

QString text(const QJsonObject& object, const char* key, const char* otherKey = nullptr) {
    QJsonValue value = object.value(QLatin1String(key));
    if ((value.isUndefined() || value.isNull()) && otherKey != nullptr) {
        value = object.value(QLatin1String(otherKey));
    }
    return value.toString();
}

QString textOr(const QJsonObject& object, const char* key, const QString& fallback) {
    const QString value = text(object, key);
    return value.isEmpty() ? fallback : value;
}

QJsonObject withHeaders(QJsonObject body, const QMap<QString, QString>& headers) {
    QJsonObject seen;
    for (const char* name : {"x-request-id", "x-orvane-attempt-id"}) {
        const QString key = QString::fromLatin1(name);
        if (headers.contains(key)) {
            seen.insert(key, headers.value(key));
        }
    }
    body.insert(QStringLiteral("_headers"), seen);
    return body;
}

QJsonObject ok() {
    return QJsonObject{{QStringLiteral("ok"), true}};
}

} // namespace

DevServiceState::Reply DevServiceState::Reply::json(int status, const QJsonObject& object) {
    return Reply{status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json"};
}

DevServiceState::Reply DevServiceState::Reply::error(int status, const QString& text) {
    return json(status, QJsonObject{{QStringLiteral("error"), text}});
}

DevServiceState::DevServiceState(int configReadyAfterPolls, int configRetryAfterMs,
                                 int configMaxWaitMs, Logger logger)
    : m_configReadyAfterPolls(configReadyAfterPolls),
      m_configRetryAfterMs(configRetryAfterMs),
      m_configMaxWaitMs(configMaxWaitMs),
      m_logger(std::move(logger)) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    User demo;
    demo.id = QString::fromLatin1(kDemoUserId);
    demo.identity = QStringLiteral("demo@orvane.dev");
    demo.password = QStringLiteral("orvane-demo");
    demo.referralCode = QStringLiteral("ORVDEMO8");
    demo.planName = QStringLiteral("季度费套餐");
    demo.subscriptionExpiredAt = timeText(now.addDays(62));
    demo.remainingTrafficMb = 51200;
    demo.maxDevices = 3;
    demo.invitesTotal = 6;
    demo.invitesPaid = 2;
    demo.rewardDays = 14;
    m_users.push_back(demo);

    // The client reads order keys in either spelling; the seed uses both.
    m_orders.insert(
        demo.id,
        QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("ord_20240301")},
                               {QStringLiteral("planId"), QStringLiteral("quarterly")},
                               {QStringLiteral("planName"), QStringLiteral("季度费套餐")},
                               {QStringLiteral("amount"), 99.99},
                               {QStringLiteral("currency"), QStringLiteral("CNY")},
                               {QStringLiteral("paymentMethod"), QStringLiteral("alipay")},
                               {QStringLiteral("paymentStatus"), QStringLiteral("paid")},
                               {QStringLiteral("createdAt"), timeText(now.addDays(-28))},
                               {QStringLiteral("paidAt"), timeText(now.addDays(-28))}},
                   QJsonObject{{QStringLiteral("id"), QStringLiteral("ord_20231201")},
                               {QStringLiteral("plan_id"), QStringLiteral("monthly")},
                               {QStringLiteral("plan_name"), QStringLiteral("月费套餐")},
                               {QStringLiteral("amount"), 29.99},
                               {QStringLiteral("payment_method"), QStringLiteral("wechat")},
                               {QStringLiteral("payment_status"), QStringLiteral("expired")},
                               {QStringLiteral("created_at"), timeText(now.addDays(-120))}}});
    m_tickets.insert(demo.id,
                     {QJsonObject{{QStringLiteral("id"), QStringLiteral("tk_1000")},
                                  {QStringLiteral("title"), QStringLiteral("香港节点晚高峰速度慢")},
                                  {QStringLiteral("category"), QStringLiteral("connection")},
                                  {QStringLiteral("contact_email"), demo.identity},
                                  {QStringLiteral("status"), QStringLiteral("resolved")},
                                  {QStringLiteral("created_at"), timeText(now.addDays(-9))}}});
}

const std::vector<DevServiceState::Route>& DevServiceState::routes() {
    static const std::vector<Route> table{
        {"POST", "auth/verification-code", false, &DevServiceState::sendVerificationCode},
        {"POST", "auth/register", false, &DevServiceState::registerUser},
        {"POST", "auth/login", false, &DevServiceState::login},
        {"POST", "auth/logout", true, &DevServiceState::logout},
        {"GET", "nodes", false, &DevServiceState::nodes},
        {"GET", "client/route-catalog", false, &DevServiceState::routeCatalog},
        {"GET", "plans", false, &DevServiceState::plans},
        {"GET", "versions", false, &DevServiceState::versions},
        {"GET", "me", true, &DevServiceState::me},
        {"GET", "client/bootstrap", true, &DevServiceState::bootstrap},
        {"GET", "client/route-preferences", true, &DevServiceState::routePreferences},
        {"PUT", "client/route-preferences", true, &DevServiceState::saveRoutePreferences},
        {"GET", "devices", true, &DevServiceState::devices},
        {"POST", "devices", true, &DevServiceState::bindDevice},
        {"DELETE", "devices/{id}", true, &DevServiceState::deleteDevice},
        {"POST", "client/devices/{id}/protocol-config", true, &DevServiceState::protocolConfig},
        {"GET", "tickets", true, &DevServiceState::tickets},
        {"POST", "tickets", true, &DevServiceState::createTicket},
        {"GET", "orders", true, &DevServiceState::orders},
        {"POST", "client/connection-report", true, &DevServiceState::connectionReport},
        {"POST", "client/crash-report", true, &DevServiceState::crashReport},
    };
    return table;
}

DevServiceState::Reply DevServiceState::handle(const Call& call) {
    bool pathKnown = false;
    for (const Route& route : routes()) {
        const QStringList pattern = QString::fromLatin1(route.pattern).split(QLatin1Char('/'));
        if (pattern.size() != call.segments.size()) {
            continue;
        }
        QString param;
        bool matches = true;
        for (qsizetype i = 0; i < pattern.size() && matches; ++i) {
            if (pattern[i] == QLatin1String("{id}")) {
                param =
                    QString::fromUtf8(QByteArray::fromPercentEncoding(call.segments[i].toUtf8()));
                matches = !param.isEmpty();
            } else {
                matches = pattern[i] == call.segments[i];
            }
        }
        if (!matches) {
            continue;
        }
        pathKnown = true;
        if (call.method != QLatin1String(route.method)) {
            continue;
        }
        Request request{call, nullptr, param};
        if (route.needsToken) {
            request.user = userForToken(call.headers);
            if (request.user == nullptr) {
                return Reply::error(401, kSessionExpired);
            }
        }
        return (this->*route.handler)(request);
    }
    if (pathKnown) {
        return Reply::error(405, QStringLiteral("不支持的请求方法。"));
    }
    return Reply::error(404, QStringLiteral("接口不存在。"));
}

QString DevServiceState::lastVerificationCode(const QString& identity) const {
    return m_codes.value(normalizedIdentity(identity));
}

QString DevServiceState::signIn(const QString& userId) {
    const QString token = newId("tok_", 32);
    m_tokens.insert(token, userId);
    return token;
}

void DevServiceState::setMaxDevices(const QString& userId, int max) {
    for (User& user : m_users) {
        if (user.id == userId) {
            user.maxDevices = max;
        }
    }
}

DevServiceState::Reply DevServiceState::sendVerificationCode(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    const QString identity = normalizedIdentity(text(*body, "identity"));
    if (!identity.contains(QLatin1Char('@'))) {
        return Reply::error(400, QStringLiteral("请填写有效的邮箱地址。"));
    }
    const QString code = QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1000000), 6,
                                                  10, QLatin1Char('0'));
    m_codes.insert(identity, code);
    if (m_logger) {
        m_logger(QStringLiteral("verification code for %1: %2").arg(identity, code));
    }
    return Reply::json(
        200, QJsonObject{{QStringLiteral("ok"), true},
                         {QStringLiteral("channel"), QStringLiteral("email")},
                         {QStringLiteral("expiresInMinutes"), 10},
                         {QStringLiteral("message"), QStringLiteral("验证码已发送，请查收邮箱。")},
                         {QStringLiteral("debugCode"), code}});
}

DevServiceState::Reply DevServiceState::registerUser(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    const QString identity = normalizedIdentity(text(*body, "identity"));
    const QString password = text(*body, "password");
    if (identity.isEmpty() || password.isEmpty()) {
        return Reply::error(400, kMissingFields);
    }
    if (userWithIdentity(identity) != nullptr) {
        return Reply::error(409, QStringLiteral("该邮箱已注册，请直接登录。"));
    }
    const QString expected = m_codes.value(identity);
    if (expected.isEmpty() || text(*body, "verificationCode") != expected) {
        return Reply::error(400, QStringLiteral("验证码错误或已过期。"));
    }
    m_codes.remove(identity);

    const QString inviteCode = text(*body, "inviteCode");
    for (User& referrer : m_users) {
        if (!inviteCode.isEmpty() &&
            referrer.referralCode.compare(inviteCode, Qt::CaseInsensitive) == 0) {
            ++referrer.invitesTotal;
        }
    }
    User user;
    user.id = newId("usr_", 10);
    user.identity = identity;
    user.password = password;
    user.referralCode = newId("ORV", 5).toUpper();
    user.planName = QStringLiteral("体验套餐");
    user.subscriptionExpiredAt = timeText(QDateTime::currentDateTimeUtc().addDays(7));
    user.remainingTrafficMb = 10240;
    user.maxDevices = 2;
    m_users.push_back(user);
    return Reply::json(200, authAnswer(m_users.back()));
}

DevServiceState::Reply DevServiceState::login(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    User* user = userWithIdentity(normalizedIdentity(text(*body, "identity")));
    if (user == nullptr || user->password != text(*body, "password")) {
        return Reply::error(401, QStringLiteral("邮箱或密码错误。"));
    }
    return Reply::json(200, authAnswer(*user));
}

DevServiceState::Reply DevServiceState::logout(const Request& request) {
    const QString header = request.call.headers.value(QStringLiteral("authorization"));
    m_tokens.remove(header.mid(7));
    return Reply::json(200, ok());
}

DevServiceState::Reply DevServiceState::me(const Request& request) {
    return Reply::json(200, QJsonObject{{QStringLiteral("user"), userJSON(*request.user)}});
}

DevServiceState::Reply DevServiceState::nodes(const Request&) {
    QJsonArray list;
    for (const DevCatalog::Node& node : DevCatalog::nodes()) {
        list.append(DevCatalog::nodeJSON(node));
    }
    return Reply::json(200, QJsonObject{{QStringLiteral("nodes"), list}});
}

DevServiceState::Reply DevServiceState::plans(const Request&) {
    return Reply::json(200, QJsonObject{{QStringLiteral("plans"), DevCatalog::plansJSON()}});
}

DevServiceState::Reply DevServiceState::versions(const Request&) {
    return Reply::json(200, QJsonObject{{QStringLiteral("versions"), DevCatalog::versionsJSON()}});
}

DevServiceState::Reply DevServiceState::orders(const Request& request) {
    return Reply::json(200,
                       QJsonObject{{QStringLiteral("orders"), m_orders.value(request.user->id)}});
}

DevServiceState::Reply DevServiceState::tickets(const Request& request) {
    QJsonArray list;
    for (const QJsonObject& ticket : m_tickets.value(request.user->id)) {
        list.append(ticket);
    }
    return Reply::json(200, QJsonObject{{QStringLiteral("tickets"), list}});
}

DevServiceState::Reply DevServiceState::createTicket(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    const QString title = text(*body, "title").trimmed();
    const QString content = text(*body, "body").trimmed();
    if (title.isEmpty() && content.isEmpty()) {
        return Reply::error(400, QStringLiteral("请填写反馈内容。"));
    }
    QJsonObject ticket{{QStringLiteral("id"), QStringLiteral("tk_%1").arg(m_ticketSerial++)},
                       {QStringLiteral("title"), title.isEmpty() ? QStringLiteral("工单") : title},
                       {QStringLiteral("status"), QStringLiteral("open")},
                       {QStringLiteral("createdAt"), nowText()}};
    for (const char* key : {"category", "contactEmail"}) {
        const QString value = text(*body, key);
        if (!value.isEmpty()) {
            ticket.insert(QLatin1String(key), value);
        }
    }
    m_tickets[request.user->id].prepend(ticket);
    return Reply::json(200, QJsonObject{{QStringLiteral("ticket"), ticket}});
}

DevServiceState::Reply DevServiceState::bootstrap(const Request& request) {
    QJsonArray endpoints;
    for (const DevCatalog::Node& node : DevCatalog::nodes()) {
        endpoints.append(DevCatalog::endpointJSON(node));
    }
    return Reply::json(200, QJsonObject{{QStringLiteral("user"), userJSON(*request.user)},
                                        {QStringLiteral("endpoints"), endpoints},
                                        {QStringLiteral("devices"), devicesJSON(request.user->id)},
                                        {QStringLiteral("max_devices"), request.user->maxDevices}});
}

DevServiceState::Reply DevServiceState::routeCatalog(const Request&) {
    return Reply::json(200, DevCatalog::routeCatalogJSON());
}

DevServiceState::Reply DevServiceState::routePreferences(const Request& request) {
    const QJsonArray preferences = m_preferences.value(request.user->id);
    return Reply::json(200, QJsonObject{{QStringLiteral("preferences"), preferences},
                                        {QStringLiteral("routeCatalog"),
                                         DevCatalog::routeCatalogJSON(preferences)}});
}

DevServiceState::Reply DevServiceState::saveRoutePreferences(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body || !body->value(QStringLiteral("preferences")).isArray()) {
        return Reply::error(400, kBadRequest);
    }
    QJsonArray stored;
    for (const QJsonValue& entry : body->value(QStringLiteral("preferences")).toArray()) {
        const QJsonObject given = entry.toObject();
        const QString categoryId = text(given, "categoryId", "category_id");
        if (!DevCatalog::hasRouteCategory(categoryId)) {
            return Reply::error(400, QStringLiteral("未知的线路分类：%1").arg(categoryId));
        }
        QJsonObject preference{{QStringLiteral("categoryId"), categoryId},
                               {QStringLiteral("policyId"), text(given, "policyId", "policy_id")}};
        const QString endpointId = text(given, "endpointId", "endpoint_id");
        if (!endpointId.isEmpty()) {
            preference.insert(QStringLiteral("endpointId"), endpointId);
        }
        stored.append(preference);
    }
    m_preferences.insert(request.user->id, stored);
    return routePreferences(request);
}

DevServiceState::Reply DevServiceState::devices(const Request& request) {
    const int count = deviceCount(request.user->id);
    return Reply::json(200, QJsonObject{{QStringLiteral("devices"), devicesJSON(request.user->id)},
                                        {QStringLiteral("max_devices"), request.user->maxDevices},
                                        {QStringLiteral("active_device_count"), count}});
}

DevServiceState::Reply DevServiceState::bindDevice(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    const QString clientDeviceId = text(*body, "deviceId");
    Device* device = nullptr;
    for (Device& candidate : m_devices) {
        if (!clientDeviceId.isEmpty() && candidate.ownerId == request.user->id &&
            candidate.clientDeviceId == clientDeviceId) {
            device = &candidate;
        }
    }
    if (device == nullptr) {
        if (deviceCount(request.user->id) >= request.user->maxDevices) {
            return Reply::json(
                403, QJsonObject{{QStringLiteral("error"), QStringLiteral("已达到设备数量上限。")},
                                 {QStringLiteral("errorCode"), QStringLiteral("DEVICE_LIMIT")}});
        }
        Device fresh;
        fresh.id = newId("dev_", 12);
        fresh.ownerId = request.user->id;
        fresh.clientDeviceId = clientDeviceId;
        m_devices.push_back(fresh);
        device = &m_devices.back();
    }
    device->deviceName = textOr(*body, "deviceName", QStringLiteral("Orvane 设备"));
    device->deviceType = textOr(*body, "deviceType", QStringLiteral("unknown"));
    device->os = text(*body, "os");
    device->appVersion = text(*body, "appVersion");
    device->lastLoginAt = nowText();
    return Reply::json(200, QJsonObject{{QStringLiteral("device"), deviceJSON(*device)}});
}

DevServiceState::Reply DevServiceState::deleteDevice(const Request& request) {
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (it->ownerId == request.user->id && it->id == request.param) {
            m_devices.erase(it);
            return Reply::json(200, ok());
        }
    }
    return Reply::error(404, QStringLiteral("设备不存在。"));
}

DevServiceState::Reply DevServiceState::protocolConfig(const Request& request) {
    const Device* device = nullptr;
    for (const Device& candidate : m_devices) {
        if (candidate.ownerId == request.user->id && candidate.id == request.param) {
            device = &candidate;
        }
    }
    if (device == nullptr) {
        return Reply::error(404, QStringLiteral("设备不存在。"));
    }
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    const auto node = DevCatalog::node(text(*body, "endpoint_id", "endpointId"));
    if (!node) {
        return Reply::error(404, QStringLiteral("节点不存在。"));
    }

    int& polls = m_polls[device->id + QLatin1Char('\n') + node->id];
    if (polls < m_configReadyAfterPolls) {
        ++polls;
        const QString message = QStringLiteral("节点凭证同步中，请稍候。");
        QJsonObject provisioning{{QStringLiteral("status"), QStringLiteral("provisioning")},
                                 {QStringLiteral("message"), message},
                                 {QStringLiteral("retryAfterMs"), m_configRetryAfterMs}};
        QJsonObject answer{{QStringLiteral("endpoint_id"), node->id},
                           {QStringLiteral("protocol"), node->preferredProtocol},
                           {QStringLiteral("configStatus"), QStringLiteral("provisioning")},
                           {QStringLiteral("message"), message},
                           {QStringLiteral("retryAfterMs"), m_configRetryAfterMs}};
        if (m_configMaxWaitMs >= 0) {
            provisioning.insert(QStringLiteral("maxWaitMs"), m_configMaxWaitMs);
            answer.insert(QStringLiteral("maxWaitMs"), m_configMaxWaitMs);
        }
        answer.insert(QStringLiteral("provisioning"), provisioning);
        return Reply::json(200, answer);
    }

    const QString key = device->id + QLatin1Char('/') + node->id;
    QString cacheKey = QStringLiteral("pc_%1_%2").arg(node->id, device->id);
    if (m_cacheKeyNamesMode) {
        cacheKey += QLatin1Char('_') + text(*body, "outbound_mode", "outboundMode");
    }
    const QJsonObject cache{
        {QStringLiteral("cacheKey"), cacheKey},
        {QStringLiteral("credentialId"),
         QStringLiteral("cred_%1").arg(qHash(key), 8, 16, QLatin1Char('0'))},
        {QStringLiteral("configRevision"), 1},
        {QStringLiteral("expiresAt"), timeText(QDateTime::currentDateTimeUtc().addDays(1))},
    };
    const QJsonObject v2{
        {QStringLiteral("endpointId"), node->id},
        {QStringLiteral("protocol"), node->preferredProtocol},
        {QStringLiteral("adapter"), QStringLiteral("sing-box")},
        {QStringLiteral("runtime"), QJsonObject{{QStringLiteral("singBoxConfig"),
                                                 DevCatalog::singBoxConfig(*node, device->id)}}},
        {QStringLiteral("cache"), cache},
        {QStringLiteral("configStatus"), QStringLiteral("ready")},
        {QStringLiteral("lifecycle"),
         QJsonObject{{QStringLiteral("nodeSyncStatus"), QStringLiteral("synced")}}},
    };
    return Reply::json(200, QJsonObject{{QStringLiteral("endpoint_id"), node->id},
                                        {QStringLiteral("protocol"), node->preferredProtocol},
                                        {QStringLiteral("configStatus"), QStringLiteral("ready")},
                                        {QStringLiteral("protocolConfigV2"), v2}});
}

DevServiceState::Reply DevServiceState::connectionReport(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    m_connectionReports.append(withHeaders(*body, request.call.headers));
    const QString status = text(*body, "status");
    for (Device& device : m_devices) {
        if (device.ownerId == request.user->id && device.id == text(*body, "deviceId")) {
            device.online = status == QLatin1String("connected");
            device.connectionStatus = status;
            device.latestConnectionAt = nowText();
        }
    }
    return Reply::json(200, ok());
}

DevServiceState::Reply DevServiceState::crashReport(const Request& request) {
    const auto body = bodyObject(request.call.body);
    if (!body) {
        return Reply::error(400, kBadRequest);
    }
    m_crashReports.append(withHeaders(*body, request.call.headers));
    return Reply::json(200, ok());
}

DevServiceState::User* DevServiceState::userForToken(const QMap<QString, QString>& headers) {
    const QString header = headers.value(QStringLiteral("authorization"));
    if (!header.startsWith(QLatin1String("Bearer "))) {
        return nullptr;
    }
    const auto it = m_tokens.constFind(header.mid(7));
    if (it == m_tokens.constEnd()) {
        return nullptr;
    }
    for (User& user : m_users) {
        if (user.id == it.value()) {
            return &user;
        }
    }
    return nullptr;
}

DevServiceState::User* DevServiceState::userWithIdentity(const QString& identity) {
    for (User& user : m_users) {
        if (user.identity == identity) {
            return &user;
        }
    }
    return nullptr;
}

QString DevServiceState::newId(const char* prefix, int hexDigits) {
    QString id = QString::fromLatin1(prefix);
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < hexDigits; ++i) {
        id += QString::number(random->bounded(16), 16);
    }
    return id;
}

QJsonObject DevServiceState::userJSON(const User& user) const {
    return QJsonObject{{QStringLiteral("id"), user.id},
                       {QStringLiteral("identity"), user.identity},
                       {QStringLiteral("email"), user.identity},
                       {QStringLiteral("role"), QStringLiteral("user")},
                       {QStringLiteral("status"), QStringLiteral("active")},
                       {QStringLiteral("referralCode"), user.referralCode},
                       {QStringLiteral("planName"), user.planName},
                       {QStringLiteral("subscriptionExpiredAt"), user.subscriptionExpiredAt},
                       {QStringLiteral("remainingTrafficMb"), user.remainingTrafficMb},
                       {QStringLiteral("maxDevices"), user.maxDevices},
                       {QStringLiteral("invitesTotal"), user.invitesTotal},
                       {QStringLiteral("invitesPaid"), user.invitesPaid},
                       {QStringLiteral("rewardDays"), user.rewardDays}};
}

QJsonObject DevServiceState::deviceJSON(const Device& device) const {
    QJsonObject object{{QStringLiteral("id"), device.id},
                       {QStringLiteral("device_name"), device.deviceName},
                       {QStringLiteral("device_type"), device.deviceType},
                       {QStringLiteral("os"), device.os},
                       {QStringLiteral("app_version"), device.appVersion},
                       {QStringLiteral("status"), QStringLiteral("active")},
                       {QStringLiteral("last_login_at"), device.lastLoginAt},
                       {QStringLiteral("is_online"), device.online}};
    if (!device.connectionStatus.isEmpty()) {
        object.insert(QStringLiteral("connection_status"), device.connectionStatus);
        object.insert(QStringLiteral("latest_connection_at"), device.latestConnectionAt);
    }
    return object;
}

QJsonArray DevServiceState::devicesJSON(const QString& userId) const {
    QJsonArray list;
    for (const Device& device : m_devices) {
        if (device.ownerId == userId) {
            list.append(deviceJSON(device));
        }
    }
    return list;
}

int DevServiceState::deviceCount(const QString& userId) const {
    int count = 0;
    for (const Device& device : m_devices) {
        count += device.ownerId == userId ? 1 : 0;
    }
    return count;
}

QJsonObject DevServiceState::authAnswer(const User& user) {
    return QJsonObject{{QStringLiteral("token"), signIn(user.id)},
                       {QStringLiteral("user"), userJSON(user)}};
}

} // namespace orvane::dev
