#pragma once

#include "PanelFrame.h"

namespace orvane {

class FitLabel;

// One entry of the settings panel: caption over a value of up to two lines, and a trailing
// control (a button or a switch) that the row only places.
class SettingsRow : public PanelFrame {
    Q_OBJECT
public:
    SettingsRow(const QString& title, const QString& value, QWidget* trailing,
                QWidget* parent = nullptr);

    void setValue(const QString& value);
    QString value() const;

private:
    FitLabel* m_value;
};

} // namespace orvane
