#pragma once

#include "AppState.h"
#include "RunTask.h"
#include "StateFixture.h"

#include <QApplication>
#include <QWidget>

namespace orvane {

// Sets what no public operation reaches directly.
class AppStateTestAccess {
public:
    static void setConnectionState(AppState& s, ConnectionState c) { s.setConnectionState(c); }
    static void setConnectedAt(AppState& s, std::optional<QDateTime> at) { s.setConnectedAt(at); }
    static void setEndpoints(AppState& s, QList<Endpoint> e) { s.setEndpoints(std::move(e)); }
    static void setToken(AppState& s, std::optional<QString> token) { s.m_token = token; }
};

namespace test {

inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
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
