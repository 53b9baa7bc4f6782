#include "DevService.h"

#include "DevServiceState.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <httplib.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

namespace orvane::dev {

struct DevService::Answer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QString note;
};

namespace {

// Headers cpp-httplib adds to every request for the handler's convenience.
bool isServerAddedHeader(const std::string& name) {
    for (const char* added : {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"}) {
        if (name == added) {
            return true;
        }
    }
    return false;
}

QMap<QString, QString> lowerCasedHeaders(const httplib::Headers& headers) {
    QMap<QString, QString> result;
    for (const auto& [name, value] : headers) {
        if (isServerAddedHeader(name)) {
            continue;
        }
        const QString key = QString::fromStdString(name).toLower();
        const QString text = QString::fromStdString(value);
        result.insert(key, result.contains(key) ? result.value(key) + QStringLiteral(", ") + text
                                                : text);
    }
    return result;
}

QString faultErrorText(int status) {
    if (status >= 500) {
        return QStringLiteral("服务暂时不可用");
    }
    switch (status) {
    case 401:
        return QStringLiteral("登录已过期，请重新登录。");
    case 403:
        return QStringLiteral("没有权限执行该操作。");
    case 404:
        return QStringLiteral("接口不存在。");
    case 409:
        return QStringLiteral("请求冲突，请稍后重试。");
    case 429:
        return QStringLiteral("请求过于频繁，请稍后再试。");
    default:
        return QStringLiteral("请求无效。");
    }
}

QString faultMessageText(int status) {
    const QString error = faultErrorText(status);
    return error.endsWith(QChar(0x3002)) ? error + QStringLiteral("请稍后重试。")
                                         : error + QStringLiteral("，请稍后重试。");
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Replaces one typed field by a value of another JSON type: "latency_ms" or "id" where the
// record has them, else the first record found in a list or member, else a scalar here.
bool corruptOneField(QJsonObject& object) {
    if (object.value(QStringLiteral("latency_ms")).isDouble()) {
        object.insert(QStringLiteral("latency_ms"),
                      QString::number(object.value(QStringLiteral("latency_ms")).toInteger()));
        return true;
    }
    if (object.value(QStringLiteral("id")).isString()) {
        object.insert(QStringLiteral("id"), 4711);
        return true;
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        QJsonArray list = it.value().toArray();
        if (!list.isEmpty() && list.first().isObject()) {
            QJsonObject first = list.first().toObject();
            if (corruptOneField(first)) {
                list.replace(0, first);
                it.value() = list;
                return true;
            }
        }
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isObject()) {
            QJsonObject member = it.value().toObject();
            if (corruptOneField(member)) {
                it.value() = member;
                return true;
            }
        }
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        if (value.isDouble()) {
            it.value() = QString::number(value.toDouble());
            return true;
        }
        if (value.isString()) {
            it.value() = 0;
            return true;
        }
        if (value.isBool()) {
            it.value() = value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
            return true;
        }
    }
    return false;
}

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return -1;
}

// cpp-httplib hands handlers no socket. Our own sockets are found among the process's open
// descriptors by their local and peer ports; every other descriptor fails these calls.
void forEachConnectedSocket(const std::function<void(int fd, int localPort, int peerPort)>& visit) {
    std::vector<int> fds;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                fds.push_back(std::atoi(entry->d_name));
            }
        }
        closedir(dir);
    } else {
        for (int fd = 0; fd < 4096; ++fd) {
            fds.push_back(fd);
        }
    }
    for (int fd : fds) {
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof(local);
        socklen_t peerLength = sizeof(peer);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
            continue;
        }
        visit(fd, portOf(local), portOf(peer));
    }
}

bool parseEnum(const QJsonValue& value, const std::vector<std::pair<QStringList, int>>& names,
               int& result) {
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    for (const auto& [spellings, number] : names) {
        if (spellings.contains(value.toString())) {
            result = number;
            return true;
        }
    }
    return false;
}

} // namespace

DevService::DevService(Options options)
    : m_options(options),
      m_state(std::make_unique<DevServiceState>(options.configReadyAfterPolls,
                                                options.configRetryAfterMs,
                                                options.configMaxWaitMs,
                                                [this](const QString& line) { log(line); })) {
    m_state->setCacheKeyNamesMode(options.cacheKeyNamesMode);
}

DevService::~DevService() {
    stop();
}

void DevService::start() {
    if (m_server) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    auto server = std::make_unique<httplib::Server>();
    const httplib::Server::Handler handler = [this](const httplib::Request& request,
                                                    httplib::Response& response) {
        try {
            serve(request, response);
        } catch (const std::exception& error) {
            log(QStringLiteral("handler failed: %1").arg(QString::fromLocal8Bit(error.what())));
            response.status = 500;
            response.set_content(
                compact({{QStringLiteral("error"), faultErrorText(500)}}).toStdString(),
                "application/json");
        }
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);
    server->Options(".*", handler);

    // cpp-httplib's default adds SO_REUSEPORT, which would let a second service share a busy port.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });

    const std::string host = "127.0.0.1";
    if (m_options.port == 0) {
        m_port = server->bind_to_any_port(host);
    } else {
        m_port = server->bind_to_port(host, m_options.port) ? m_options.port : -1;
    }
    if (m_port <= 0) {
        const int wanted = m_options.port;
        m_port = 0;
        throw std::runtime_error("orvane-dev-service: cannot bind 127.0.0.1:" +
                                 std::to_string(wanted));
    }

    auto finished = std::make_shared<std::atomic<bool>>(false);
    httplib::Server* raw = server.get();
    m_thread = std::thread([raw, finished] {
        raw->listen_after_bind();
        finished->store(true);
    });
    // stop() only takes effect once the accept loop runs.
    while (!raw->is_running() && !finished->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_server = std::move(server);
}

void DevService::stop() {
    if (!m_server) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopSignal.notify_all();
    m_server->stop();
    // Idle keep-alive connections would otherwise hold their worker for seconds.
    shutdownServerSockets();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_server.reset();
}

int DevService::port() const {
    return m_port;
}

QString DevService::baseURL() const {
    return rootURL() + QStringLiteral("/api");
}

QString DevService::rootURL() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void DevService::addFault(const Fault& fault) {
    std::lock_guard lock(m_mutex);
    if (fault.times != 0) {
        m_faults.append(fault);
    }
}

void DevService::clearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

int DevService::heldCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_held.begin(), m_held.end(),
                                          [](const auto& entry) { return !entry.second.released; }));
}

QList<DevService::HeldRequest> DevService::heldRequests() const {
    std::lock_guard lock(m_mutex);
    QList<HeldRequest> list;
    for (const auto& [id, holding] : m_held) {
        if (!holding.released) {
            list.append(holding.request);
        }
    }
    return list;
}

void DevService::releaseHeld() {
    {
        std::lock_guard lock(m_mutex);
        for (auto& [id, holding] : m_held) {
            holding.released = true;
        }
    }
    m_stopSignal.notify_all();
}

bool DevService::releaseHeld(quint64 id, std::optional<int> status) {
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_held.find(id);
        if (found == m_held.end() || found->second.released) {
            return false;
        }
        found->second.released = true;
        found->second.status = status;
    }
    m_stopSignal.notify_all();
    return true;
}

QList<DevService::RecordedRequest> DevService::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void DevService::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

QList<QJsonObject> DevService::connectionReports() const {
    std::lock_guard lock(m_mutex);
    return m_state->connectionReports();
}

QList<QJsonObject> DevService::crashReports() const {
    std::lock_guard lock(m_mutex);
    return m_state->crashReports();
}

QString DevService::lastVerificationCode(const QString& identity) const {
    std::lock_guard lock(m_mutex);
    return m_state->lastVerificationCode(identity);
}

QString DevService::demoToken() {
    std::lock_guard lock(m_mutex);
    return m_state->signIn(QString::fromLatin1(DevServiceState::kDemoUserId));
}

void DevService::setDemoMaxDevices(int max) {
    std::lock_guard lock(m_mutex);
    m_state->setMaxDevices(QString::fromLatin1(DevServiceState::kDemoUserId), max);
}

bool DevService::faultFromJSON(const QJsonObject& object, Fault& fault) {
    fault.method = object.value(QStringLiteral("method")).toString();
    fault.path = object.value(QStringLiteral("path")).toString();
    fault.times = object.value(QStringLiteral("times")).toInt(1);
    fault.status = object.value(QStringLiteral("status")).toInt(500);
    fault.delayMs = object.value(QStringLiteral("delayMs"))
                        .toInt(object.value(QStringLiteral("delay_ms")).toInt(0));

    int kind = static_cast<int>(FaultKind::status);
    const bool kindKnown =
        parseEnum(object.value(QStringLiteral("kind")),
                  {{{QStringLiteral("status")}, static_cast<int>(FaultKind::status)},
                   {{QStringLiteral("malformed_json"), QStringLiteral("malformedJSON")},
                    static_cast<int>(FaultKind::malformedJSON)},
                   {{QStringLiteral("wrong_types"), QStringLiteral("wrongTypes")},
                    static_cast<int>(FaultKind::wrongTypes)},
                   {{QStringLiteral("delay")}, static_cast<int>(FaultKind::delay)},
                   {{QStringLiteral("close_connection"), QStringLiteral("closeConnection")},
                    static_cast<int>(FaultKind::closeConnection)},
                   {{QStringLiteral("hold")}, static_cast<int>(FaultKind::hold)}},
                  kind);
    int body = static_cast<int>(ErrorBody::errorAndMessage);
    const bool bodyKnown =
        parseEnum(object.value(QStringLiteral("body")),
                  {{{QStringLiteral("error_and_message"), QStringLiteral("errorAndMessage")},
                    static_cast<int>(ErrorBody::errorAndMessage)},
                   {{QStringLiteral("error_only"), QStringLiteral("errorOnly")},
                    static_cast<int>(ErrorBody::errorOnly)},
                   {{QStringLiteral("message_only"), QStringLiteral("messageOnly")},
                    static_cast<int>(ErrorBody::messageOnly)},
                   {{QStringLiteral("error_empty"), QStringLiteral("errorEmpty")},
                    static_cast<int>(ErrorBody::errorEmpty)},
                   {{QStringLiteral("message_empty"), QStringLiteral("messageEmpty")},
                    static_cast<int>(ErrorBody::messageEmpty)},
                   {{QStringLiteral("empty")}, static_cast<int>(ErrorBody::empty)},
                   {{QStringLiteral("not_json"), QStringLiteral("notJSON")},
                    static_cast<int>(ErrorBody::notJSON)}},
                  body);
    fault.kind = static_cast<FaultKind>(kind);
    fault.body = static_cast<ErrorBody>(body);
    return kindKnown && bodyKnown;
}

void DevService::serve(const httplib::Request& request, httplib::Response& response) {
    const std::string& target = request.target;
    const std::size_t queryStart = target.find('?');
    const QString path = QString::fromStdString(target.substr(0, queryStart));
    const QString query = queryStart == std::string::npos
                              ? QString()
                              : QString::fromStdString(target.substr(queryStart + 1));

    if (path.startsWith(QLatin1String("/__dev/"))) {
        serveKnobs(request, response, path);
        return;
    }

    const QMap<QString, QString> headers = lowerCasedHeaders(request.headers);
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(RecordedRequest{QString::fromStdString(request.method), path, query,
                                          headers, QByteArray::fromStdString(request.body)});
    }

    Answer answer;
    bool dropped = false;
    if (path == QLatin1String("/generate_204")) {
        answer.status = 204;
    } else if (path == QLatin1String("/api") || path.startsWith(QLatin1String("/api/"))) {
        answer = answerAPI(request, path.mid(4), headers, dropped);
    } else {
        answer.status = 404;
        answer.body = compact({{QStringLiteral("error"), QStringLiteral("接口不存在。")}});
    }

    if (!dropped) {
        response.status = answer.status;
        if (!answer.body.isEmpty()) {
            response.set_content(answer.body.toStdString(), answer.contentType.toStdString());
        }
    }
    log(QStringLiteral("%1 %2 -> %3%4")
            .arg(QString::fromStdString(request.method), QString::fromStdString(target),
                 dropped ? QStringLiteral("dropped") : QString::number(answer.status),
                 answer.note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(answer.note)));
}

void DevService::serveKnobs(const httplib::Request& request, httplib::Response& response,
                            const QString& path) {
    auto reply = [&response](int status, const QJsonObject& object) {
        response.status = status;
        response.set_content(compact(object).toStdString(), "application/json");
    };
    const QJsonObject ok{{QStringLiteral("ok"), true}};
    if (path == QLatin1String("/__dev/faults") && request.method == "POST") {
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
        Fault fault;
        if (!document.isObject() || !faultFromJSON(document.object(), fault)) {
            reply(400, {{QStringLiteral("error"), QStringLiteral("unknown fault description")}});
            return;
        }
        addFault(fault);
        reply(200, ok);
    } else if (path == QLatin1String("/__dev/faults") && request.method == "DELETE") {
        clearFaults();
        reply(200, ok);
    } else if (path == QLatin1String("/__dev/held") && request.method == "GET") {
        reply(200, {{QStringLiteral("held"), heldCount()}});
    } else if (path == QLatin1String("/__dev/held") && request.method == "DELETE") {
        releaseHeld();
        reply(200, ok);
    } else if (path == QLatin1String("/__dev/requests") && request.method == "GET") {
        QJsonArray list;
        for (const RecordedRequest& recorded : requests()) {
            QJsonObject headers;
            for (auto it = recorded.headers.begin(); it != recorded.headers.end(); ++it) {
                headers.insert(it.key(), it.value());
            }
            list.append(QJsonObject{{QStringLiteral("method"), recorded.method},
                                    {QStringLiteral("path"), recorded.path},
                                    {QStringLiteral("query"), recorded.query},
                                    {QStringLiteral("headers"), headers},
                                    {QStringLiteral("body"), QString::fromUtf8(recorded.body)}});
        }
        reply(200, {{QStringLiteral("requests"), list}});
    } else if (path == QLatin1String("/__dev/requests") && request.method == "DELETE") {
        clearRequests();
        reply(200, ok);
    } else {
        reply(404, {{QStringLiteral("error"), QStringLiteral("unknown knob")}});
    }
}

DevService::Answer DevService::answerAPI(const httplib::Request& request, const QString& apiPath,
                                         const QMap<QString, QString>& headers, bool& dropped) {
    const QString method = QString::fromStdString(request.method);
    auto normally = [&]() {
        DevServiceState::Call call{method, apiPath.mid(1).split(QLatin1Char('/')), headers,
                                   QByteArray::fromStdString(request.body)};
        std::lock_guard lock(m_mutex);
        const DevServiceState::Reply reply = m_state->handle(call);
        return Answer{reply.status, reply.body, reply.contentType, {}};
    };

    Fault fault;
    if (!takeFault(method, apiPath, fault)) {
        return normally();
    }
    switch (fault.kind) {
    case FaultKind::status:
        return statusAnswer(fault.status, fault.body);
    case FaultKind::malformedJSON:
        return Answer{200, R"({"nodes": [)", "application/json",
                      QStringLiteral("fault: malformed")};
    case FaultKind::wrongTypes: {
        Answer answer = normally();
        const QJsonDocument document = QJsonDocument::fromJson(answer.body);
        if (answer.status < 200 || answer.status > 299 || !document.isObject()) {
            answer.note = QStringLiteral("fault: wrong types not applicable");
            return answer;
        }
        QJsonObject object = document.object();
        const bool changed = corruptOneField(object);
        return Answer{200, compact(object), "application/json",
                      changed ? QStringLiteral("fault: wrong types")
                              : QStringLiteral("fault: wrong types, nothing to change")};
    }
    case FaultKind::delay: {
        if (!waitUnlessStopping(fault.delayMs)) {
            return Answer{503, compact({{QStringLiteral("error"), faultErrorText(503)}}),
                          "application/json", QStringLiteral("stopping")};
        }
        Answer answer = normally();
        answer.note = QStringLiteral("fault: delayed %1 ms").arg(fault.delayMs);
        return answer;
    }
    case FaultKind::hold: {
        std::optional<int> status;
        if (!waitUntilReleased({0, method, apiPath, QByteArray::fromStdString(request.body)},
                               status)) {
            return Answer{503, compact({{QStringLiteral("error"), faultErrorText(503)}}),
                          "application/json", QStringLiteral("stopping")};
        }
        if (status) {
            Answer answer = statusAnswer(*status, ErrorBody::errorAndMessage);
            answer.note = QStringLiteral("fault: held, then failed");
            return answer;
        }
        // Answered as things stand at the release, not as they stood on arrival.
        Answer answer = normally();
        answer.note = QStringLiteral("fault: held");
        return answer;
    }
    case FaultKind::closeConnection:
        if (dropConnection(request)) {
            dropped = true;
            return Answer{0, {}, {}, QStringLiteral("fault")};
        }
        return Answer{500, compact({{QStringLiteral("error"), faultErrorText(500)}}),
                      "application/json", QStringLiteral("fault: socket not found, answered 500")};
    }
    return normally();
}

bool DevService::takeFault(const QString& method, const QString& apiPath, Fault& fault) {
    std::lock_guard lock(m_mutex);
    for (qsizetype i = 0; i < m_faults.size(); ++i) {
        Fault& candidate = m_faults[i];
        const bool methodMatches = candidate.method.isEmpty() ||
                                   candidate.method.compare(method, Qt::CaseInsensitive) == 0;
        const bool pathMatches = candidate.path.isEmpty() || candidate.path == apiPath;
        if (!methodMatches || !pathMatches) {
            continue;
        }
        fault = candidate;
        if (candidate.times > 0 && --candidate.times == 0) {
            m_faults.removeAt(i);
        }
        return true;
    }
    return false;
}

bool DevService::waitUnlessStopping(int milliseconds) {
    std::unique_lock lock(m_mutex);
    return !m_stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return m_stopping; });
}

bool DevService::waitUntilReleased(HeldRequest request, std::optional<int>& status) {
    std::unique_lock lock(m_mutex);
    const quint64 id = ++m_nextHeld;
    request.id = id;
    m_held.emplace(id, Holding{std::move(request), false, std::nullopt});
    m_stopSignal.wait(lock, [this, id] { return m_stopping || m_held.at(id).released; });
    status = m_held.at(id).status;
    m_held.erase(id);
    return !m_stopping;
}

DevService::Answer DevService::statusAnswer(int status, ErrorBody body) {
    Answer answer{status, {}, "application/json", QStringLiteral("fault")};
    const QString error = faultErrorText(status);
    switch (body) {
    case ErrorBody::errorAndMessage:
        answer.body = compact({{QStringLiteral("error"), error},
                               {QStringLiteral("message"), faultMessageText(status)}});
        break;
    case ErrorBody::errorOnly:
        answer.body = compact({{QStringLiteral("error"), error}});
        break;
    case ErrorBody::messageOnly:
        answer.body = compact({{QStringLiteral("message"), faultMessageText(status)}});
        break;
    case ErrorBody::errorEmpty:
        answer.body = compact({{QStringLiteral("error"), QString()}});
        break;
    case ErrorBody::messageEmpty:
        answer.body = compact({{QStringLiteral("message"), QString()}});
        break;
    case ErrorBody::empty:
        break;
    case ErrorBody::notJSON:
        answer.body = "<html>oops</html>";
        answer.contentType = "text/html";
        break;
    }
    return answer;
}

bool DevService::dropConnection(const httplib::Request& request) const {
    bool found = false;
    forEachConnectedSocket([&](int fd, int localPort, int peerPort) {
        if (!found && localPort == m_port && peerPort == request.remote_port) {
            // The peer sees the connection end with no status line at all.
            ::shutdown(fd, SHUT_RDWR);
            found = true;
        }
    });
    return found;
}

void DevService::shutdownServerSockets() const {
    forEachConnectedSocket([this](int fd, int localPort, int) {
        if (localPort == m_port) {
            ::shutdown(fd, SHUT_RDWR);
        }
    });
}

void DevService::log(const QString& line) const {
    if (m_options.logToStderr) {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
    }
}

} // namespace orvane::dev
