#pragma once

#include <QList>
#include <QWidget>

namespace orvane {

class AdaptiveGridLayout;
class AppState;
class ContentScrollArea;
class FitLabel;
class ModeButton;
class RouteEndpointCard;

// The routes page: every node as a card in an adaptive grid, the outbound mode and the
// node refresh. Cards are updated in place; one may be the card being clicked.
class RoutesView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumCardWidth = 260;
    static constexpr int kGridSpacing = 12;

    explicit RoutesView(AppState& state, QWidget* parent = nullptr);

    QList<RouteEndpointCard*> cards() const;
    const QList<ModeButton*>& modeButtons() const { return m_modes; }
    QWidget* emptyBox() const { return m_empty; }
    AdaptiveGridLayout* grid() const { return m_grid; }
    QString summaryText() const;

private:
    void refreshModes();
    void refreshNodes();

    AppState& m_state;
    ContentScrollArea* m_scroll;
    FitLabel* m_modeValue;
    FitLabel* m_nodeValue;
    FitLabel* m_latencyValue;
    QList<ModeButton*> m_modes;
    QWidget* m_empty;
    QWidget* m_gridBox;
    AdaptiveGridLayout* m_grid;
    QList<RouteEndpointCard*> m_cards;
};

} // namespace orvane
