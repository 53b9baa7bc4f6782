#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace orvane {

using HTTPHeaderList = QList<QPair<QByteArray, QByteArray>>;

struct HTTPRequest {
    QUrl url;
    QByteArray method = "GET";
    HTTPHeaderList headers; // sent in this order
    std::optional<QByteArray> body;
    // Longest silence while waiting for the answer.
    std::chrono::milliseconds timeout{60000};
};

struct HTTPResponse {
    // False for an answer of another protocol (a file: URL, say).
    bool isHTTP = true;
    int statusCode = 0;
    HTTPHeaderList headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const;
};

// HTTP for the control plane: never through any proxy (the system proxy may point at our own
// local proxy), no cookies, no cache, no stored credentials, redirects only within the same
// origin. Transport failures throw URLError; every HTTP answer, whatever its status, returns.
class HTTPSession : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Longest time one request may take in all.
        std::chrono::milliseconds resourceTimeout{90000};
    };

    explicit HTTPSession(QObject* parent = nullptr);
    HTTPSession(Options options, QObject* parent = nullptr);

    QCoro::Task<HTTPResponse> data(HTTPRequest request);

private:
    Options m_options;
    QNetworkAccessManager m_manager;
};

} // namespace orvane
