#pragma once

#include <QList>
#include <QString>

namespace orvane {

struct APIPlan;

// One subscription plan with texts ready to show.
struct Plan {
    QString id;
    QString name;
    QString price; // two decimals, no currency
    QString detail;
    QString action;
    bool featured = false;

    static Plan fromAPI(const APIPlan& api, bool featured);

    friend bool operator==(const Plan&, const Plan&) = default;
};

// Shown before the first plan list arrives.
const QList<Plan>& placeholderPlans();

} // namespace orvane
