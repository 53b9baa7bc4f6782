#include "Order.h"

#include "APIAccountRecords.h"
#include "StateText.h"

namespace orvane {

Order Order::fromAPI(const APIOrder& api) {
    Order order;
    order.id = api.id;
    order.title = api.planName;
    order.status = api.paymentStatus;
    order.amount = StateText::fixed(api.amount, 2) + u' ' + api.currency;
    return order;
}

} // namespace orvane
