#pragma once

#include <QAbstractButton>

namespace orvane {

// The small round "?" that opens a help popover.
class HelpButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit HelpButton(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {18, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvane
