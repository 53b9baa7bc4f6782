#pragma once

#include <QAbstractButton>

namespace orvane {

// An on/off switch: a capsule track with a round knob, blue when on.
class SwitchButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchButton(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {44, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvane
