#pragma once

#include "PanelFrame.h"

#include <QList>

namespace orvane {

class AppState;
class CapsuleButton;
class ContentScrollArea;
class NodeRow;

// The current line: the visible nodes with the selected one highlighted, a refresh button
// and the expand button. Rows are updated in place.
class NodePanel : public PanelFrame {
    Q_OBJECT
public:
    explicit NodePanel(AppState& state, QWidget* parent = nullptr);

    QList<NodeRow*> rows() const;
    CapsuleButton* expandButton() const { return m_expand; }
    CapsuleButton* refreshButton() const { return m_refresh; }
    ContentScrollArea* scrollArea() const { return m_scroll; }

private:
    void refreshRows();

    AppState& m_state;
    CapsuleButton* m_refresh;
    CapsuleButton* m_expand;
    ContentScrollArea* m_scroll;
    QWidget* m_rowsBox;
    QList<NodeRow*> m_rows;
};

} // namespace orvane
