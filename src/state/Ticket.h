#pragma once

#include <QString>

namespace orvane {

struct APITicket;

struct Ticket {
    QString id;
    QString title;
    QString status;
    QString createdAt; // "MM-dd"

    static Ticket fromAPI(const APITicket& api);

    friend bool operator==(const Ticket&, const Ticket&) = default;
};

} // namespace orvane
