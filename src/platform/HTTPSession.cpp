#include "HTTPSession.h"

#include "URLError.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <QCoro/QCoroSignal>

#include <memory>

namespace orvane {

namespace {

// Accepts no cookie, offers none.
class NoCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

URLError::Code transportCode(QNetworkReply::NetworkError error, bool timedOut, bool certificate) {
    using E = QNetworkReply::NetworkError;
    using C = URLError::Code;
    if (timedOut) {
        return C::timedOut;
    }
    switch (error) {
    case E::ConnectionRefusedError:
        return C::cannotConnectToHost;
    case E::RemoteHostClosedError:
    case E::TemporaryNetworkFailureError:
        return C::networkConnectionLost;
    case E::HostNotFoundError:
        return C::cannotFindHost;
    case E::TimeoutError:
        return C::timedOut;
    case E::OperationCanceledError:
        return C::cancelled;
    case E::SslHandshakeFailedError:
        return certificate ? C::serverCertificateUntrusted : C::secureConnectionFailed;
    case E::NetworkSessionFailedError:
        return C::notConnectedToInternet;
    case E::ProtocolUnknownError:
        return C::unsupportedURL;
    case E::ProtocolInvalidOperationError:
    case E::ProtocolFailure:
        return C::badServerResponse;
    default:
        return C::unknown;
    }
}

bool isTransportLayer(QNetworkReply::NetworkError error) {
    // A redirect we refuse to follow still leaves its 3xx answer, which is what we return.
    if (error == QNetworkReply::InsecureRedirectError ||
        error == QNetworkReply::TooManyRedirectsError) {
        return false;
    }
    // Qt numbers connection and proxy failures below 200; HTTP statuses map above.
    const int code = static_cast<int>(error);
    return code > 0 && code < 200;
}

} // namespace

QByteArray HTTPResponse::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

HTTPSession::HTTPSession(QObject* parent) : HTTPSession(Options{}, parent) {}

HTTPSession::HTTPSession(Options options, QObject* parent)
    : QObject(parent), m_options(options) {
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager.setCookieJar(new NoCookieJar(&m_manager));
    m_manager.setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    m_manager.setAutoDeleteReplies(false);
}

QCoro::Task<HTTPResponse> HTTPSession::data(HTTPRequest request) {
    QNetworkRequest nr(request.url);
    nr.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                    QNetworkRequest::SameOriginRedirectPolicy);
    nr.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    nr.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    nr.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    nr.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    nr.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    for (const auto& [name, value] : request.headers) {
        nr.setRawHeader(name, value);
    }

    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        request.body ? m_manager.sendCustomRequest(nr, request.method, *request.body)
                     : m_manager.sendCustomRequest(nr, request.method),
        [](QNetworkReply* r) { r->deleteLater(); });

    bool timedOut = false;
    bool certificateProblem = false;
    QNetworkReply* raw = reply.get();
    auto expire = [raw, &timedOut] {
        timedOut = true;
        raw->abort();
    };
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(request.timeout);
    QObject::connect(&idle, &QTimer::timeout, raw, expire);
    QTimer total;
    total.setSingleShot(true);
    total.setInterval(m_options.resourceTimeout);
    QObject::connect(&total, &QTimer::timeout, raw, expire);
    auto progress = [&idle] { idle.start(); };
    QObject::connect(raw, &QNetworkReply::downloadProgress, &idle, progress);
    QObject::connect(raw, &QNetworkReply::uploadProgress, &idle, progress);
    QObject::connect(raw, &QNetworkReply::metaDataChanged, &idle, progress);
    QObject::connect(raw, &QNetworkReply::sslErrors, raw,
                     [&certificateProblem](const QList<QSslError>&) { certificateProblem = true; });
    idle.start();
    total.start();

    if (!raw->isFinished()) {
        co_await qCoro(raw, &QNetworkReply::finished);
    }
    idle.stop();
    total.stop();

    const QNetworkReply::NetworkError error = raw->error();
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A 4xx or 5xx answer also sets error(): the status decides, not the error code.
    if (timedOut || isTransportLayer(error) || (!status.isValid() && error != QNetworkReply::NoError)) {
        throw URLError(transportCode(error, timedOut, certificateProblem), raw->errorString());
    }

    HTTPResponse response;
    response.isHTTP = status.isValid();
    response.statusCode = status.isValid() ? status.toInt() : 0;
    for (const auto& pair : raw->rawHeaderPairs()) {
        response.headers.append(pair);
    }
    response.body = raw->readAll();
    co_return response;
}

} // namespace orvane
