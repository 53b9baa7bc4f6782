#pragma once

#include <QColor>
#include <QWidget>

class QPainter;

namespace orvane {

// The card look: white, a 1 px outline on an 8 px rounded rectangle, children clipped to it,
// and optionally the soft drop shadow of a panel.
class PanelFrame : public QWidget {
    Q_OBJECT
public:
    explicit PanelFrame(bool shadow, QWidget* parent = nullptr);

    void setColors(const QColor& fill, const QColor& outline);

    // The card shape every boxed widget paints: 1 px outline, 8 px corners, inside `box`.
    static void paintCard(QPainter& painter, const QRect& box, const QColor& fill,
                          const QColor& outline);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_outline;
};

} // namespace orvane
