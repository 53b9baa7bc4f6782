#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

enum class AppPage { home, routes, plans, invite, settings };
enum class OutboundMode { smart, global, direct, enhanced };
enum class RouteRegionChoice { automatic, sg, jp, us };
// Raw values are the texts the user sees.
enum class NodeStatus { online, checking, offline };

QString rawValue(AppPage value);
QString rawValue(OutboundMode value);
QString rawValue(RouteRegionChoice value);
QString rawValue(NodeStatus value);

// Exact, case-sensitive; any other text gives nothing.
std::optional<AppPage> appPageFromRawValue(const QString& raw);
std::optional<OutboundMode> outboundModeFromRawValue(const QString& raw);
std::optional<RouteRegionChoice> routeRegionChoiceFromRawValue(const QString& raw);
std::optional<NodeStatus> nodeStatusFromRawValue(const QString& raw);

const QList<AppPage>& allAppPages();
const QList<OutboundMode>& allOutboundModes();
const QList<RouteRegionChoice>& allRouteRegionChoices();

// JSON as the raw text.
OutboundMode jsonDecode(const QJsonValue& value, const QStringList& path, OutboundMode*);
RouteRegionChoice jsonDecode(const QJsonValue& value, const QStringList& path, RouteRegionChoice*);
void jsonEncode(QByteArray& out, OutboundMode value);
void jsonEncode(QByteArray& out, RouteRegionChoice value);

// The connection as the window shows it; `failed` carries its message.
class ConnectionState {
public:
    enum class Case { disconnected, preparing, configReady, connected, disconnecting, repairing, failed };

    ConnectionState(Case c = Case::disconnected) : m_case(c) {}
    static ConnectionState failed(QString message) {
        ConnectionState s(Case::failed);
        s.m_message = std::move(message);
        return s;
    }

    Case stateCase() const { return m_case; }
    const QString& message() const { return m_message; }

    friend bool operator==(const ConnectionState& a, const ConnectionState& b) {
        return a.m_case == b.m_case && (a.m_case != Case::failed || a.m_message == b.m_message);
    }

private:
    Case m_case;
    QString m_message;
};

} // namespace orvane
