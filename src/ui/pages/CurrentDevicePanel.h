#pragma once

#include "PanelFrame.h"

namespace orvane {

class AppState;
class FitLabel;
class MetricCard;

// This machine as a device of the account: its name, the refresh, and four figures.
class CurrentDevicePanel : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 276;

    explicit CurrentDevicePanel(AppState& state, QWidget* parent = nullptr);

    QString nameText() const;
    QString figuresText() const;

private:
    void refresh();

    AppState& m_state;
    FitLabel* m_name;
    MetricCard* m_system;
    MetricCard* m_version;
    MetricCard* m_status;
    MetricCard* m_lastLogin;
};

} // namespace orvane
