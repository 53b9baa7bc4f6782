#pragma once

#include "PanelFrame.h"

namespace orvane {

class AppState;

// The account's three most recent tickets, or "暂无工单记录".
class TicketList : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kShownTickets = 3;
    static constexpr int kMinimumHeight = 238;

    explicit TicketList(AppState& state, QWidget* parent = nullptr);

    // The titles of the rows shown.
    QStringList shownTitles() const;
    QWidget* emptyBox() const { return m_empty; }

private:
    void refresh();

    AppState& m_state;
    QWidget* m_empty;
    QWidget* m_rows;
};

} // namespace orvane
