#pragma once

#include <QAbstractButton>

namespace orvane {

// The two capsule buttons: primary (white on black) and secondary (ink on white, outlined).
// Never a dialog's default button, so Return in a field does not press it.
class CapsuleButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Style { primary, secondary };

    CapsuleButton(const QString& text, Style style, QWidget* parent = nullptr);

    void setStyle(Style style);
    Style style() const { return m_style; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style m_style;
};

} // namespace orvane
