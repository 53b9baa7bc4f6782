#pragma once

#include <QObject>

class QWidget;

namespace orvane {

// Writes one line, "first-paint", to standard output when the widget first paints, so a
// benchmark outside the process can time the start-up. Removes itself afterwards.
class FirstPaintMarker : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kArgument = "--orvane-first-paint-marker";

    explicit FirstPaintMarker(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace orvane
