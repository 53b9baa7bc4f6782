#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
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
    // Kept for callers that test it: only http and https are ever fetched, so always true.
    bool isHTTP = true;
    int statusCode = 0;
    HTTPHeaderList headers;
    QByteArray body;

    QByteArray header(const QByteArray& name) const;
};

// HTTP for the control plane: never through any proxy (the system proxy may point at our own
// local proxy), no cookies, no cache, no stored credentials, redirects only within the same
// origin. Transport failures throw URLError; every HTTP answer, whatever its status, returns.
// A request goes out at most once, each on a connection of its own: nothing below this class
// resends it, so the service client's failover is the only retry there is.
class HTTPSession : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Longest time one request may take in all.
        std::chrono::milliseconds resourceTimeout{90000};
    };

    explicit HTTPSession(QObject* parent = nullptr);
    HTTPSession(Options options, QObject* parent = nullptr);
    ~HTTPSession() override;

    QCoro::Task<HTTPResponse> data(HTTPRequest request);
    // Calls of data() that have not returned yet: lets a test wait until every request it did
    // not hold has been answered.
    int requestsUnderWay() const { return m_requestsUnderWay; }

private:
    struct Transfer;
    struct Multi;

    Options m_options;
    std::unique_ptr<Multi> m_multi;
    int m_requestsUnderWay = 0;
};

} // namespace orvane
