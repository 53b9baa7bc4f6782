#include "Ticket.h"

#include "APIRouteRecords.h"
#include "StateText.h"

namespace orvane {

Ticket Ticket::fromAPI(const APITicket& api) {
    Ticket ticket;
    ticket.id = api.id;
    ticket.title = api.title;
    ticket.status = api.status;
    ticket.createdAt = StateText::shortDateText(api.createdAt);
    return ticket;
}

} // namespace orvane
