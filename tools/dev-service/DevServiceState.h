#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace orvane::dev {

// The accounts, devices, tickets and reports behind the local service's "/api", and the
// answer to each request of the catalogue. Not synchronised: DevService calls it under its
// own lock.
class DevServiceState {
public:
    struct Call {
        QString method;
        QStringList segments;           // path after "/api", split at "/", still percent-encoded
        QMap<QString, QString> headers; // names lower-cased
        QByteArray body;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";

        static Reply json(int status, const QJsonObject& object);
        static Reply error(int status, const QString& text);
    };
    using Logger = std::function<void(const QString&)>;

    static constexpr const char* kDemoUserId = "usr_demo";

    DevServiceState(int configReadyAfterPolls, int configRetryAfterMs, int configMaxWaitMs,
                    Logger logger);

    Reply handle(const Call& call);
    void setCacheKeyNamesMode(bool names) { m_cacheKeyNamesMode = names; }

    QList<QJsonObject> connectionReports() const { return m_connectionReports; }
    QList<QJsonObject> crashReports() const { return m_crashReports; }
    QString lastVerificationCode(const QString& identity) const;
    QString signIn(const QString& userId);
    void setMaxDevices(const QString& userId, int max);

private:
    struct User {
        QString id;
        QString identity;
        QString password;
        QString referralCode;
        QString planName;
        QString subscriptionExpiredAt;
        qint64 remainingTrafficMb = 0;
        int maxDevices = 0;
        int invitesTotal = 0;
        int invitesPaid = 0;
        int rewardDays = 0;
    };
    struct Device {
        QString id;
        QString ownerId;
        QString clientDeviceId;
        QString deviceName;
        QString deviceType;
        QString os;
        QString appVersion;
        QString lastLoginAt;
        bool online = false;
        QString connectionStatus;
        QString latestConnectionAt;
    };
    struct Request {
        const Call& call;
        User* user = nullptr;
        QString param; // the one percent-decoded id segment of the path, if any
    };
    struct Route {
        const char* method;
        const char* pattern; // "{id}" stands for one segment
        bool needsToken;
        Reply (DevServiceState::*handler)(const Request&);
    };

    static const std::vector<Route>& routes();

    Reply sendVerificationCode(const Request& request);
    Reply registerUser(const Request& request);
    Reply login(const Request& request);
    Reply logout(const Request& request);
    Reply me(const Request& request);
    Reply nodes(const Request& request);
    Reply plans(const Request& request);
    Reply versions(const Request& request);
    Reply orders(const Request& request);
    Reply tickets(const Request& request);
    Reply createTicket(const Request& request);
    Reply bootstrap(const Request& request);
    Reply routeCatalog(const Request& request);
    Reply routePreferences(const Request& request);
    Reply saveRoutePreferences(const Request& request);
    Reply devices(const Request& request);
    Reply bindDevice(const Request& request);
    Reply deleteDevice(const Request& request);
    Reply protocolConfig(const Request& request);
    Reply connectionReport(const Request& request);
    Reply crashReport(const Request& request);

    User* userForToken(const QMap<QString, QString>& headers);
    User* userWithIdentity(const QString& identity);
    QString newId(const char* prefix, int hexDigits);
    QJsonObject userJSON(const User& user) const;
    QJsonObject deviceJSON(const Device& device) const;
    QJsonArray devicesJSON(const QString& userId) const;
    int deviceCount(const QString& userId) const;
    QJsonObject authAnswer(const User& user);

    int m_configReadyAfterPolls;
    int m_configRetryAfterMs;
    int m_configMaxWaitMs;
    bool m_cacheKeyNamesMode = false;
    Logger m_logger;
    std::vector<User> m_users;
    std::vector<Device> m_devices;
    QHash<QString, QString> m_tokens; // token -> user id
    QHash<QString, QString> m_codes;  // identity -> last mailed code
    QHash<QString, int> m_polls;      // "device\nendpoint" -> not-ready answers given
    QHash<QString, QList<QJsonObject>> m_tickets;
    QHash<QString, QJsonArray> m_orders;
    QHash<QString, QJsonArray> m_preferences;
    QList<QJsonObject> m_connectionReports;
    QList<QJsonObject> m_crashReports;
    int m_ticketSerial = 1001;
};

} // namespace orvane::dev
