#pragma once

#include <QString>

namespace orvane {

struct APIOrder;

struct Order {
    QString id;
    QString title;
    QString status;
    QString amount; // "29.90 CNY"

    static Order fromAPI(const APIOrder& api);

    friend bool operator==(const Order&, const Order&) = default;
};

} // namespace orvane
