#include "APIRouteRecords.h"
#include "DecodingError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvane;

namespace {

template <typename T> T decode(const char* body) {
    return json::decodeBody<T>(QByteArray(body));
}

template <typename T> std::optional<DecodingError> decodeFailure(const char* body) {
    try {
        decode<T>(body);
    } catch (const DecodingError& error) {
        return error;
    }
    return std::nullopt;
}

QJsonObject parsed(const QByteArray& encoded) {
    return QJsonDocument::fromJson(encoded).object();
}

// Top-level keys of a flat encoded object in the order they were written.
QStringList keysInOrder(const QByteArray& encoded) {
    QStringList keys = parsed(encoded).keys();
    std::sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) {
        return encoded.indexOf("\"" + a.toUtf8() + "\":") <
               encoded.indexOf("\"" + b.toUtf8() + "\":");
    });
    return keys;
}

TEST(APIRouteRecordsTest, CategoryDefaults) {
    struct Case {
        const char* body;
        APIRouteCategory expected;
    };
    const Case cases[] = {
        {R"({"id":"ai"})", {.id = "ai", .name = "ai"}},
        {R"({"id":"ai","name":null})", {.id = "ai", .name = "ai"}},
        {R"({"id":"ai","name":"AI 服务","selectedPolicyId":"p1"})",
         {.id = "ai", .name = "AI 服务", .selectedPolicyId = "p1", .defaultPolicyId = "p1"}},
        {R"({"id":"ai","selected_policy_id":"p1","default_policy_id":"p2"})",
         {.id = "ai", .name = "ai", .selectedPolicyId = "p1", .defaultPolicyId = "p2"}},
        {R"({"id":"ai","selected_policy_id":"x","selectedPolicyId":"p1",
             "default_policy_id":"y","defaultPolicyId":"p2"})",
         {.id = "ai", .name = "ai", .selectedPolicyId = "p1", .defaultPolicyId = "p2"}},
        {R"({"id":"ai","defaultPolicyId":null,"default_policy_id":"p2"})",
         {.id = "ai", .name = "ai", .defaultPolicyId = "p2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(decode<APIRouteCategory>(c.body), c.expected);
    }
}

TEST(APIRouteRecordsTest, PolicyAndRuleDefaults) {
    EXPECT_EQ(decode<APIRoutePolicy>(R"({"id":"direct"})"),
              (APIRoutePolicy{.id = "direct", .name = "direct", .mode = "auto"}));
    EXPECT_EQ(decode<APIRoutePolicy>(R"({"id":"p","name":"日本优先","mode":"prefer",
                                         "preferred_regions":["JP"],"excluded_regions":["CN"]})"),
              (APIRoutePolicy{.id = "p",
                              .name = "日本优先",
                              .mode = "prefer",
                              .preferredRegions = {"JP"},
                              .excludedRegions = {"CN"}}));
    EXPECT_EQ(decode<APIRoutePolicy>(R"({"id":"p","preferred_regions":["JP"],
                                         "preferredRegions":["US","SG"]})")
                  .preferredRegions,
              QStringList({"US", "SG"}));

    EXPECT_EQ(decode<APIRouteRule>("{}"), (APIRouteRule{.platformScope = "all", .priority = 100}));
    EXPECT_EQ(decode<APIRouteRule>(
                  R"({"rule_type":"domain_suffix","value":"openai.com","platform_scope":"macos",
                      "priority":5})"),
              (APIRouteRule{.ruleType = "domain_suffix",
                            .value = "openai.com",
                            .platformScope = "macos",
                            .priority = 5}));
    EXPECT_EQ(decode<APIRouteRule>(R"({"rule_type":"b","ruleType":"a","platform_scope":"b",
                                       "platformScope":"a","priority":null})"),
              (APIRouteRule{.ruleType = "a", .platformScope = "a", .priority = 100}));
}

TEST(APIRouteRecordsTest, CatalogDecodesNestedRules) {
    const auto catalog = decode<APIRouteCatalogResponse>(R"({
        "categories": [{"id": "ai", "selectedPolicyId": "p1",
                        "rules": [{"ruleType": "domain", "value": "a.com"}, {}]}],
        "policies": [{"id": "p1"}]
    })");
    ASSERT_EQ(catalog.categories.size(), 1);
    EXPECT_EQ(catalog.categories[0].defaultPolicyId, QStringLiteral("p1"));
    EXPECT_EQ(catalog.categories[0].rules,
              (QList<APIRouteRule>{
                  {.ruleType = "domain", .value = "a.com", .platformScope = "all", .priority = 100},
                  {.platformScope = "all", .priority = 100}}));
    EXPECT_EQ(catalog.policies,
              (QList<APIRoutePolicy>{{.id = "p1", .name = "p1", .mode = "auto"}}));
}

struct FailureCase {
    const char* name;
    const char* body;
    DecodingError::Kind kind;
    QStringList path;
};

template <typename T> void expectFailures(std::initializer_list<FailureCase> cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = decodeFailure<T>(c.body);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->kind(), c.kind);
        EXPECT_EQ(error->codingPath(), c.path);
    }
}

TEST(APIRouteRecordsTest, MalformedCatalogFailsWhole) {
    using K = DecodingError::Kind;
    expectFailures<APIRouteCatalogResponse>({
        {"no categories", R"({"policies":[]})", K::keyNotFound, {"categories"}},
        {"null policies", R"({"categories":[],"policies":null})", K::valueNotFound, {"policies"}},
        {"category without id",
         R"({"categories":[{"id":"a"},{"name":"b"}],"policies":[]})",
         K::keyNotFound,
         {"categories", "Index 1", "id"}},
        {"category with null id",
         R"({"categories":[{"id":null}],"policies":[]})",
         K::valueNotFound,
         {"categories", "Index 0", "id"}},
        {"rules not a list",
         R"({"categories":[{"id":"a","rules":{}}],"policies":[]})",
         K::typeMismatch,
         {"categories", "Index 0", "rules"}},
        {"text priority",
         R"({"categories":[{"id":"a","rules":[{"priority":"1"}]}],"policies":[]})",
         K::typeMismatch,
         {"categories", "Index 0", "rules", "Index 0", "priority"}},
        {"numeric region",
         R"({"categories":[],"policies":[{"id":"p","excludedRegions":[1]}]})",
         K::typeMismatch,
         {"policies", "Index 0", "excludedRegions", "Index 0"}},
        {"bad first spelling does not fall through",
         R"({"categories":[],"policies":[{"id":"p","preferredRegions":"JP",
             "preferred_regions":["JP"]}]})",
         K::typeMismatch,
         {"policies", "Index 0", "preferredRegions"}},
    });
}

TEST(APIRouteRecordsTest, PreferenceReadsEitherSpellingAndWritesCamelCase) {
    const auto snake =
        decode<APIRoutePreference>(R"({"category_id":"ai","policy_id":"jp","endpoint_id":"ep-9"})");
    EXPECT_EQ(snake,
              (APIRoutePreference{
                  .categoryId = "ai", .policyId = "jp", .endpointId = QStringLiteral("ep-9")}));
    EXPECT_EQ(decode<APIRoutePreference>(R"({"endpoint_id":"b","endpointId":"a"})").endpointId,
              QStringLiteral("a"));
    EXPECT_EQ(decode<APIRoutePreference>("{}"), APIRoutePreference{});

    const QByteArray written = encodeJSON(snake);
    EXPECT_EQ(keysInOrder(written), QStringList({"categoryId", "policyId", "endpointId"}));
    EXPECT_EQ(parsed(written).value("endpointId").toString(), QStringLiteral("ep-9"));
    EXPECT_EQ(decode<APIRoutePreference>(written.constData()), snake);

    const QByteArray withoutEndpoint =
        encodeJSON(APIRoutePreference{.categoryId = "ai", .policyId = "auto"});
    EXPECT_EQ(keysInOrder(withoutEndpoint), QStringList({"categoryId", "policyId"}));
}

TEST(APIRouteRecordsTest, PreferencesResponse) {
    const auto withCatalog = decode<APIRoutePreferencesResponse>(
        R"({"route_catalog":{"categories":[{"id":"ai"}],"policies":[]}})");
    EXPECT_TRUE(withCatalog.preferences.isEmpty());
    ASSERT_TRUE(withCatalog.routeCatalog.has_value());
    EXPECT_EQ(withCatalog.routeCatalog->categories.size(), 1);

    const auto camelFirst = decode<APIRoutePreferencesResponse>(
        R"({"preferences":[{"categoryId":"ai","policyId":"p"}],
            "routeCatalog":{"categories":[],"policies":[{"id":"x"}]},
            "route_catalog":{"categories":[],"policies":[]}})");
    EXPECT_EQ(camelFirst.preferences,
              (QList<APIRoutePreference>{{.categoryId = "ai", .policyId = "p"}}));
    ASSERT_TRUE(camelFirst.routeCatalog.has_value());
    EXPECT_EQ(camelFirst.routeCatalog->policies.size(), 1);

    EXPECT_EQ(decode<APIRoutePreferencesResponse>(R"({"preferences":null})"),
              APIRoutePreferencesResponse{});

    using K = DecodingError::Kind;
    expectFailures<APIRoutePreferencesResponse>({
        {"catalog without policies",
         R"({"routeCatalog":{"categories":[]}})",
         K::keyNotFound,
         {"routeCatalog", "policies"}},
        {"preference with numeric policy",
         R"({"preferences":[{"policyId":3}]})",
         K::typeMismatch,
         {"preferences", "Index 0", "policyId"}},
    });
}

TEST(APIRouteRecordsTest, SaveRequestWritesEachPreference) {
    const APISaveRoutePreferencesRequest request{
        .preferences = {{.categoryId = "ai", .policyId = "jp", .endpointId = QStringLiteral("e")},
                        {.categoryId = "video", .policyId = "auto"}}};
    const QByteArray encoded = encodeJSON(request);
    const QJsonObject object = parsed(encoded);
    EXPECT_EQ(object.keys(), QStringList({"preferences"}));
    const QJsonArray items = object.value("preferences").toArray();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toObject(),
              QJsonObject({{"categoryId", "ai"}, {"policyId", "jp"}, {"endpointId", "e"}}));
    EXPECT_EQ(items[1].toObject(), QJsonObject({{"categoryId", "video"}, {"policyId", "auto"}}));
    EXPECT_EQ(encodeJSON(APISaveRoutePreferencesRequest{}), QByteArray(R"({"preferences":[]})"));
}

TEST(APIRouteRecordsTest, Tickets) {
    EXPECT_EQ(decode<APITicketResponse>(R"({"ticket":{"id":"t1"}})").ticket,
              (APITicket{.id = "t1", .title = "工单", .status = "open"}));
    EXPECT_EQ(decode<APITicketsResponse>(
                  R"({"tickets":[{"id":"t2","title":"无法连接","category":"network",
                      "contact_email":"a@b.c","status":"closed","created_at":"2025-01-02"},
                     {"id":"t3","contactEmail":"x@y.z","contact_email":"no",
                      "createdAt":"c","created_at":"no"}]})")
                  .tickets,
              (QList<APITicket>{{.id = "t2",
                                 .title = "无法连接",
                                 .category = QStringLiteral("network"),
                                 .contactEmail = QStringLiteral("a@b.c"),
                                 .status = "closed",
                                 .createdAt = "2025-01-02"},
                                {.id = "t3",
                                 .title = "工单",
                                 .contactEmail = QStringLiteral("x@y.z"),
                                 .status = "open",
                                 .createdAt = "c"}}));

    using K = DecodingError::Kind;
    expectFailures<APITicketsResponse>({
        {"no tickets key", "{}", K::keyNotFound, {"tickets"}},
        {"one ticket without id",
         R"({"tickets":[{"id":"a"},{"title":"b"}]})",
         K::keyNotFound,
         {"tickets", "Index 1", "id"}},
        {"numeric status",
         R"({"tickets":[{"id":"a","status":1}]})",
         K::typeMismatch,
         {"tickets", "Index 0", "status"}},
    });
    expectFailures<APITicketResponse>({
        {"null ticket", R"({"ticket":null})", K::valueNotFound, {"ticket"}},
        {"ticket as list", R"({"ticket":[]})", K::typeMismatch, {"ticket"}},
    });
}

TEST(APIRouteRecordsTest, CreateTicketLeavesOutAbsentOptionals) {
    APICreateTicketRequest request{.title = "无法连接", .body = "详情"};
    QByteArray encoded = encodeJSON(request);
    EXPECT_EQ(keysInOrder(encoded), QStringList({"title", "body"}));
    EXPECT_EQ(parsed(encoded).value("title").toString(), QStringLiteral("无法连接"));

    request.category = QStringLiteral("network");
    request.contactEmail = QStringLiteral("a@b.c");
    encoded = encodeJSON(request);
    EXPECT_EQ(keysInOrder(encoded), QStringList({"title", "category", "contactEmail", "body"}));
}

TEST(APIRouteRecordsTest, Versions) {
    const auto versions = decode<APIVersionsResponse>(R"({"versions":[
        {"platform":"macos","current_version":"1.0.0","latest_version":"1.2.0",
         "min_version":"1.0.0","update_mode":"optional","download_url":"https://d/x.dmg",
         "channel":"stable","rollout_percent":50,"rollback_version":"1.1.0",
         "rollback_download_url":"https://d/y.dmg","release_notes":"修复","force_message":null},
        {"platform":"windows","current_version":"1","latest_version":"1","min_version":"1",
         "update_mode":"none","downloadUrl":"camel case is not read"}]})");
    EXPECT_EQ(versions.versions,
              (QList<APIAppVersion>{{.platform = "macos",
                                     .currentVersion = "1.0.0",
                                     .latestVersion = "1.2.0",
                                     .minVersion = "1.0.0",
                                     .updateMode = "optional",
                                     .downloadUrl = QStringLiteral("https://d/x.dmg"),
                                     .channel = QStringLiteral("stable"),
                                     .rolloutPercent = 50,
                                     .rollbackVersion = QStringLiteral("1.1.0"),
                                     .rollbackDownloadUrl = QStringLiteral("https://d/y.dmg"),
                                     .releaseNotes = QStringLiteral("修复")},
                                    {.platform = "windows",
                                     .currentVersion = "1",
                                     .latestVersion = "1",
                                     .minVersion = "1",
                                     .updateMode = "none"}}));

    using K = DecodingError::Kind;
    expectFailures<APIVersionsResponse>({
        {"entry without min_version",
         R"({"versions":[{"platform":"macos","current_version":"1","latest_version":"1",
             "min_version":"1","update_mode":"none"},
            {"platform":"macos","current_version":"1","latest_version":"1",
             "minVersion":"1","update_mode":"none"}]})",
         K::keyNotFound,
         {"versions", "Index 1", "min_version"}},
        {"text rollout",
         R"({"versions":[{"platform":"macos","current_version":"1","latest_version":"1",
             "min_version":"1","update_mode":"none","rollout_percent":"50"}]})",
         K::typeMismatch,
         {"versions", "Index 0", "rollout_percent"}},
        {"null versions", R"({"versions":null})", K::valueNotFound, {"versions"}},
    });
}

TEST(APIRouteRecordsTest, ConnectionReport) {
    APIConnectionReportRequest report{
        .deviceId = "dev",
        .endpointId = "ep",
        .protocolName = "vless",
        .status = "success",
        .latencyMs = 120,
        .appVersion = "1.0.0",
        .clientPlatform = "macos",
        .stateStage = "connected",
        .reasonCode = "ok",
        .quickVerifyMs = 30,
        .clientRegion = "CN",
        .networkType = "wifi",
        .attemptId = "a",
        .requestId = "r",
        .buildId = "b",
        .connectDurationMs = 2500,
        .stateLog = {{{"stage", "probe"}, {"at", "1"}}, {}},
    };
    QByteArray encoded = encodeJSON(report);
    EXPECT_EQ(keysInOrder(encoded),
              QStringList({"deviceId", "endpointId", "protocol", "status", "latencyMs",
                           "appVersion", "clientPlatform", "stateStage", "reasonCode",
                           "quickVerifyMs", "clientRegion", "networkType", "attemptId", "requestId",
                           "buildId", "connectDurationMs", "stateLog"}));
    QJsonObject object = parsed(encoded);
    EXPECT_EQ(object.value("protocol").toString(), QStringLiteral("vless"));
    EXPECT_EQ(object.value("connectDurationMs").toInteger(-1), 2500);
    EXPECT_EQ(object.value("stateLog").toArray(),
              QJsonArray({QJsonObject({{"stage", "probe"}, {"at", "1"}}), QJsonObject()}));

    report.errorMessage = QStringLiteral("超时");
    report.isOverseas = true;
    encoded = encodeJSON(report);
    EXPECT_EQ(
        keysInOrder(encoded),
        QStringList({"deviceId", "endpointId", "protocol", "status", "latencyMs", "appVersion",
                     "clientPlatform", "errorMessage", "stateStage", "reasonCode", "quickVerifyMs",
                     "clientRegion", "networkType", "isOverseas", "attemptId", "requestId",
                     "buildId", "connectDurationMs", "stateLog"}));
    object = parsed(encoded);
    EXPECT_EQ(object.value("errorMessage").toString(), QStringLiteral("超时"));
    EXPECT_EQ(object.value("isOverseas"), QJsonValue(true));
}

TEST(APIRouteRecordsTest, CrashReport) {
    APIClientCrashReportRequest report{
        .clientPlatform = "macos", .appVersion = "1.0.0", .crashType = "signal", .reason = "r"};
    EXPECT_EQ(keysInOrder(encodeJSON(report)),
              QStringList({"clientPlatform", "appVersion", "crashType", "reason"}));

    report.deviceId = QStringLiteral("dev");
    report.stackTrace = QStringLiteral("#0 main");
    report.diagnostics = QStringLiteral("d");
    report.dumpSummary = QStringLiteral("s");
    report.dumpSha256 = QStringLiteral("ab12");
    report.signalName = QStringLiteral("SIGSEGV");
    report.threadName = QStringLiteral("main");
    report.buildId = QStringLiteral("b");
    const QByteArray encoded = encodeJSON(report);
    EXPECT_EQ(keysInOrder(encoded),
              QStringList({"deviceId", "clientPlatform", "appVersion", "crashType", "reason",
                           "stackTrace", "diagnostics", "dumpSummary", "dumpSha256", "signalName",
                           "threadName", "buildId"}));
    EXPECT_EQ(parsed(encoded).value("signalName").toString(), QStringLiteral("SIGSEGV"));
}

} // namespace
