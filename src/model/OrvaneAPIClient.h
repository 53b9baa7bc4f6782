#pragma once

#include "APIAccountRecords.h"
#include "APINodeRecords.h"
#include "APIProtocolConfigRecords.h"
#include "APIRouteRecords.h"
#include "DecodingError.h"
#include "HTTPSession.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "URLError.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>
#include <type_traits>

namespace orvane {

using HTTPHeaders = QMap<QString, QString>;

// The one client of the service's HTTP JSON API: fixed headers, sticky failover across the
// base URLs, HTTP failures mapped to OrvaneAPIError. Transport and decoding errors reach the
// caller unchanged.
class OrvaneAPIClient {
public:
    struct Options {
        // Longest silence one attempt may take before it counts as timed out.
        std::chrono::milliseconds requestTimeout{60000};
    };

    static QList<QUrl> productionBaseURLs();
    static QUrl productionBaseURL();

    // The production URL gives all three production base URLs; any other URL only itself.
    // Without a session the client makes its own.
    explicit OrvaneAPIClient(const QUrl& baseURL, HTTPSession* session = nullptr);
    OrvaneAPIClient(QList<QUrl> baseURLs, HTTPSession* session, Options options);
    ~OrvaneAPIClient();
    OrvaneAPIClient(const OrvaneAPIClient&) = delete;
    OrvaneAPIClient& operator=(const OrvaneAPIClient&) = delete;

    // In the order they are tried; the one that answered last comes first.
    const QList<QUrl>& baseURLs() const { return m_baseURLs; }

    // One logical request: every base URL in turn while the transport fails in a way that
    // allows it, then the 2xx body decoded as T.
    template <typename T>
    QCoro::Task<T> send(QString path, QString method, std::optional<QString> token,
                        std::optional<QByteArray> bodyData, HTTPHeaders extraHeaders);

    static QUrl makeURL(const QString& path, const QUrl& base);
    static bool shouldFailover(const URLError& error, const QString& method);
    static HTTPHeaders traceHeaders(const QString& attemptId, const QString& requestId);
    // A device id as one path segment. Throws APIRequestError for "", "." and "..", which the
    // URL layer would fold into another path.
    static QString escapedDeviceId(const QString& deviceId);

    // Request bodies are encoded the same way everywhere.
    template <EncodableRecord T>
    static QByteArray encode(const T& record) {
        return encodeJSON(record);
    }

    QCoro::Task<APIVerificationCodeResponse> sendVerificationCode(QString identity);
    QCoro::Task<APIAuthResponse> registerAccount(APIRegisterRequest request);
    QCoro::Task<APIAuthResponse> login(QString identity, QString password);
    QCoro::Task<APIClientBootstrapResponse> clientBootstrap(QString token);
    QCoro::Task<APIRoutePreferencesResponse> saveRoutePreferences(APISaveRoutePreferencesRequest request,
                                                                  QString token);
    QCoro::Task<APIDeviceResponse> bindDevice(APIBindDeviceRequest request, QString token);
    QCoro::Task<APIOkResponse> deleteDevice(QString deviceId, QString token);
    QCoro::Task<APIOkResponse> connectionReport(APIConnectionReportRequest report, QString token);
    QCoro::Task<APIOkResponse> crashReport(APIClientCrashReportRequest report, QString token);
    QCoro::Task<APITicketResponse> createTicket(APICreateTicketRequest request, QString token);

private:
    // Returns the body of a 2xx answer; throws for everything else.
    QCoro::Task<QByteArray> sendForBody(QString path, QString method, std::optional<QString> token,
                                        std::optional<QByteArray> bodyData, HTTPHeaders extraHeaders);
    void promote(const QUrl& answered);

    QList<QUrl> m_baseURLs;
    std::unique_ptr<HTTPSession> m_ownedSession;
    HTTPSession* m_session;
    Options m_options;
};

template <typename T>
QCoro::Task<T> OrvaneAPIClient::send(QString path, QString method, std::optional<QString> token,
                                     std::optional<QByteArray> bodyData, HTTPHeaders extraHeaders) {
    const QByteArray body = co_await sendForBody(std::move(path), std::move(method),
                                                 std::move(token), std::move(bodyData),
                                                 std::move(extraHeaders));
    if constexpr (std::is_same_v<T, APIOkResponse>) {
        // An acknowledgement needs no body: empty or unreadable counts as ok.
        if (body.isEmpty()) {
            co_return APIOkResponse{true};
        }
        try {
            co_return json::decodeBody<APIOkResponse>(body);
        } catch (const DecodingError&) {
            co_return APIOkResponse{true};
        }
    } else {
        co_return json::decodeBody<T>(body);
    }
}

} // namespace orvane
