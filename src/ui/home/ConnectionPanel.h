#pragma once

#include "StateEnumerations.h"

#include <QDateTime>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

namespace orvane {

class AppState;
class ConnectButton;
class FitLabel;
class MetricCard;
class Pill;
class SegmentedControl;

// The home page's left column: the state in large type, the plan, the two home modes, the
// round connect button, the note and four metric cards, one counting the connection time.
class ConnectionPanel : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    // `now` reads the time the duration counts to; the real clock when empty.
    explicit ConnectionPanel(AppState& state, Clock now = {}, QWidget* parent = nullptr);

    // "mm:ss" from `connectedAt` to `now`; minutes run past 59, a future start reads 00:00.
    static QString durationText(const std::optional<QDateTime>& connectedAt,
                                const QDateTime& now);
    static QString connectButtonTitle(const ConnectionState& state);
    static const QList<OutboundMode>& homeModes();

    ConnectButton* connectButton() const { return m_connect; }
    SegmentedControl* modeControl() const { return m_modes; }
    MetricCard* durationCard() const { return m_duration; }
    MetricCard* latencyCard() const { return m_latency; }

    // The once-a-second refresh of the duration card.
    void tick();

private:
    void refreshConnection();
    void refreshEndpoint();
    void refreshAccount();
    void refreshModes();

    AppState& m_state;
    Clock m_now;
    FitLabel* m_status;
    Pill* m_plan;
    SegmentedControl* m_modes;
    ConnectButton* m_connect;
    FitLabel* m_note;
    MetricCard* m_node;
    MetricCard* m_latency;
    MetricCard* m_access;
    MetricCard* m_duration;
    QTimer m_timer;
};

} // namespace orvane
