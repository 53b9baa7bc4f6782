#include "APIAccountRecords.h"

namespace orvane {

APIErrorResponse APIErrorResponse::decode(const JSONObjectReader& r) {
    APIErrorResponse o;
    o.error = r.optional<QString>({"error"});
    o.message = r.optional<QString>({"message"});
    o.errorCode = r.optional<QString>({"errorCode"});
    o.errorCodeSnake = r.optional<QString>({"error_code"});
    return o;
}

APIOkResponse APIOkResponse::decode(const JSONObjectReader& r) {
    APIOkResponse o;
    o.ok = r.required<bool>("ok");
    return o;
}

void APIIdentityRequest::encode(JSONObjectWriter& w) const {
    w.field("identity", identity);
}

APIVerificationCodeResponse APIVerificationCodeResponse::decode(const JSONObjectReader& r) {
    APIVerificationCodeResponse o;
    o.ok = r.required<bool>("ok");
    o.channel = r.required<QString>("channel");
    o.expiresInMinutes = r.required<qint64>("expiresInMinutes");
    o.message = r.required<QString>("message");
    o.debugCode = r.optional<QString>({"debugCode"});
    return o;
}

void APIRegisterRequest::encode(JSONObjectWriter& w) const {
    w.field("identity", identity)
        .field("password", password)
        .field("verificationCode", verificationCode)
        .field("inviteCode", inviteCode);
}

void APILoginRequest::encode(JSONObjectWriter& w) const {
    w.field("identity", identity).field("password", password);
}

APIUser APIUser::decode(const JSONObjectReader& r) {
    APIUser o;
    o.id = r.required<QString>("id");
    o.identity = r.required<QString>("identity");
    o.email = r.optional<QString>({"email"});
    o.phone = r.optional<QString>({"phone"});
    o.role = r.required<QString>("role");
    o.status = r.required<QString>("status");
    o.referralCode = r.optional<QString>({"referralCode"});
    o.planName = r.required<QString>("planName");
    o.subscriptionExpiredAt = r.optional<QString>({"subscriptionExpiredAt"});
    o.remainingTrafficMb = r.optional<qint64>({"remainingTrafficMb"});
    o.maxDevices = r.required<qint64>("maxDevices");
    o.invitesTotal = r.optional<qint64>({"invitesTotal"});
    o.invitesPaid = r.optional<qint64>({"invitesPaid"});
    o.rewardDays = r.optional<qint64>({"rewardDays"});
    return o;
}

APIAuthResponse APIAuthResponse::decode(const JSONObjectReader& r) {
    APIAuthResponse o;
    o.token = r.required<QString>("token");
    o.user = r.required<APIUser>("user");
    return o;
}

APIMeResponse APIMeResponse::decode(const JSONObjectReader& r) {
    APIMeResponse o;
    o.user = r.required<APIUser>("user");
    return o;
}

APIPlan APIPlan::decode(const JSONObjectReader& r) {
    APIPlan o;
    o.id = r.required<QString>("id");
    o.name = r.required<QString>("name");
    o.price = r.required<double>("price");
    o.currency = r.optional<QString>({"currency"});
    o.durationDays = r.required<qint64>("durationDays");
    o.maxDevices = r.required<qint64>("maxDevices");
    return o;
}

APIPlansResponse APIPlansResponse::decode(const JSONObjectReader& r) {
    APIPlansResponse o;
    o.plans = r.required<QList<APIPlan>>("plans");
    return o;
}

APIOrder APIOrder::decode(const JSONObjectReader& r) {
    APIOrder o;
    o.id = r.required<QString>("id");
    o.planId = r.value<QString>({"planId", "plan_id"}, QString());
    o.planName = r.value<QString>({"planName", "plan_name"}, QStringLiteral("套餐"));
    o.amount = r.value<double>({"amount"}, 0);
    o.currency = r.value<QString>({"currency"}, QStringLiteral("CNY"));
    o.paymentMethod = r.optional<QString>({"paymentMethod", "payment_method"});
    o.paymentStatus =
        r.value<QString>({"paymentStatus", "payment_status"}, QStringLiteral("pending"));
    o.createdAt = r.optional<QString>({"createdAt", "created_at"});
    o.paidAt = r.optional<QString>({"paidAt", "paid_at"});
    return o;
}

APIOrdersResponse APIOrdersResponse::decode(const JSONObjectReader& r) {
    APIOrdersResponse o;
    o.orders = r.required<QList<APIOrder>>("orders");
    return o;
}

} // namespace orvane
