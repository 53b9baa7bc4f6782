#pragma once

#include "PanelFrame.h"

#include <QList>

namespace orvane {

class AppState;
class CapsuleButton;
class ContentScrollArea;
class LogRow;

// The newest log entries, newest first, in a scroll area that keeps a usable height.
class LogPanel : public PanelFrame {
    Q_OBJECT
public:
    explicit LogPanel(AppState& state, QWidget* parent = nullptr);

    QList<LogRow*> rows() const;
    CapsuleButton* expandButton() const { return m_expand; }

    QSize sizeHint() const override;
    // Its rows scroll, so its height never follows its width.
    bool hasHeightForWidth() const override { return false; }

private:
    void refreshRows();

    AppState& m_state;
    CapsuleButton* m_expand;
    ContentScrollArea* m_scroll;
    QWidget* m_rowsBox;
    QList<LogRow*> m_rows;
};

} // namespace orvane
