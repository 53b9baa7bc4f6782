#include "Plan.h"

#include "APIAccountRecords.h"
#include "StateText.h"

namespace orvane {

namespace {

QString purchaseAction(const QString& id, const QString& name) {
    if (id == u"monthly") {
        return QStringLiteral("开通月费");
    }
    if (id == u"quarterly") {
        return QStringLiteral("开通季度");
    }
    if (id == u"yearly") {
        return QStringLiteral("开通年费");
    }
    return QStringLiteral("开通") + QString(name).remove(QStringLiteral("套餐"));
}

QString planDetail(qint64 durationDays, qint64 maxDevices) {
    return QString::number(durationDays) + QStringLiteral(" 天有效期，支持 ") +
           QString::number(maxDevices) + QStringLiteral(" 台设备。");
}

Plan makePlan(const QString& id, const QString& name, double price, qint64 durationDays,
              qint64 maxDevices, bool featured) {
    Plan plan;
    plan.id = id;
    plan.name = name;
    plan.price = StateText::fixed(price, 2);
    plan.detail = planDetail(durationDays, maxDevices);
    plan.action = purchaseAction(id, name);
    plan.featured = featured;
    return plan;
}

} // namespace

Plan Plan::fromAPI(const APIPlan& api, bool featured) {
    return makePlan(api.id, api.name, api.price, api.durationDays, api.maxDevices, featured);
}

const QList<Plan>& placeholderPlans() {
    static const QList<Plan> plans{
        makePlan(QStringLiteral("monthly"), QStringLiteral("月费套餐"), 29.99, 30, 3, false),
        makePlan(QStringLiteral("quarterly"), QStringLiteral("季度费套餐"), 99.99, 90, 5, true),
        makePlan(QStringLiteral("yearly"), QStringLiteral("年费套餐"), 299.99, 365, 5, false),
    };
    return plans;
}

} // namespace orvane
