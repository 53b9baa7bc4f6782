#include "ServiceClient.h"

#include <QJsonDocument>

#include <cstring>

namespace orvane::test {

QJsonObject ServiceClient::Answer::json() const {
    return QJsonDocument::fromJson(body).object();
}

bool ServiceClient::Answer::isJSON() const {
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError;
}

ServiceClient::ServiceClient(int port) : m_client("127.0.0.1", port) {
    // Paths go out exactly as written, percent escapes included.
    m_client.set_url_encode(false);
    m_client.set_read_timeout(10, 0);
}

ServiceClient::Answer ServiceClient::send(const char* method, const QString& path,
                                          const QByteArray& body, const QString& token,
                                          const httplib::Headers& headers) {
    httplib::Headers all = headers;
    if (!token.isEmpty()) {
        all.emplace("Authorization", "Bearer " + token.toStdString());
    }
    const std::string target = path.toStdString();
    const std::string content = body.toStdString();
    auto perform = [&]() -> httplib::Result {
        if (std::strcmp(method, "GET") == 0) {
            return m_client.Get(target, all);
        }
        if (std::strcmp(method, "POST") == 0) {
            return m_client.Post(target, all, content, "application/json");
        }
        if (std::strcmp(method, "PUT") == 0) {
            return m_client.Put(target, all, content, "application/json");
        }
        return content.empty() ? m_client.Delete(target, all)
                               : m_client.Delete(target, all, content, "application/json");
    };
    const httplib::Result result = perform();
    Answer answer;
    if (!result) {
        return answer;
    }
    answer.answered = true;
    answer.status = result->status;
    answer.body = QByteArray::fromStdString(result->body);
    answer.contentType = QString::fromStdString(result->get_header_value("Content-Type"));
    return answer;
}

ServiceClient::Answer ServiceClient::post(const QString& path, const QJsonObject& body,
                                          const QString& token) {
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), token);
}

} // namespace orvane::test
