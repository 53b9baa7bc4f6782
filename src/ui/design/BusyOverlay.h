#pragma once

#include <QWidget>

namespace orvane {

// The busy indicator: a large spinner on a translucent rounded box. It covers only its own
// box; the window around it stays usable.
class BusyOverlay : public QWidget {
    Q_OBJECT
public:
    explicit BusyOverlay(QWidget* parent = nullptr);

    // Centres itself in its parent at its own size.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvane
