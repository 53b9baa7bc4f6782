#include "DevCatalog.h"

#include <QCryptographicHash>
#include <QUuid>

namespace orvane::dev {

namespace {

QJsonObject rule(const QString& type, const QString& value, const QString& scope, int priority) {
    return QJsonObject{{QStringLiteral("ruleType"), type},
                       {QStringLiteral("value"), value},
                       {QStringLiteral("platformScope"), scope},
                       {QStringLiteral("priority"), priority}};
}

// Same shape in snake case: the client reads both spellings.
QJsonObject snakeRule(const QString& type, const QString& value, const QString& scope,
                      int priority) {
    return QJsonObject{{QStringLiteral("rule_type"), type},
                       {QStringLiteral("value"), value},
                       {QStringLiteral("platform_scope"), scope},
                       {QStringLiteral("priority"), priority}};
}

QJsonObject policy(const QString& id, const QString& name, const QString& mode,
                   const QStringList& preferred, const QStringList& excluded) {
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("mode"), mode},
                       {QStringLiteral("preferredRegions"), QJsonArray::fromStringList(preferred)},
                       {QStringLiteral("excludedRegions"), QJsonArray::fromStringList(excluded)}};
}

struct Category {
    QString id;
    QString name;
    QString defaultPolicyId;
    QJsonArray rules;
};

QList<Category> categories() {
    const QString all = QStringLiteral("all");
    const QString macos = QStringLiteral("macos");
    return {
        {QStringLiteral("ai"), QStringLiteral("AI 服务"), QStringLiteral("policy_ai"),
         QJsonArray{rule(QStringLiteral("domain_suffix"), QStringLiteral("openai.com"), all, 10),
                    rule(QStringLiteral("domain_suffix"), QStringLiteral("anthropic.com"), all, 10),
                    rule(QStringLiteral("domain_suffix"), QStringLiteral("claude.ai"), all, 20),
                    rule(QStringLiteral("bundle_id"), QStringLiteral("com.openai.chat"), macos, 30),
                    snakeRule(QStringLiteral("process_name"), QStringLiteral("codex"), macos, 40)}},
        {QStringLiteral("china"), QStringLiteral("中国大陆"), QStringLiteral("policy_direct"),
         QJsonArray{rule(QStringLiteral("domain_suffix"), QStringLiteral("cn"), all, 10),
                    snakeRule(QStringLiteral("geoip"), QStringLiteral("cn"), all, 20)}},
        {QStringLiteral("streaming"), QStringLiteral("流媒体"), QStringLiteral("policy_auto"),
         QJsonArray{rule(QStringLiteral("domain_suffix"), QStringLiteral("youtube.com"), all, 50),
                    rule(QStringLiteral("domain_suffix"), QStringLiteral("netflix.com"), all, 50)}},
    };
}

QString preferenceText(const QJsonObject& preference, const char* camel, const char* snake) {
    const QJsonValue value = preference.contains(QLatin1String(camel))
                                 ? preference.value(QLatin1String(camel))
                                 : preference.value(QLatin1String(snake));
    return value.toString();
}

QString hexDigest(const QString& text, int length) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(length));
}

QJsonObject vlessOutbound(const DevCatalog::Node& node, const QString& deviceId) {
    // Stable per device and node, like a credential the service provisioned once.
    const QUuid uuid =
        QUuid::createUuidV5(QUuid(QStringLiteral("{6f2b7e1c-3d4a-4c5b-9e8f-1a2b3c4d5e6f}")),
                            deviceId + QLatin1Char('/') + node.id);
    QJsonObject tls{
        {QStringLiteral("enabled"), true},
        {QStringLiteral("server_name"), QStringLiteral("edge.orvane.invalid")},
        {QStringLiteral("utls"),
         QJsonObject{{QStringLiteral("enabled"), true},
                     {QStringLiteral("fingerprint"), QStringLiteral("chrome")}}},
        {QStringLiteral("reality"),
         QJsonObject{{QStringLiteral("enabled"), true},
                     {QStringLiteral("public_key"), hexDigest(node.id + QStringLiteral("/pk"), 43)},
                     {QStringLiteral("short_id"), hexDigest(node.id + QStringLiteral("/sid"), 8)}}},
    };
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("vless")},
                       {QStringLiteral("tag"), QStringLiteral("proxy")},
                       {QStringLiteral("server"), node.host()},
                       {QStringLiteral("server_port"), 443},
                       {QStringLiteral("uuid"), uuid.toString(QUuid::WithoutBraces)},
                       {QStringLiteral("flow"), QStringLiteral("xtls-rprx-vision")},
                       {QStringLiteral("tls"), tls}};
}

QJsonObject hysteria2Outbound(const DevCatalog::Node& node, const QString& deviceId) {
    QJsonObject tls{{QStringLiteral("enabled"), true},
                    {QStringLiteral("server_name"), node.host()},
                    {QStringLiteral("alpn"), QJsonArray{QStringLiteral("h3")}}};
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("hysteria2")},
                       {QStringLiteral("tag"), QStringLiteral("proxy")},
                       {QStringLiteral("server"), node.host()},
                       {QStringLiteral("server_port"), 8443},
                       {QStringLiteral("password"), hexDigest(deviceId + node.id, 32)},
                       {QStringLiteral("up_mbps"), 50},
                       {QStringLiteral("down_mbps"), 200},
                       {QStringLiteral("tls"), tls}};
}

} // namespace

QString DevCatalog::Node::host() const {
    return id + QStringLiteral(".nodes.orvane.invalid");
}

const QList<DevCatalog::Node>& DevCatalog::nodes() {
    static const QList<Node> table{
        {QStringLiteral("hk-01"),
         QStringLiteral("香港"),
         QStringLiteral("HK Premium 01"),
         QStringLiteral("online"),
         38,
         42,
         true,
         {QStringLiteral("vless")},
         QStringLiteral("vless")},
        {QStringLiteral("hk-02"),
         QStringLiteral("香港"),
         QStringLiteral("HK Premium 02"),
         QStringLiteral("online"),
         45,
         61,
         true,
         {QStringLiteral("hysteria2"), QStringLiteral("vless")},
         QStringLiteral("hysteria2")},
        {QStringLiteral("sg-01"),
         QStringLiteral("新加坡"),
         QStringLiteral("SG Stable 01"),
         QStringLiteral("online"),
         55,
         35,
         true,
         {QStringLiteral("vless")},
         QStringLiteral("vless")},
        {QStringLiteral("jp-01"),
         QStringLiteral("日本"),
         QStringLiteral("JP Tokyo 01"),
         QStringLiteral("online"),
         72,
         48,
         true,
         {QStringLiteral("hysteria2")},
         QStringLiteral("hysteria2")},
        {QStringLiteral("us-01"),
         QStringLiteral("美国"),
         QStringLiteral("US West 01"),
         QStringLiteral("maintenance"),
         168,
         83,
         false,
         {QStringLiteral("vless")},
         QStringLiteral("vless")},
    };
    return table;
}

std::optional<DevCatalog::Node> DevCatalog::node(const QString& id) {
    for (const Node& candidate : nodes()) {
        if (candidate.id == id) {
            return candidate;
        }
    }
    return std::nullopt;
}

QJsonObject DevCatalog::nodeJSON(const Node& node) {
    return QJsonObject{{QStringLiteral("id"), node.id},
                       {QStringLiteral("region"), node.region},
                       {QStringLiteral("name"), node.name},
                       {QStringLiteral("host"), node.host()},
                       {QStringLiteral("status"), node.status},
                       {QStringLiteral("latency_ms"), node.latencyMs},
                       {QStringLiteral("load_percent"), node.loadPercent},
                       {QStringLiteral("is_active"), node.active ? 1 : 0}};
}

QJsonObject DevCatalog::endpointJSON(const Node& node) {
    return QJsonObject{{QStringLiteral("id"), node.id},
                       {QStringLiteral("region"), node.region},
                       {QStringLiteral("name"), node.name},
                       {QStringLiteral("host"), node.host()},
                       {QStringLiteral("status"), node.status},
                       {QStringLiteral("latency_ms"), node.latencyMs},
                       {QStringLiteral("load_percent"), node.loadPercent},
                       {QStringLiteral("is_active"), node.active},
                       {QStringLiteral("protocols"), QJsonArray::fromStringList(node.protocols)},
                       {QStringLiteral("preferred_protocol"), node.preferredProtocol}};
}

QJsonArray DevCatalog::plansJSON() {
    auto plan = [](const char* id, const QString& name, double price, int days, int devices) {
        return QJsonObject{{QStringLiteral("id"), QString::fromLatin1(id)},
                           {QStringLiteral("name"), name},
                           {QStringLiteral("price"), price},
                           {QStringLiteral("currency"), QStringLiteral("CNY")},
                           {QStringLiteral("durationDays"), days},
                           {QStringLiteral("maxDevices"), devices}};
    };
    return QJsonArray{plan("monthly", QStringLiteral("月费套餐"), 29.99, 30, 3),
                      plan("quarterly", QStringLiteral("季度费套餐"), 99.99, 90, 5),
                      plan("yearly", QStringLiteral("年费套餐"), 299.99, 365, 5)};
}

QJsonArray DevCatalog::versionsJSON() {
    QJsonObject macos{
        {QStringLiteral("platform"), QStringLiteral("macos")},
        {QStringLiteral("current_version"), QStringLiteral("10.5.1")},
        {QStringLiteral("latest_version"), QStringLiteral("10.5.1")},
        {QStringLiteral("min_version"), QStringLiteral("10.0.0")},
        {QStringLiteral("update_mode"), QStringLiteral("optional")},
        {QStringLiteral("download_url"), QStringLiteral("https://orvane.invalid/download/macos")},
        {QStringLiteral("channel"), QStringLiteral("stable")},
        {QStringLiteral("rollout_percent"), 100},
        {QStringLiteral("release_notes"), QStringLiteral("连接稳定性改进。")},
    };
    QJsonObject windows{
        {QStringLiteral("platform"), QStringLiteral("windows")},
        {QStringLiteral("current_version"), QStringLiteral("9.8.0")},
        {QStringLiteral("latest_version"), QStringLiteral("9.8.0")},
        {QStringLiteral("min_version"), QStringLiteral("9.0.0")},
        {QStringLiteral("update_mode"), QStringLiteral("optional")},
    };
    return QJsonArray{windows, macos};
}

QJsonObject DevCatalog::routeCatalogJSON(const QJsonArray& preferences) {
    QJsonArray categoryList;
    for (const Category& category : categories()) {
        QString selected = category.defaultPolicyId;
        for (const QJsonValue& entry : preferences) {
            const QJsonObject preference = entry.toObject();
            const QString policyId = preferenceText(preference, "policyId", "policy_id");
            if (preferenceText(preference, "categoryId", "category_id") == category.id &&
                !policyId.isEmpty()) {
                selected = policyId;
            }
        }
        categoryList.append(
            QJsonObject{{QStringLiteral("id"), category.id},
                        {QStringLiteral("name"), category.name},
                        {QStringLiteral("selectedPolicyId"), selected},
                        {QStringLiteral("defaultPolicyId"), category.defaultPolicyId},
                        {QStringLiteral("rules"), category.rules}});
    }
    const QJsonArray policies{
        policy(QStringLiteral("policy_ai"), QStringLiteral("AI 专线"), QStringLiteral("proxy"),
               {QStringLiteral("新加坡"), QStringLiteral("日本"), QStringLiteral("美国")},
               {QStringLiteral("香港")}),
        policy(QStringLiteral("policy_direct"), QStringLiteral("直连"), QStringLiteral("direct"),
               {}, {}),
        policy(QStringLiteral("policy_auto"), QStringLiteral("自动选择"), QStringLiteral("auto"),
               {}, {}),
    };
    return QJsonObject{{QStringLiteral("categories"), categoryList},
                       {QStringLiteral("policies"), policies}};
}

bool DevCatalog::hasRouteCategory(const QString& id) {
    for (const Category& category : categories()) {
        if (category.id == id) {
            return true;
        }
    }
    return false;
}

QJsonObject DevCatalog::singBoxConfig(const Node& node, const QString& deviceId) {
    const bool hysteria2 = node.preferredProtocol == QLatin1String("hysteria2");
    const QJsonObject dns{
        {QStringLiteral("servers"),
         QJsonArray{QJsonObject{{QStringLiteral("tag"), QStringLiteral("remote")},
                                {QStringLiteral("type"), QStringLiteral("tls")},
                                {QStringLiteral("server"), QStringLiteral("8.8.8.8")}},
                    QJsonObject{{QStringLiteral("tag"), QStringLiteral("local")},
                                {QStringLiteral("type"), QStringLiteral("udp")},
                                {QStringLiteral("server"), QStringLiteral("223.5.5.5")}},
                    // The client's rewrite resolves server names through this one.
                    QJsonObject{{QStringLiteral("tag"), QStringLiteral("bootstrap")},
                                {QStringLiteral("type"), QStringLiteral("udp")},
                                {QStringLiteral("server"), QStringLiteral("223.5.5.5")}}}},
        {QStringLiteral("final"), QStringLiteral("remote")},
    };
    const QJsonArray inbounds{QJsonObject{{QStringLiteral("type"), QStringLiteral("mixed")},
                                          {QStringLiteral("tag"), QStringLiteral("mixed-in")},
                                          {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                                          {QStringLiteral("listen_port"), 2080}}};
    const QJsonArray outbounds{
        hysteria2 ? hysteria2Outbound(node, deviceId) : vlessOutbound(node, deviceId),
        QJsonObject{{QStringLiteral("type"), QStringLiteral("direct")},
                    {QStringLiteral("tag"), QStringLiteral("direct")}},
        QJsonObject{{QStringLiteral("type"), QStringLiteral("block")},
                    {QStringLiteral("tag"), QStringLiteral("block")}},
    };
    const QJsonArray rules{
        QJsonObject{{QStringLiteral("inbound"), QStringLiteral("mixed-in")},
                    {QStringLiteral("action"), QStringLiteral("sniff")}},
        QJsonObject{{QStringLiteral("ip_is_private"), true},
                    {QStringLiteral("outbound"), QStringLiteral("direct")}},
        QJsonObject{
            {QStringLiteral("domain_suffix"), QJsonArray{QStringLiteral("ads.orvane.invalid")}},
            {QStringLiteral("outbound"), QStringLiteral("block")}},
        QJsonObject{{QStringLiteral("inbound"), QJsonArray{QStringLiteral("mixed-in")}},
                    {QStringLiteral("outbound"), QStringLiteral("proxy")}},
    };
    return QJsonObject{
        {QStringLiteral("log"), QJsonObject{{QStringLiteral("level"), QStringLiteral("info")},
                                            {QStringLiteral("timestamp"), true}}},
        {QStringLiteral("dns"), dns},
        {QStringLiteral("inbounds"), inbounds},
        {QStringLiteral("outbounds"), outbounds},
        {QStringLiteral("route"), QJsonObject{{QStringLiteral("rules"), rules},
                                              {QStringLiteral("final"), QStringLiteral("proxy")}}},
    };
}

} // namespace orvane::dev
