#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace orvane {

// A capsule label: heavy text on a filled capsule, at least 30 px high. Given a maximum width,
// it keeps to it and elides its text.
class Pill : public QWidget {
    Q_OBJECT
public:
    // The pill at the trailing edge of a page's header, which holds a plan name of any length.
    static constexpr int kHeaderMaximumWidth = 180;

    Pill(const QString& text, const QColor& tint, const QColor& background,
         QWidget* parent = nullptr);

    void setText(const QString& text);
    void setColors(const QColor& tint, const QColor& background);
    QString text() const { return m_text; }
    // Defaults: 12 px text, 12 px side padding, 30 px high, no minimum width.
    void setMetrics(int pixelSize, int padding, int minHeight, int minWidth);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_tint;
    QColor m_background;
    int m_pixelSize = 12;
    int m_padding = 12;
    int m_minHeight = 30;
    int m_minWidth = 0;
};

} // namespace orvane
