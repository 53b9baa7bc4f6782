#pragma once

#include <QAbstractButton>
#include <QColor>

namespace orvane {

// A button that is only its text, in a given size and colour.
class PlainTextButton : public QAbstractButton {
    Q_OBJECT
public:
    PlainTextButton(const QString& text, int pixelSize, const QColor& color,
                    QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_pixelSize;
    QColor m_color;
};

} // namespace orvane
