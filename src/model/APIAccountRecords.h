#pragma once

#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"

#include <QList>
#include <QString>

#include <optional>

namespace orvane {

// Body of any non-success answer. Both error-code spellings are kept apart on purpose.
struct APIErrorResponse {
    std::optional<QString> error;
    std::optional<QString> message;
    std::optional<QString> errorCode;
    std::optional<QString> errorCodeSnake;

    static APIErrorResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIErrorResponse&, const APIErrorResponse&) = default;
};

struct APIOkResponse {
    bool ok = false;

    static APIOkResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIOkResponse&, const APIOkResponse&) = default;
};

struct APIIdentityRequest {
    QString identity;

    void encode(JSONObjectWriter& w) const;
    friend bool operator==(const APIIdentityRequest&, const APIIdentityRequest&) = default;
};

struct APIVerificationCodeResponse {
    bool ok = false;
    QString channel;
    qint64 expiresInMinutes = 0;
    QString message;
    std::optional<QString> debugCode;

    static APIVerificationCodeResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIVerificationCodeResponse&,
                           const APIVerificationCodeResponse&) = default;
};

struct APIRegisterRequest {
    QString identity;
    QString password;
    QString verificationCode;
    std::optional<QString> inviteCode;

    void encode(JSONObjectWriter& w) const;
    friend bool operator==(const APIRegisterRequest&, const APIRegisterRequest&) = default;
};

struct APILoginRequest {
    QString identity;
    QString password;

    void encode(JSONObjectWriter& w) const;
    friend bool operator==(const APILoginRequest&, const APILoginRequest&) = default;
};

struct APIUser {
    QString id;
    QString identity;
    std::optional<QString> email;
    std::optional<QString> phone;
    QString role;
    QString status;
    std::optional<QString> referralCode;
    QString planName;
    std::optional<QString> subscriptionExpiredAt;
    std::optional<qint64> remainingTrafficMb;
    qint64 maxDevices = 0;
    std::optional<qint64> invitesTotal;
    std::optional<qint64> invitesPaid;
    std::optional<qint64> rewardDays;

    static APIUser decode(const JSONObjectReader& r);
    friend bool operator==(const APIUser&, const APIUser&) = default;
};

struct APIAuthResponse {
    QString token;
    APIUser user;

    static APIAuthResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIAuthResponse&, const APIAuthResponse&) = default;
};

struct APIMeResponse {
    APIUser user;

    static APIMeResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIMeResponse&, const APIMeResponse&) = default;
};

struct APIPlan {
    QString id;
    QString name;
    double price = 0;
    std::optional<QString> currency;
    qint64 durationDays = 0;
    qint64 maxDevices = 0;

    static APIPlan decode(const JSONObjectReader& r);
    friend bool operator==(const APIPlan&, const APIPlan&) = default;
};

struct APIPlansResponse {
    QList<APIPlan> plans;

    static APIPlansResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIPlansResponse&, const APIPlansResponse&) = default;
};

struct APIOrder {
    QString id;
    QString planId;
    QString planName;
    double amount = 0;
    QString currency;
    std::optional<QString> paymentMethod;
    QString paymentStatus;
    std::optional<QString> createdAt;
    std::optional<QString> paidAt;

    static APIOrder decode(const JSONObjectReader& r);
    friend bool operator==(const APIOrder&, const APIOrder&) = default;
};

struct APIOrdersResponse {
    QList<APIOrder> orders;

    static APIOrdersResponse decode(const JSONObjectReader& r);
    friend bool operator==(const APIOrdersResponse&, const APIOrdersResponse&) = default;
};

} // namespace orvane
