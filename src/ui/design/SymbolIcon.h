#pragma once

#include <QColor>
#include <QPainterPath>
#include <QWidget>

namespace orvane {

// Our own simple glyphs, drawn square and centred in whatever box they get.
class SymbolIcon : public QWidget {
    Q_OBJECT
public:
    enum class Kind { home, routes, cart, gift, person, xmark, checkmarkCircle };

    SymbolIcon(Kind kind, const QColor& color, QWidget* parent = nullptr);

    void setColor(const QColor& color);
    Kind kind() const { return m_kind; }

    // Draws `kind` into `box` in `color`.
    static void paint(QPainter& painter, Kind kind, const QRectF& box, const QColor& color);
    // The house: body with the door cut out and a roof band, filled even-odd.
    static QPainterPath homePath(const QRectF& box);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind m_kind;
    QColor m_color;
};

} // namespace orvane
