#include "HomeView.h"

#include "RightRail.h"

#include <QHBoxLayout>

namespace orvane {

HomeView::HomeView(AppState& state, ConnectionPanel::Clock now, QWidget* parent)
    : QWidget(parent), m_panel(new ConnectionPanel(state, std::move(now), this)),
      m_rail(new RightRail(state, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(m_panel, 1);
    layout->addWidget(m_rail, 0);
}

} // namespace orvane
