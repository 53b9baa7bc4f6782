#pragma once

#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

struct APIRouteRule {
    QString ruleType;
    QString value;
    QString platformScope;
    qint64 priority = 0;

    static APIRouteRule decode(const JSONObjectReader& r);
    friend bool operator==(const APIRouteRule&, const APIRouteRule&) = default;
};

struct APIRouteCategory {
    QString id;
    QString name;
    QString selectedPolicyId;
    QString defaultPolicyId;
    QList<APIRouteRule> rules;

    static APIRouteCategory decode(const JSONObjectReader& r);
    friend bool operator==(const APIRouteCategory&, const APIRouteCategory&) = default;
};

struct APIRoutePolicy {
    QString id;
    QString name;
    QString mode;
    QList<QString> preferredRegions;
    QList<QString> excludedRegions;

    static APIRoutePolicy decode(const JSONObjectReader& r);
    friend bool operator==(const APIRoutePolicy&, const APIRoutePolicy&) = default;
};

struct APIRouteCatalogResponse {
    QList<APIRouteCategory> categories;
    QList<APIRoutePolicy> policies;

    static APIRouteCatalogResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIRouteCatalogResponse&,
                           const APIRouteCatalogResponse&) = default;
};

// Read in either spelling, always written back in camel case.
struct APIRoutePreference {
    QString categoryId;
    QString policyId;
    std::optional<QString> endpointId;

    static APIRoutePreference decode(const JSONObjectReader& r);
    void encode(JSONObjectWriter& w) const;
    friend bool operator==(const APIRoutePreference&, const APIRoutePreference&) = default;
};

struct APIRoutePreferencesResponse {
    QList<APIRoutePreference> preferences;
    std::optional<APIRouteCatalogResponse> routeCatalog;

    static APIRoutePreferencesResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIRoutePreferencesResponse&,
                           const APIRoutePreferencesResponse&) = default;
};

struct APISaveRoutePreferencesRequest {
    QList<APIRoutePreference> preferences;

    void encode(JSONObjectWriter& w) const;
};

struct APITicket {
    QString id;
    QString title;
    std::optional<QString> category;
    std::optional<QString> contactEmail;
    QString status;
    QString createdAt;

    static APITicket decode(const JSONObjectReader& r);
    friend bool operator==(const APITicket&, const APITicket&) = default;
};

struct APITicketsResponse {
    QList<APITicket> tickets;

    static APITicketsResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APITicketsResponse&, const APITicketsResponse&) = default;
};

struct APITicketResponse {
    APITicket ticket;

    static APITicketResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APITicketResponse&, const APITicketResponse&) = default;
};

struct APICreateTicketRequest {
    QString title;
    std::optional<QString> category;
    std::optional<QString> contactEmail;
    QString body;

    void encode(JSONObjectWriter& w) const;
};

struct APIAppVersion {
    QString platform;
    QString currentVersion;
    QString latestVersion;
    QString minVersion;
    QString updateMode;
    std::optional<QString> downloadUrl;
    std::optional<QString> channel;
    std::optional<qint64> rolloutPercent;
    std::optional<QString> rollbackVersion;
    std::optional<QString> rollbackDownloadUrl;
    std::optional<QString> releaseNotes;
    std::optional<QString> forceMessage;

    static APIAppVersion decode(const JSONObjectReader& r);
    friend bool operator==(const APIAppVersion&, const APIAppVersion&) = default;
};

struct APIVersionsResponse {
    QList<APIAppVersion> versions;

    static APIVersionsResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIVersionsResponse&, const APIVersionsResponse&) = default;
};

// Sent once after every connection attempt.
struct APIConnectionReportRequest {
    QString deviceId;
    QString endpointId;
    QString protocolName;
    QString status;
    qint64 latencyMs = 0;
    QString appVersion;
    QString clientPlatform;
    std::optional<QString> errorMessage;
    QString stateStage;
    QString reasonCode;
    qint64 quickVerifyMs = 0;
    QString clientRegion;
    QString networkType;
    std::optional<bool> isOverseas;
    QString attemptId;
    QString requestId;
    QString buildId;
    qint64 connectDurationMs = 0;
    QList<QMap<QString, QString>> stateLog;

    void encode(JSONObjectWriter& w) const;
};

struct APIClientCrashReportRequest {
    std::optional<QString> deviceId;
    QString clientPlatform;
    QString appVersion;
    QString crashType;
    QString reason;
    std::optional<QString> stackTrace;
    std::optional<QString> diagnostics;
    std::optional<QString> dumpSummary;
    std::optional<QString> dumpSha256;
    std::optional<QString> signalName;
    std::optional<QString> threadName;
    std::optional<QString> buildId;

    void encode(JSONObjectWriter& w) const;
};

} // namespace orvane
