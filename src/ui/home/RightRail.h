#pragma once

#include <QWidget>

namespace orvane {

class AIEnhancedModeCard;
class AppState;
class LogPanel;
class NodePanel;

// The home page's 312 px column: nodes, the log taking the height left, the AI card.
class RightRail : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 312;

    explicit RightRail(AppState& state, QWidget* parent = nullptr);

    NodePanel* nodePanel() const { return m_nodes; }
    LogPanel* logPanel() const { return m_logs; }
    AIEnhancedModeCard* aiCard() const { return m_ai; }

private:
    NodePanel* m_nodes;
    LogPanel* m_logs;
    AIEnhancedModeCard* m_ai;
};

} // namespace orvane
