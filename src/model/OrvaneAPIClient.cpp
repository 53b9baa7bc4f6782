#include "OrvaneAPIClient.h"

#include "BuildConfig.h"
#include "OrvaneAPIError.h"

#include <QUuid>

namespace orvane {

namespace {

const QString kPlatformQuery = QStringLiteral("clientPlatform=macos&client_platform=macos");

QString makeRequestId(const HTTPHeaders& extraHeaders) {
    const QString given = extraHeaders.value(QStringLiteral("X-Request-Id"));
    if (!given.isEmpty()) {
        return given;
    }
    QString hex = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    hex.remove(QLatin1Char('-'));
    return QStringLiteral("req_") + hex.left(18);
}

bool isSafeHeaderText(const QByteArray& text) {
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

// Sets a header, replacing an earlier one of the same name in place.
void setHeader(HTTPHeaderList& headers, const QString& name, const QString& value) {
    const QByteArray rawName = name.toUtf8();
    const QByteArray rawValue = value.toUtf8();
    if (rawName.isEmpty() || rawName.contains(':') || !isSafeHeaderText(rawName) ||
        !isSafeHeaderText(rawValue)) {
        throw APIRequestError::invalidHeader(name);
    }
    for (auto& [existing, existingValue] : headers) {
        if (existing.compare(rawName, Qt::CaseInsensitive) == 0) {
            existingValue = rawValue;
            return;
        }
    }
    headers.append({rawName, rawValue});
}

} // namespace

QList<QUrl> OrvaneAPIClient::productionBaseURLs() {
    return {QUrl(QString::fromUtf8(build::kAPIBaseURL1)), QUrl(QString::fromUtf8(build::kAPIBaseURL2)),
            QUrl(QString::fromUtf8(build::kAPIBaseURL3))};
}

QUrl OrvaneAPIClient::productionBaseURL() { return productionBaseURLs().first(); }

OrvaneAPIClient::OrvaneAPIClient(const QUrl& baseURL, HTTPSession* session)
    : OrvaneAPIClient(baseURL == productionBaseURL() ? productionBaseURLs() : QList<QUrl>{baseURL},
                      session, Options{}) {}

OrvaneAPIClient::OrvaneAPIClient(QList<QUrl> baseURLs, HTTPSession* session, Options options)
    : m_baseURLs(std::move(baseURLs)), m_session(session), m_options(options) {
    if (!m_session) {
        m_ownedSession = std::make_unique<HTTPSession>();
        m_session = m_ownedSession.get();
    }
}

OrvaneAPIClient::~OrvaneAPIClient() = default;

QUrl OrvaneAPIClient::makeURL(const QString& path, const QUrl& base) {
    QString relative = path;
    if (relative.startsWith(QLatin1Char('/'))) {
        relative.remove(0, 1);
    }
    // At most two pieces around the first "?", empty pieces dropped.
    QStringList pieces;
    const qsizetype mark = relative.indexOf(QLatin1Char('?'));
    if (mark < 0) {
        pieces << relative;
    } else {
        pieces << relative.left(mark) << relative.mid(mark + 1);
    }
    pieces.removeAll(QString());
    const QString pathPart = pieces.value(0);
    const QString query = pieces.value(1);

    QString basePath = base.path(QUrl::FullyEncoded);
    while (basePath.startsWith(QLatin1Char('/'))) {
        basePath.remove(0, 1);
    }
    while (basePath.endsWith(QLatin1Char('/'))) {
        basePath.chop(1);
    }
    QStringList segments;
    for (const QString& piece : {basePath, pathPart}) {
        if (!piece.isEmpty()) {
            segments << piece;
        }
    }

    QUrl url = base;
    // Tolerant mode encodes what a path may not hold but keeps valid escapes, so an id
    // escaped once by the caller reaches the service as that id.
    url.setPath(QStringLiteral("/") + segments.join(QLatin1Char('/')), QUrl::TolerantMode);
    if (pieces.size() > 1) {
        url.setQuery(query, QUrl::TolerantMode);
    }
    return url;
}

bool OrvaneAPIClient::shouldFailover(const URLError& error, const QString& method) {
    using C = URLError::Code;
    switch (error.code()) {
    case C::cannotFindHost:
    case C::cannotConnectToHost:
    case C::dnsLookupFailed:
    case C::secureConnectionFailed:
    case C::serverCertificateUntrusted:
    case C::appTransportSecurityRequiresSecureConnection:
        return true;
    case C::timedOut:
    case C::networkConnectionLost:
        return method == QLatin1String("GET");
    default:
        return false;
    }
}

HTTPHeaders OrvaneAPIClient::traceHeaders(const QString& attemptId, const QString& requestId) {
    HTTPHeaders headers;
    if (!requestId.isEmpty()) {
        headers.insert(QStringLiteral("X-Request-Id"), requestId);
    }
    if (!attemptId.isEmpty()) {
        headers.insert(QStringLiteral("X-Orvane-Attempt-Id"), attemptId);
    }
    return headers;
}

QString OrvaneAPIClient::escapedDeviceId(const QString& deviceId) {
    if (deviceId.isEmpty() || deviceId == QLatin1String(".") || deviceId == QLatin1String("..")) {
        throw APIRequestError::invalidDeviceId(deviceId);
    }
    // The path-allowed characters less "/": an id always stays one segment.
    return QString::fromLatin1(QUrl::toPercentEncoding(deviceId, "!$&'()*+,;=:@"));
}

void OrvaneAPIClient::promote(const QUrl& answered) {
    // Acts on the live list, which concurrent requests may have reordered meanwhile;
    // removing before inserting keeps every URL exactly once.
    if (m_baseURLs.removeAll(answered) > 0) {
        m_baseURLs.prepend(answered);
    }
}

QCoro::Task<QByteArray> OrvaneAPIClient::sendForBody(QString path, QString method,
                                                     std::optional<QString> token,
                                                     std::optional<QByteArray> bodyData,
                                                     HTTPHeaders extraHeaders) {
    const QString requestId = makeRequestId(extraHeaders);
    const QList<QUrl> snapshot = m_baseURLs;
    if (snapshot.isEmpty()) {
        throw OrvaneAPIError::invalidResponse();
    }

    HTTPHeaderList headers;
    setHeader(headers, QStringLiteral("Accept"), QStringLiteral("application/json"));
    setHeader(headers, QStringLiteral("X-Request-Id"), requestId);
    setHeader(headers, QStringLiteral("X-Orvane-Platform"), QStringLiteral("macos"));
    for (auto it = extraHeaders.cbegin(); it != extraHeaders.cend(); ++it) {
        if (!it.value().isEmpty()) {
            setHeader(headers, it.key(), it.value());
        }
    }
    if (token) {
        setHeader(headers, QStringLiteral("Authorization"), QStringLiteral("Bearer ") + *token);
    }
    if (bodyData) {
        setHeader(headers, QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    }

    for (qsizetype i = 0; i < snapshot.size(); ++i) {
        HTTPRequest request;
        request.url = makeURL(path, snapshot[i]);
        request.method = method.toUtf8();
        request.headers = headers;
        request.body = bodyData;
        request.timeout = m_options.requestTimeout;

        std::optional<HTTPResponse> response;
        try {
            response = co_await m_session->data(request);
        } catch (const URLError& error) {
            if (!shouldFailover(error, method) || i + 1 >= snapshot.size()) {
                throw;
            }
        }
        if (!response) {
            continue;
        }
        if (i > 0) {
            promote(snapshot[i]);
        }
        if (!response->isHTTP) {
            throw OrvaneAPIError::invalidResponse();
        }
        if (response->statusCode < 200 || response->statusCode > 299) {
            std::optional<QString> message;
            try {
                const auto body = json::decodeBody<APIErrorResponse>(response->body);
                message = body.error ? body.error : body.message;
            } catch (const DecodingError&) {
            }
            throw OrvaneAPIError::server(response->statusCode, message);
        }
        co_return response->body;
    }
    throw OrvaneAPIError::invalidResponse(); // not reached: the last attempt returns or throws
}

QCoro::Task<APIVerificationCodeResponse> OrvaneAPIClient::sendVerificationCode(QString identity) {
    const QByteArray body = encode(APIIdentityRequest{identity});
    co_return co_await send<APIVerificationCodeResponse>(
        QStringLiteral("/auth/verification-code"), QStringLiteral("POST"), std::nullopt, body, {});
}

QCoro::Task<APIAuthResponse> OrvaneAPIClient::registerAccount(APIRegisterRequest request) {
    const QByteArray body = encode(request);
    co_return co_await send<APIAuthResponse>(QStringLiteral("/auth/register"),
                                             QStringLiteral("POST"), std::nullopt, body, {});
}

QCoro::Task<APIAuthResponse> OrvaneAPIClient::login(QString identity, QString password) {
    const QByteArray body = encode(APILoginRequest{identity, password});
    co_return co_await send<APIAuthResponse>(QStringLiteral("/auth/login"), QStringLiteral("POST"),
                                             std::nullopt, body, {});
}

QCoro::Task<APIClientBootstrapResponse> OrvaneAPIClient::clientBootstrap(QString token) {
    co_return co_await send<APIClientBootstrapResponse>(
        QStringLiteral("/client/bootstrap?clientPlatform=macos&client_platform=macos"
                       "&clientRegion=auto&client_region=auto&networkType=wired&network_type=wired"),
        QStringLiteral("GET"), token, std::nullopt, {});
}

QCoro::Task<APIRoutePreferencesResponse>
OrvaneAPIClient::saveRoutePreferences(APISaveRoutePreferencesRequest request, QString token) {
    const QByteArray body = encode(request);
    co_return co_await send<APIRoutePreferencesResponse>(
        QStringLiteral("/client/route-preferences?") + kPlatformQuery, QStringLiteral("PUT"),
        token, body, {});
}

QCoro::Task<APIDeviceResponse> OrvaneAPIClient::bindDevice(APIBindDeviceRequest request,
                                                           QString token) {
    const QByteArray body = encode(request);
    co_return co_await send<APIDeviceResponse>(QStringLiteral("/devices"), QStringLiteral("POST"),
                                               token, body, {});
}

QCoro::Task<APIOkResponse> OrvaneAPIClient::deleteDevice(QString deviceId, QString token) {
    const QString path = QStringLiteral("/devices/") + escapedDeviceId(deviceId);
    co_return co_await send<APIOkResponse>(path, QStringLiteral("DELETE"), token, std::nullopt, {});
}

QCoro::Task<APIOkResponse> OrvaneAPIClient::connectionReport(APIConnectionReportRequest report,
                                                             QString token) {
    const QByteArray body = encode(report);
    const HTTPHeaders trace = traceHeaders(report.attemptId, report.requestId);
    co_return co_await send<APIOkResponse>(QStringLiteral("/client/connection-report"),
                                           QStringLiteral("POST"), token, body, trace);
}

QCoro::Task<APIOkResponse> OrvaneAPIClient::crashReport(APIClientCrashReportRequest report,
                                                        QString token) {
    const QByteArray body = encode(report);
    co_return co_await send<APIOkResponse>(QStringLiteral("/client/crash-report"),
                                           QStringLiteral("POST"), token, body, {});
}

QCoro::Task<APITicketResponse> OrvaneAPIClient::createTicket(APICreateTicketRequest request,
                                                             QString token) {
    const QByteArray body = encode(request);
    co_return co_await send<APITicketResponse>(QStringLiteral("/tickets"), QStringLiteral("POST"),
                                               token, body, {});
}

} // namespace orvane
