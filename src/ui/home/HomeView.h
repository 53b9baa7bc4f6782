#pragma once

#include "ConnectionPanel.h"

#include <QWidget>

namespace orvane {

class AppState;
class RightRail;

// The first page: the connection panel beside the 312 px right rail.
class HomeView : public QWidget {
    Q_OBJECT
public:
    explicit HomeView(AppState& state, ConnectionPanel::Clock now = {},
                      QWidget* parent = nullptr);

    ConnectionPanel* connectionPanel() const { return m_panel; }
    RightRail* rightRail() const { return m_rail; }

private:
    ConnectionPanel* m_panel;
    RightRail* m_rail;
};

} // namespace orvane
