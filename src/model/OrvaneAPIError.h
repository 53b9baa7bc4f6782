#pragma once

#include "LocalizedError.h"

#include <optional>

namespace orvane {

// An answer of the service that is not a success.
class OrvaneAPIError : public LocalizedError {
public:
    enum class Case { server, invalidResponse };

    static OrvaneAPIError server(int statusCode, std::optional<QString> message);
    static OrvaneAPIError invalidResponse();

    Case errorCase() const { return m_case; }
    int statusCode() const { return m_statusCode; }
    const std::optional<QString>& message() const { return m_message; }

    QString localizedDescription() const override;

private:
    explicit OrvaneAPIError(Case c) : m_case(c) {}

    Case m_case;
    int m_statusCode = 0;
    std::optional<QString> m_message;
};

// A request the client refuses to send, because what it would send is not what was meant.
class APIRequestError : public LocalizedError {
public:
    enum class Case { invalidDeviceId, invalidHeader };

    static APIRequestError invalidDeviceId(QString deviceId);
    static APIRequestError invalidHeader(QString name);

    Case errorCase() const { return m_case; }
    const QString& subject() const { return m_subject; }
    QString localizedDescription() const override;

private:
    APIRequestError(Case c, QString subject) : m_case(c), m_subject(std::move(subject)) {}

    Case m_case;
    QString m_subject;
};

} // namespace orvane
