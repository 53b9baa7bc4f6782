#pragma once

#include "PanelFrame.h"

#include <QList>

namespace orvane {

class AppState;
class CapsuleButton;
class DeviceRow;
class FitLabel;

// The account's devices with the plan's usage; any device but this machine can be unbound.
// Rows are updated in place: one may be the row being clicked.
class BoundDevicesPanel : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 276;

    explicit BoundDevicesPanel(AppState& state, QWidget* parent = nullptr);

    QList<DeviceRow*> rows() const;
    CapsuleButton* expandButton() const { return m_expand; }
    QString usageText() const;

private:
    void refresh();

    AppState& m_state;
    FitLabel* m_usage;
    QWidget* m_rowsBox;
    QList<DeviceRow*> m_rows;
    CapsuleButton* m_expand;
};

} // namespace orvane
