#pragma once

#include <QAbstractButton>

namespace orvane {

// The round one-click button: 178 px, blue while connected, near-black otherwise.
class ConnectButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ConnectButton(QWidget* parent = nullptr);

    void setConnected(bool connected);
    bool isConnectedLook() const { return m_connected; }

    QSize sizeHint() const override { return {178, 178}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_connected = false;
};

} // namespace orvane
