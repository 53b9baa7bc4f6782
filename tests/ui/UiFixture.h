#pragma once

#include "AppState.h"
#include "RunTask.h"
#include "StateFixture.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace orvane {

// Sets what no public operation reaches directly.
class AppStateTestAccess {
public:
    static void setConnectionState(AppState& s, ConnectionState c) { s.setConnectionState(c); }
    static void setConnectedAt(AppState& s, std::optional<QDateTime> at) { s.setConnectedAt(at); }
    static void setEndpoints(AppState& s, QList<Endpoint> e) { s.setEndpoints(std::move(e)); }
    static void setToken(AppState& s, std::optional<QString> token) { s.m_token = token; }
    static void setCurrentUser(AppState& s, std::optional<APIUser> u) { s.setCurrentUser(u); }
    static void setCurrentDevice(AppState& s, std::optional<Device> d) { s.setCurrentDevice(d); }
    static void setDevices(AppState& s, QList<Device> d) { s.setDevices(std::move(d)); }
    static void setTickets(AppState& s, QList<Ticket> t) { s.setTickets(std::move(t)); }
    static void setOrders(AppState& s, QList<Order> o) { s.setOrders(std::move(o)); }
};

namespace test {

inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// Lets every task the state started run to its end.
inline void waitForStateTasks(AppState& state) {
    for (int i = 0; i < 2000 && state.runningTaskCount() > 0; ++i) {
        QTest::qWait(5);
    }
    settle();
}

// Lays the widget out at `size` and lets pending events run.
inline void showAt(QWidget& widget, QSize size) {
    widget.resize(size);
    widget.show();
    settle();
}

inline Endpoint makeEndpoint(const QString& id, const QString& name, qint64 latencyMs) {
    Endpoint e;
    e.id = id;
    e.region = QStringLiteral("香港");
    e.name = name;
    e.latencyMs = latencyMs;
    e.loadPercent = 40;
    e.status = NodeStatus::online;
    e.supportedProtocols = {ProtocolKind::vless};
    return e;
}

} // namespace test
} // namespace orvane
