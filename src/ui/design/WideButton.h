#pragma once

#include <QAbstractButton>
#include <QColor>

namespace orvane {

// A full-width 46 px button of heavy 17 px text on a filled, outlined rounded rectangle.
class WideButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit WideButton(QWidget* parent = nullptr);

    void setLook(const QString& text, const QColor& textColor, const QColor& fill);
    QColor fill() const { return m_fill; }
    QColor textColor() const { return m_textColor; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_textColor;
    QColor m_fill;
};

} // namespace orvane
