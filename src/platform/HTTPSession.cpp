#include "HTTPSession.h"

#include "OneShotEvent.h"
#include "URLError.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace orvane {

namespace {

using std::chrono::milliseconds;

constexpr int kMaxRedirects = 16;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

URLError::Code codeFor(CURLcode result) {
    using C = URLError::Code;
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return C::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return C::cannotConnectToHost;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return C::networkConnectionLost;
    case CURLE_OPERATION_TIMEDOUT:
        return C::timedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
        return C::secureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return C::serverCertificateUntrusted;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return C::unsupportedURL;
    case CURLE_URL_MALFORMAT:
        return C::badURL;
    case CURLE_WEIRD_SERVER_REPLY:
        return C::badServerResponse;
    default:
        return C::unknown;
    }
}

bool isHTTPScheme(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool isSameOrigin(const QUrl& a, const QUrl& b) {
    const auto port = [](const QUrl& url) {
        return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           port(a) == port(b);
}

void removeHeader(HTTPHeaderList& headers, const QByteArray& name) {
    headers.removeIf(
        [&name](const auto& pair) { return pair.first.compare(name, Qt::CaseInsensitive) == 0; });
}

// The request that follows a redirect within the same origin, or nothing when the answer is
// the final one. 303, and 301/302 after a POST, go on as a GET without the body.
std::optional<HTTPRequest> followUp(const HTTPRequest& request, const HTTPResponse& response) {
    const int status = response.statusCode;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
        return std::nullopt;
    }
    const QByteArray location = response.header("Location");
    if (location.isEmpty()) {
        return std::nullopt;
    }
    QUrl target = request.url.resolved(QUrl::fromEncoded(location));
    target.setFragment(QString());
    if (!target.isValid() || !isSameOrigin(request.url, target)) {
        return std::nullopt;
    }
    HTTPRequest next = request;
    next.url = target;
    const bool becomesGet =
        status == 303 ? request.method != "HEAD" : status <= 302 && request.method == "POST";
    if (becomesGet) {
        next.method = "GET";
        next.body.reset();
        removeHeader(next.headers, "Content-Type");
        removeHeader(next.headers, "Content-Length");
    }
    return next;
}

} // namespace

// One request on its own connection. Shared by the awaiting coroutine and, while it runs,
// the multi handle: the coroutine resumes on a later turn of the loop and must still find it.
struct HTTPSession::Transfer {
    enum class End { running, done, timedOut, abandoned };

    ~Transfer() {
        if (easy) {
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(headerList);
    }

    static std::shared_ptr<Transfer> make(const HTTPRequest& request);
    HTTPResponse outcome() const;

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                          curl_off_t uploaded);

    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    QByteArray body; // curl reads it in place
    HTTPHeaderList responseHeaders;
    QByteArray responseBody;
    CURLcode result = CURLE_OK;
    End end = End::running;
    milliseconds idleLimit{0};
    milliseconds totalLimit{0};
    char error[CURL_ERROR_SIZE] = {};
    curl_off_t downloaded = 0;
    curl_off_t uploaded = 0;
    QTimer idle;
    QTimer total;
    OneShotEvent finished;
};

// One curl multi handle driven by the Qt loop: a notifier per socket curl watches and one
// precise timer for curl's own time-outs.
struct HTTPSession::Multi {
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    Multi();
    ~Multi();

    void start(const std::shared_ptr<Transfer>& transfer);
    void end(Transfer* transfer, Transfer::End how);
    void act(curl_socket_t socket, int mask);
    void collect();
    void watch(curl_socket_t socket, int what);
    void unwatch(curl_socket_t socket);
    QSocketNotifier* notifier(curl_socket_t socket, QSocketNotifier::Type type, int mask);

    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*);
    static int onTimer(CURLM*, long ms, void* self);

    CURLM* handle = nullptr;
    QTimer timer;
    std::map<curl_socket_t, Watch> sockets;
    std::map<CURL*, std::shared_ptr<Transfer>> running;
};

std::shared_ptr<HTTPSession::Transfer> HTTPSession::Transfer::make(const HTTPRequest& request) {
    const QUrl& url = request.url;
    if (!url.isValid()) {
        throw URLError(URLError::Code::badURL, url.errorString());
    }
    if (!isHTTPScheme(url)) {
        throw URLError(URLError::Code::unsupportedURL, url.scheme());
    }
    if (url.host().isEmpty()) {
        throw URLError(URLError::Code::badURL, url.toString());
    }

    auto transfer = std::make_shared<Transfer>();
    Transfer* t = transfer.get();
    t->easy = curl_easy_init();
    if (!t->easy) {
        throw URLError(URLError::Code::unknown, QStringLiteral("curl_easy_init failed"));
    }
    CURL* easy = t->easy;
    const QByteArray encoded = url.toEncoded(QUrl::RemoveFragment);
    curl_easy_setopt(easy, CURLOPT_URL, encoded.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->error);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Ending a transfer that is still resolving would otherwise join the resolver thread on
    // the event loop; the thread is left to finish and free itself instead.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // The system proxy may point at our own local proxy, and the environment's too.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    // A connection that died under an earlier request is never reused for this one, and curl
    // has no reused connection to resend on: a request goes out at most once.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    // HTTP/2 streams refused by the server would be retried by curl.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

    // Exactly the given headers, in order; an empty value needs curl's "Name;" form. curl's
    // own Accept, Expect and form Content-Type are switched off unless given.
    bool accept = false;
    bool expect = false;
    bool contentType = false;
    for (const auto& [name, value] : request.headers) {
        accept = accept || name.compare("Accept", Qt::CaseInsensitive) == 0;
        expect = expect || name.compare("Expect", Qt::CaseInsensitive) == 0;
        contentType = contentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        t->headerList = curl_slist_append(t->headerList, line.constData());
    }
    for (const auto& [given, suppress] :
         {std::pair{accept, "Accept:"}, std::pair{expect, "Expect:"},
          std::pair{contentType, "Content-Type:"}}) {
        if (!given) {
            t->headerList = curl_slist_append(t->headerList, suppress);
        }
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t->headerList);

    const QByteArray& method = request.method;
    if (request.body) {
        t->body = *request.body;
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(t->body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t->body.constData());
        if (method != "POST") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        }
    } else if (method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }

    t->idleLimit = request.timeout;
    t->idle.setSingleShot(true);
    t->idle.setTimerType(Qt::PreciseTimer);
    t->total.setSingleShot(true);
    t->total.setTimerType(Qt::PreciseTimer);
    return transfer;
}

HTTPResponse HTTPSession::Transfer::outcome() const {
    switch (end) {
    case End::timedOut:
        throw URLError(URLError::Code::timedOut, QStringLiteral("no answer within the time limit"));
    case End::abandoned:
        throw URLError(URLError::Code::cancelled, QStringLiteral("session closed"));
    case End::running:
    case End::done:
        break;
    }
    if (result != CURLE_OK) {
        const QString detail = error[0] != '\0' ? QString::fromUtf8(error)
                                                : QString::fromUtf8(curl_easy_strerror(result));
        throw URLError(codeFor(result), detail);
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPResponse response;
    response.statusCode = static_cast<int>(status);
    response.headers = responseHeaders;
    response.body = responseBody;
    return response;
}

size_t HTTPSession::Transfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t length = size * count;
    QByteArray line(data, static_cast<qsizetype>(length));
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    if (line.startsWith("HTTP/")) {
        // A new status line: only the last answer's headers count (after a 100 Continue, say).
        t->responseHeaders.clear();
    } else if ((line.startsWith(' ') || line.startsWith('\t')) && !t->responseHeaders.isEmpty()) {
        t->responseHeaders.last().second += ' ' + line.trimmed();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        t->responseHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    if (t->end == End::running) {
        t->idle.start();
    }
    return length;
}

size_t HTTPSession::Transfer::onBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t length = size * count;
    t->responseBody.append(data, static_cast<qsizetype>(length));
    if (t->end == End::running) {
        t->idle.start();
    }
    return length;
}

int HTTPSession::Transfer::onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                                      curl_off_t uploaded) {
    // curl calls this about once a second even when nothing moves: only bytes count.
    auto* t = static_cast<Transfer*>(self);
    if ((downloaded != t->downloaded || uploaded != t->uploaded) && t->end == End::running) {
        t->idle.start();
    }
    t->downloaded = downloaded;
    t->uploaded = uploaded;
    return 0;
}

HTTPSession::Multi::Multi() {
    initCurlOnce();
    handle = curl_multi_init();
    curl_multi_setopt(handle, CURLMOPT_SOCKETFUNCTION, &Multi::onSocket);
    curl_multi_setopt(handle, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(handle, CURLMOPT_TIMERFUNCTION, &Multi::onTimer);
    curl_multi_setopt(handle, CURLMOPT_TIMERDATA, this);
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

HTTPSession::Multi::~Multi() {
    const auto left = running;
    for (const auto& [easy, transfer] : left) {
        end(transfer.get(), Transfer::End::abandoned);
    }
    curl_multi_cleanup(handle);
    for (const auto& [socket, w] : sockets) {
        for (QSocketNotifier* n : {w.read, w.write}) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
    }
}

void HTTPSession::Multi::start(const std::shared_ptr<Transfer>& transfer) {
    Transfer* t = transfer.get();
    const CURLMcode added = curl_multi_add_handle(handle, t->easy);
    if (added != CURLM_OK) {
        throw URLError(URLError::Code::unknown, QString::fromUtf8(curl_multi_strerror(added)));
    }
    running[t->easy] = transfer;
    const auto expire = [this, t] { end(t, Transfer::End::timedOut); };
    QObject::connect(&t->idle, &QTimer::timeout, &t->idle, expire);
    QObject::connect(&t->total, &QTimer::timeout, &t->total, expire);
    t->idle.start(t->idleLimit);
    t->total.start(t->totalLimit);
}

void HTTPSession::Multi::end(Transfer* t, Transfer::End how) {
    const auto found = running.find(t->easy);
    if (found == running.end()) {
        return;
    }
    const std::shared_ptr<Transfer> keep = found->second;
    running.erase(found);
    t->end = how;
    t->idle.stop();
    t->total.stop();
    // Closes the connection too: it is never kept for another request.
    curl_multi_remove_handle(handle, t->easy);
    t->finished.set();
}

void HTTPSession::Multi::act(curl_socket_t socket, int mask) {
    int stillRunning = 0;
    curl_multi_socket_action(handle, socket, mask, &stillRunning);
    collect();
}

void HTTPSession::Multi::collect() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(handle, &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        const CURLcode result = message->data.result;
        const auto found = running.find(message->easy_handle);
        if (found == running.end()) {
            continue;
        }
        Transfer* t = found->second.get();
        t->result = result;
        end(t, Transfer::End::done);
    }
}

QSocketNotifier* HTTPSession::Multi::notifier(curl_socket_t socket, QSocketNotifier::Type type,
                                              int mask) {
    auto* n = new QSocketNotifier(socket, type);
    QObject::connect(n, &QSocketNotifier::activated, n,
                     [this, socket, mask] { act(socket, mask); });
    return n;
}

void HTTPSession::Multi::watch(curl_socket_t socket, int what) {
    Watch& w = sockets[socket];
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantRead && !w.read) {
        w.read = notifier(socket, QSocketNotifier::Read, CURL_CSELECT_IN);
    }
    if (wantWrite && !w.write) {
        w.write = notifier(socket, QSocketNotifier::Write, CURL_CSELECT_OUT);
    }
    if (w.read) {
        w.read->setEnabled(wantRead);
    }
    if (w.write) {
        w.write->setEnabled(wantWrite);
    }
}

void HTTPSession::Multi::unwatch(curl_socket_t socket) {
    const auto found = sockets.find(socket);
    if (found == sockets.end()) {
        return;
    }
    // Curl may drop a socket from inside that socket's own notifier.
    for (QSocketNotifier* n : {found->second.read, found->second.write}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    sockets.erase(found);
}

int HTTPSession::Multi::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    auto* multi = static_cast<Multi*>(self);
    if (what == CURL_POLL_REMOVE) {
        multi->unwatch(socket);
    } else {
        multi->watch(socket, what);
    }
    return 0;
}

int HTTPSession::Multi::onTimer(CURLM*, long ms, void* self) {
    // Never act from inside curl: the timer fires on a later turn, at once for 0.
    auto* multi = static_cast<Multi*>(self);
    if (ms < 0) {
        multi->timer.stop();
    } else {
        multi->timer.start(milliseconds(ms));
    }
    return 0;
}

QByteArray HTTPResponse::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

HTTPSession::HTTPSession(QObject* parent) : HTTPSession(Options{}, parent) {}

HTTPSession::HTTPSession(Options options, QObject* parent) : QObject(parent), m_options(options) {}

HTTPSession::~HTTPSession() = default;

QCoro::Task<HTTPResponse> HTTPSession::data(HTTPRequest request) {
    const QPointer<HTTPSession> self(this);
    // Counted until the caller resumes, however it ends; the session may be gone by then.
    struct UnderWay {
        QPointer<HTTPSession> session;
        explicit UnderWay(HTTPSession* s) : session(s) { ++s->m_requestsUnderWay; }
        ~UnderWay() {
            if (session) {
                --session->m_requestsUnderWay;
            }
        }
    };
    const UnderWay underWay(this);
    const auto deadline = std::chrono::steady_clock::now() + m_options.resourceTimeout;
    for (int redirects = 0;; ++redirects) {
        if (!self) {
            throw URLError(URLError::Code::cancelled, QStringLiteral("session closed"));
        }
        // curl_global_init sets up the TLS libraries: done with the first request, so a
        // session made at start-up does not hold up the first window.
        if (!m_multi) {
            m_multi = std::make_unique<Multi>();
        }
        const std::shared_ptr<Transfer> transfer = Transfer::make(request);
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        transfer->totalLimit = std::max(left, milliseconds(0));
        m_multi->start(transfer);
        co_await transfer->finished.wait();

        HTTPResponse response = transfer->outcome();
        if (redirects >= kMaxRedirects) {
            co_return response;
        }
        std::optional<HTTPRequest> next = followUp(request, response);
        if (!next) {
            co_return response;
        }
        request = std::move(*next);
    }
}

} // namespace orvane
