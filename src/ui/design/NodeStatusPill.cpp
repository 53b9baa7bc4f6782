#include "NodeStatusPill.h"

#include "Palette.h"

namespace orvane {

NodeStatusPill::NodeStatusPill(NodeStatus status, QWidget* parent)
    : Pill(QString(), Palette::green(), Palette::greenSoft(), parent) {
    setMetrics(11, 8, 24, 52);
    setStatus(status);
}

void NodeStatusPill::setStatus(NodeStatus status) {
    setText(rawValue(status));
    if (status == NodeStatus::checking) {
        setColors(Palette::orange(), Palette::orangeSoft());
    } else {
        setColors(Palette::green(), Palette::greenSoft());
    }
}

} // namespace orvane
