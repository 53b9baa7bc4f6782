#pragma once

#include <QString>

class QHBoxLayout;
class QWidget;

namespace orvane {

// The head of a side panel: a small muted caption over its title, a button at the top right.
class PanelHeading {
public:
    static QHBoxLayout* make(QWidget* owner, const QString& caption, const QString& title,
                             QWidget* trailing);
};

} // namespace orvane
