#include "APIRouteRecords.h"

namespace orvane {

APIRouteRule APIRouteRule::decode(const JSONObjectReader& r) {
    APIRouteRule o;
    o.ruleType = r.value<QString>({"ruleType", "rule_type"}, QString());
    o.value = r.value<QString>({"value"}, QString());
    o.platformScope = r.value<QString>({"platformScope", "platform_scope"}, QStringLiteral("all"));
    o.priority = r.value<qint64>({"priority"}, 100);
    return o;
}

APIRouteCategory APIRouteCategory::decode(const JSONObjectReader& r) {
    APIRouteCategory o;
    o.id = r.required<QString>("id");
    o.name = r.value<QString>({"name"}, o.id);
    o.selectedPolicyId = r.value<QString>({"selectedPolicyId", "selected_policy_id"}, QString());
    o.defaultPolicyId =
        r.value<QString>({"defaultPolicyId", "default_policy_id"}, o.selectedPolicyId);
    o.rules = r.value<QList<APIRouteRule>>({"rules"}, {});
    return o;
}

APIRoutePolicy APIRoutePolicy::decode(const JSONObjectReader& r) {
    APIRoutePolicy o;
    o.id = r.required<QString>("id");
    o.name = r.value<QString>({"name"}, o.id);
    o.mode = r.value<QString>({"mode"}, QStringLiteral("auto"));
    o.preferredRegions = r.value<QList<QString>>({"preferredRegions", "preferred_regions"}, {});
    o.excludedRegions = r.value<QList<QString>>({"excludedRegions", "excluded_regions"}, {});
    return o;
}

APIRouteCatalogResponse APIRouteCatalogResponse::decode(const JSONObjectReader& r) {
    APIRouteCatalogResponse o;
    o.categories = r.required<QList<APIRouteCategory>>("categories");
    o.policies = r.required<QList<APIRoutePolicy>>("policies");
    return o;
}

APIRoutePreference APIRoutePreference::decode(const JSONObjectReader& r) {
    APIRoutePreference o;
    o.categoryId = r.value<QString>({"categoryId", "category_id"}, QString());
    o.policyId = r.value<QString>({"policyId", "policy_id"}, QString());
    o.endpointId = r.optional<QString>({"endpointId", "endpoint_id"});
    return o;
}

void APIRoutePreference::encode(JSONObjectWriter& w) const {
    w.field("categoryId", categoryId).field("policyId", policyId).field("endpointId", endpointId);
}

APIRoutePreferencesResponse APIRoutePreferencesResponse::decode(const JSONObjectReader& r) {
    APIRoutePreferencesResponse o;
    o.preferences = r.value<QList<APIRoutePreference>>({"preferences"}, {});
    o.routeCatalog = r.optional<APIRouteCatalogResponse>({"routeCatalog", "route_catalog"});
    return o;
}

void APISaveRoutePreferencesRequest::encode(JSONObjectWriter& w) const {
    w.field("preferences", preferences);
}

APITicket APITicket::decode(const JSONObjectReader& r) {
    APITicket o;
    o.id = r.required<QString>("id");
    o.title = r.value<QString>({"title"}, QStringLiteral("工单"));
    o.category = r.optional<QString>({"category"});
    o.contactEmail = r.optional<QString>({"contactEmail", "contact_email"});
    o.status = r.value<QString>({"status"}, QStringLiteral("open"));
    o.createdAt = r.value<QString>({"createdAt", "created_at"}, QString());
    return o;
}

APITicketsResponse APITicketsResponse::decode(const JSONObjectReader& r) {
    APITicketsResponse o;
    o.tickets = r.required<QList<APITicket>>("tickets");
    return o;
}

APITicketResponse APITicketResponse::decode(const JSONObjectReader& r) {
    APITicketResponse o;
    o.ticket = r.required<APITicket>("ticket");
    return o;
}

void APICreateTicketRequest::encode(JSONObjectWriter& w) const {
    w.field("title", title)
        .field("category", category)
        .field("contactEmail", contactEmail)
        .field("body", body);
}

APIAppVersion APIAppVersion::decode(const JSONObjectReader& r) {
    APIAppVersion o;
    o.platform = r.required<QString>("platform");
    o.currentVersion = r.required<QString>("current_version");
    o.latestVersion = r.required<QString>("latest_version");
    o.minVersion = r.required<QString>("min_version");
    o.updateMode = r.required<QString>("update_mode");
    o.downloadUrl = r.optional<QString>({"download_url"});
    o.channel = r.optional<QString>({"channel"});
    o.rolloutPercent = r.optional<qint64>({"rollout_percent"});
    o.rollbackVersion = r.optional<QString>({"rollback_version"});
    o.rollbackDownloadUrl = r.optional<QString>({"rollback_download_url"});
    o.releaseNotes = r.optional<QString>({"release_notes"});
    o.forceMessage = r.optional<QString>({"force_message"});
    return o;
}

APIVersionsResponse APIVersionsResponse::decode(const JSONObjectReader& r) {
    APIVersionsResponse o;
    o.versions = r.required<QList<APIAppVersion>>("versions");
    return o;
}

void APIConnectionReportRequest::encode(JSONObjectWriter& w) const {
    w.field("deviceId", deviceId)
        .field("endpointId", endpointId)
        .field("protocol", protocolName)
        .field("status", status)
        .field("latencyMs", latencyMs)
        .field("appVersion", appVersion)
        .field("clientPlatform", clientPlatform)
        .field("errorMessage", errorMessage)
        .field("stateStage", stateStage)
        .field("reasonCode", reasonCode)
        .field("quickVerifyMs", quickVerifyMs)
        .field("clientRegion", clientRegion)
        .field("networkType", networkType)
        .field("isOverseas", isOverseas)
        .field("attemptId", attemptId)
        .field("requestId", requestId)
        .field("buildId", buildId)
        .field("connectDurationMs", connectDurationMs)
        .field("stateLog", stateLog);
}

void APIClientCrashReportRequest::encode(JSONObjectWriter& w) const {
    w.field("deviceId", deviceId)
        .field("clientPlatform", clientPlatform)
        .field("appVersion", appVersion)
        .field("crashType", crashType)
        .field("reason", reason)
        .field("stackTrace", stackTrace)
        .field("diagnostics", diagnostics)
        .field("dumpSummary", dumpSummary)
        .field("dumpSha256", dumpSha256)
        .field("signalName", signalName)
        .field("threadName", threadName)
        .field("buildId", buildId);
}

} // namespace orvane
