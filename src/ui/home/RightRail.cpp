#include "RightRail.h"

#include "AIEnhancedModeCard.h"
#include "LogPanel.h"
#include "NodePanel.h"

#include <QVBoxLayout>

namespace orvane {

RightRail::RightRail(AppState& state, QWidget* parent)
    : QWidget(parent), m_nodes(new NodePanel(state, this)), m_logs(new LogPanel(state, this)),
      m_ai(new AIEnhancedModeCard(state, this)) {
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    // The nodes ask for their full list but give way to the log's floor; the log takes
    // whatever is left.
    layout->addWidget(m_nodes, 0);
    layout->addWidget(m_logs, 1);
    layout->addWidget(m_ai, 0);
}

} // namespace orvane
