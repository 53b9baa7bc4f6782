#pragma once

#include <QAbstractButton>
#include <QColor>

namespace orvane {

// A card that is one button: it paints its rounded background and outline, its children
// let the mouse through, so a click anywhere on it counts.
class ClickableCard : public QAbstractButton {
    Q_OBJECT
public:
    explicit ClickableCard(QWidget* parent = nullptr);

    void setColors(const QColor& fill, const QColor& outline);
    void setRadius(double radius);
    // Call once the content is built: every child but a button lets the mouse through to
    // the card.
    void letClicksThrough();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill = Qt::transparent;
    QColor m_outline = Qt::transparent;
    double m_radius = 8;
};

} // namespace orvane
