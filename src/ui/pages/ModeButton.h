#pragma once

#include <QAbstractButton>

namespace orvane {

// One of a row of equal choices: heavy 12 px text in an outlined 8 px rounded box, at least
// 38 px high; the current one is white on near-black.
class ModeButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ModeButton(const QString& text, QWidget* parent = nullptr);

    void setCurrent(bool current);
    bool isCurrent() const { return m_current; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_current = false;
};

} // namespace orvane
