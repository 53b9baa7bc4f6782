#pragma once

#include "Device.h"
#include "PanelFrame.h"

namespace orvane {

class CapsuleButton;
class FitLabel;

// One bound device: platform, name and whether it is connected, with its button ("解绑", or
// a disabled "当前" for this machine). Updated in place.
class DeviceRow : public PanelFrame {
    Q_OBJECT
public:
    explicit DeviceRow(QWidget* parent = nullptr);

    void setDevice(const Device& device);
    const Device& device() const { return m_device; }
    CapsuleButton* button() const { return m_button; }
    QString connectionText() const;

signals:
    void actionClicked(const Device& device);

private:
    Device m_device;
    FitLabel* m_platform;
    FitLabel* m_name;
    FitLabel* m_connection;
    CapsuleButton* m_button;
};

} // namespace orvane
