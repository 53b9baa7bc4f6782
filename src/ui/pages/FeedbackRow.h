#pragma once

#include "FeedbackForm.h"
#include "TicketList.h"

#include <QPointer>
#include <QWidget>

namespace orvane {

class AppState;
class CapsuleButton;
class ClickableCard;

// The feedback section of the settings page: a header row that expands it, and while
// expanded a fresh ticket form beside the latest tickets.
class FeedbackRow : public QWidget {
    Q_OBJECT
public:
    explicit FeedbackRow(AppState& state, QWidget* parent = nullptr);

    ClickableCard* header() const { return m_header; }
    FeedbackForm* form() const { return m_form; }
    TicketList* ticketList() const { return m_tickets; }

private:
    void refresh();

    AppState& m_state;
    ClickableCard* m_header;
    CapsuleButton* m_toggle;
    QPointer<QWidget> m_body;
    QPointer<FeedbackForm> m_form;
    QPointer<TicketList> m_tickets;
};

} // namespace orvane
