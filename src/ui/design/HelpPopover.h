#pragma once

#include <QWidget>

namespace orvane {

class FitLabel;

// A popup of wrapped help text, 284 px of text wide, opening above its anchor with its
// arrow on the bottom edge. A click outside closes it.
class HelpPopover : public QWidget {
    Q_OBJECT
public:
    HelpPopover(const QString& text, QWidget* parent = nullptr);

    // Shows it above `anchor`, the arrow at the anchor's centre.
    void popUpAbove(QWidget* anchor);

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    FitLabel* m_text;
    int m_arrowX = 0;
};

} // namespace orvane
