#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace orvane::dev {

class DevServiceState;

// Outside the class so that "Options options = {}" compiles: g++ cannot use a nested type's
// member initialisers in a default argument of its enclosing class.
struct DevServiceOptions {
    int port = 0; // 0: pick a free port
    // protocol-config answers "not ready" this many times per (device, node), then ready
    int configReadyAfterPolls = 2;
    // what a "not ready" answer asks for; a negative maxWait leaves the field out
    int configRetryAfterMs = 200;
    int configMaxWaitMs = 10000;
    // a ready configuration's cache key ends in "_" and the outbound mode it was asked for, so
    // that a test can tell which request a configuration answered
    bool cacheKeyNamesMode = false;
    bool logToStderr = false;
};

// A local stand-in for the subscription service's HTTP JSON API, for tests and the demo.
// Serves every request of the client's catalogue under "/api" on 127.0.0.1 from its own
// thread, with in-memory state, scripted faults and a record of what it received.
//
// Status faults answer {"error": "服务暂时不可用", "message": "服务暂时不可用，请稍后重试。"} for
// 5xx (other statuses have their own error text); errorOnly and messageOnly keep one of those
// two members. Connection and crash reports are kept as received, plus
// "_headers": {"x-request-id": …, "x-orvane-attempt-id": …} with those of the two that came.
class DevService {
public:
    using Options = DevServiceOptions;
    enum class FaultKind { status, malformedJSON, wrongTypes, delay, closeConnection, hold };
    enum class ErrorBody {
        errorAndMessage,
        errorOnly,
        messageOnly,
        errorEmpty,
        messageEmpty,
        empty,
        notJSON
    };
    struct Fault {
        QString method; // "" = any method
        QString path;   // path after "/api" without query, exact, e.g. "/nodes"; "" = any
        int times = 1;  // number of matching requests it applies to; -1 = until cleared
        FaultKind kind = FaultKind::status;
        int status = 500;                            // for status
        ErrorBody body = ErrorBody::errorAndMessage; // for status
        int delayMs = 0; // for delay: wait this long, then answer normally
        // hold: wait until releaseHeld() (or stop), then answer normally
    };
    // A request waiting for its release, numbered in the order it came to be held.
    struct HeldRequest {
        quint64 id = 0;
        QString method;
        QString path; // after "/api", without query, as for faults
        QByteArray body;
    };
    struct RecordedRequest {
        QString method;
        QString path; // full path incl. "/api" as received, undecoded
        QString query;
        QMap<QString, QString> headers; // names lower-cased
        QByteArray body;
    };
    static constexpr const char* kDemoEmail = "demo@orvane.dev";
    static constexpr const char* kDemoPassword = "orvane-demo";

    explicit DevService(Options options = {});
    ~DevService(); // stops
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    void start(); // returns once listening; throws std::runtime_error if it cannot bind
    void stop();
    int port() const;
    QString baseURL() const; // "http://127.0.0.1:<port>/api"
    QString rootURL() const; // "http://127.0.0.1:<port>"

    void addFault(const Fault& fault);
    void clearFaults();
    // Held requests, answered only once released: lets a test act while one is in flight.
    // A released request no longer counts, even before its answer has left.
    int heldCount() const;
    QList<HeldRequest> heldRequests() const; // oldest first
    void releaseHeld(); // every one held now
    // Only that one, answered as usual or, given a status, as a status fault would; false when
    // it is not held (any more).
    bool releaseHeld(quint64 id, std::optional<int> status = std::nullopt);
    QList<RecordedRequest> requests() const;
    void clearRequests();
    QList<QJsonObject> connectionReports() const;
    QList<QJsonObject> crashReports() const;
    QString lastVerificationCode(const QString& identity) const;
    // Signs the demo user in (as POST /auth/login would) and returns a valid token.
    QString demoToken();
    void setDemoMaxDevices(int max);

private:
    struct Answer;

    // Knob texts of the HTTP interface ("malformed_json", "error_only", …); false when unknown.
    static bool faultFromJSON(const QJsonObject& object, Fault& fault);

    void serve(const httplib::Request& request, httplib::Response& response);
    void serveKnobs(const httplib::Request& request, httplib::Response& response,
                    const QString& path);
    Answer answerAPI(const httplib::Request& request, const QString& apiPath,
                     const QMap<QString, QString>& headers, bool& dropped);
    bool takeFault(const QString& method, const QString& apiPath, Fault& fault);
    bool waitUnlessStopping(int milliseconds);
    // Until released (true) or stopping; `status` then tells how to answer.
    bool waitUntilReleased(HeldRequest request, std::optional<int>& status);
    static Answer statusAnswer(int status, ErrorBody body);
    bool dropConnection(const httplib::Request& request) const;
    void shutdownServerSockets() const;
    void log(const QString& line) const;

    Options m_options;
    int m_port = 0;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards everything below
    std::unique_ptr<DevServiceState> m_state;
    QList<Fault> m_faults;
    QList<RecordedRequest> m_requests;
    bool m_stopping = false;
    struct Holding {
        HeldRequest request;
        bool released = false;
        std::optional<int> status;
    };
    std::map<quint64, Holding> m_held;
    quint64 m_nextHeld = 0;
    std::condition_variable m_stopSignal; // also signals a release
};

} // namespace orvane::dev
