#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <httplib.h>

namespace orvane::test {

// Plain HTTP against the local service, so its answers are checked byte for byte and not
// through the client under test.
class ServiceClient {
public:
    struct Answer {
        bool answered = false; // false when the connection ended without a response
        int status = 0;
        QByteArray body;
        QString contentType;

        QJsonObject json() const;
        bool isJSON() const;
    };

    explicit ServiceClient(int port);

    Answer send(const char* method, const QString& path, const QByteArray& body = {},
                const QString& token = {}, const httplib::Headers& headers = {});
    Answer get(const QString& path, const QString& token = {}) {
        return send("GET", path, {}, token);
    }
    Answer post(const QString& path, const QJsonObject& body, const QString& token = {});

private:
    httplib::Client m_client;
};

} // namespace orvane::test
