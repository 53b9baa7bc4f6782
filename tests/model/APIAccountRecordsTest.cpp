#include "APIAccountRecords.h"
#include "DecodingError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <ostream>

using namespace orvane;

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using Kind = DecodingError::Kind;

template <typename T> T decode(const char* body) {
    return json::decodeBody<T>(QByteArray(body));
}

template <typename T> DecodingError decodeFailure(const char* body) {
    try {
        (void)decode<T>(body);
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoded without error: " << body;
    return DecodingError(Kind::dataCorrupted, {}, {});
}

QJsonObject parsedObject(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_TRUE(document.isObject()) << json.toStdString();
    return document.object();
}

const char* const kFullUser = R"({"id":"u1","identity":"a@b.cn","email":"a@b.cn","phone":"138",
    "role":"user","status":"active","referralCode":"INV1","planName":"专业版",
    "subscriptionExpiredAt":"2025-09-01T00:00:00Z","remainingTrafficMb":2048,"maxDevices":3,
    "invitesTotal":4,"invitesPaid":1,"rewardDays":7})";

} // namespace

TEST(APIErrorResponseTest, EachFieldReadsOnlyItsOwnKey) {
    const auto both = decode<APIErrorResponse>(R"({"error":"坏了","message":"详情"})");
    EXPECT_EQ(both.error, QStringLiteral("坏了"));
    EXPECT_EQ(both.message, QStringLiteral("详情"));
    EXPECT_EQ(both.errorCode, std::nullopt);
    EXPECT_EQ(both.errorCodeSnake, std::nullopt);

    const auto snake = decode<APIErrorResponse>(R"({"error_code":"E1"})");
    EXPECT_EQ(snake.errorCodeSnake, QStringLiteral("E1"));
    EXPECT_EQ(snake.errorCode, std::nullopt);

    const auto codes = decode<APIErrorResponse>(R"({"errorCode":"A","error_code":"B"})");
    EXPECT_EQ(codes.errorCode, QStringLiteral("A"));
    EXPECT_EQ(codes.errorCodeSnake, QStringLiteral("B"));
}

TEST(APIErrorResponseTest, NullAndUnknownKeysAreAbsent) {
    const auto decoded =
        decode<APIErrorResponse>(R"({"error":null,"message":"m","detail":{"x":1}})");
    EXPECT_EQ(decoded, (APIErrorResponse{std::nullopt, QStringLiteral("m"), {}, {}}));
    EXPECT_EQ(decode<APIErrorResponse>("{}"), APIErrorResponse{});
}

TEST(APIErrorResponseTest, WrongTypedFieldFailsTheBody) {
    const auto error = decodeFailure<APIErrorResponse>(R"({"error":"x","message":42})");
    EXPECT_EQ(error.kind(), Kind::typeMismatch);
    EXPECT_EQ(error.codingPath(), QStringList{QStringLiteral("message")});
    // Not an object at all.
    EXPECT_EQ(decodeFailure<APIErrorResponse>(R"(["error"])").kind(), Kind::typeMismatch);
}

TEST(APIOkResponseTest, OkIsRequired) {
    EXPECT_TRUE(decode<APIOkResponse>(R"({"ok":true})").ok);
    EXPECT_FALSE(decode<APIOkResponse>(R"({"ok":false,"extra":1})").ok);
    EXPECT_EQ(decodeFailure<APIOkResponse>("{}").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIOkResponse>(R"({"ok":null})").kind(), Kind::valueNotFound);
    EXPECT_EQ(decodeFailure<APIOkResponse>(R"({"ok":1})").kind(), Kind::typeMismatch);
}

TEST(APIVerificationCodeResponseTest, DecodesWithAndWithoutDebugCode) {
    const auto full = decode<APIVerificationCodeResponse>(
        R"({"ok":true,"channel":"email","expiresInMinutes":10,"message":"验证码已发送",
            "debugCode":"123456"})");
    EXPECT_EQ(full, (APIVerificationCodeResponse{true, QStringLiteral("email"), 10,
                                                 QStringLiteral("验证码已发送"),
                                                 QStringLiteral("123456")}));

    const auto nullCode = decode<APIVerificationCodeResponse>(
        R"({"ok":true,"channel":"email","expiresInMinutes":5,"message":"m","debugCode":null})");
    EXPECT_EQ(nullCode.debugCode, std::nullopt);
}

TEST(APIVerificationCodeResponseTest, EveryRequiredFieldFailsWhenMissingOrNull) {
    const QJsonObject complete{
        {"ok", true}, {"channel", "email"}, {"expiresInMinutes", 10}, {"message", "m"}};
    for (const QString& key : complete.keys()) {
        SCOPED_TRACE(key.toStdString());
        QJsonObject missing = complete;
        missing.remove(key);
        const QByteArray missingBody = QJsonDocument(missing).toJson();
        auto error = decodeFailure<APIVerificationCodeResponse>(missingBody.constData());
        EXPECT_EQ(error.kind(), Kind::keyNotFound);
        EXPECT_EQ(error.codingPath(), QStringList{key});

        QJsonObject nulled = complete;
        nulled.insert(key, QJsonValue::Null);
        const QByteArray nulledBody = QJsonDocument(nulled).toJson();
        error = decodeFailure<APIVerificationCodeResponse>(nulledBody.constData());
        EXPECT_EQ(error.kind(), Kind::valueNotFound);
    }
}

TEST(APIVerificationCodeResponseTest, FractionalMinutesAreNotAnInteger) {
    const auto error = decodeFailure<APIVerificationCodeResponse>(
        R"({"ok":true,"channel":"email","expiresInMinutes":2.5,"message":"m"})");
    EXPECT_EQ(error.kind(), Kind::dataCorrupted);
    EXPECT_EQ(error.codingPath(), QStringList{QStringLiteral("expiresInMinutes")});
}

TEST(APIAuthResponseTest, DecodesTokenAndFullUser) {
    const QByteArray body = QByteArray(R"({"token":"tok","user":)") + kFullUser + "}";
    const auto auth = json::decodeBody<APIAuthResponse>(body);
    EXPECT_EQ(auth.token, QStringLiteral("tok"));
    const APIUser expected{QStringLiteral("u1"),
                           QStringLiteral("a@b.cn"),
                           QStringLiteral("a@b.cn"),
                           QStringLiteral("138"),
                           QStringLiteral("user"),
                           QStringLiteral("active"),
                           QStringLiteral("INV1"),
                           QStringLiteral("专业版"),
                           QStringLiteral("2025-09-01T00:00:00Z"),
                           2048,
                           3,
                           4,
                           1,
                           7};
    EXPECT_EQ(auth.user, expected);
}

TEST(APIAuthResponseTest, MinimalUserLeavesOptionalsAbsent) {
    const auto me = decode<APIMeResponse>(
        R"({"user":{"id":"u1","identity":"a@b.cn","role":"user","status":"active",
            "planName":"免费版","maxDevices":1,"email":null,"remainingTrafficMb":null,
            "referral_code":"snake spelling is not read"}})");
    EXPECT_EQ(me.user.planName, QStringLiteral("免费版"));
    EXPECT_EQ(me.user.maxDevices, 1);
    EXPECT_EQ(me.user.email, std::nullopt);
    EXPECT_EQ(me.user.phone, std::nullopt);
    EXPECT_EQ(me.user.referralCode, std::nullopt);
    EXPECT_EQ(me.user.subscriptionExpiredAt, std::nullopt);
    EXPECT_EQ(me.user.remainingTrafficMb, std::nullopt);
    EXPECT_EQ(me.user.invitesTotal, std::nullopt);
    EXPECT_EQ(me.user.invitesPaid, std::nullopt);
    EXPECT_EQ(me.user.rewardDays, std::nullopt);
}

TEST(APIAuthResponseTest, MissingRequiredUserFieldFailsTheLoginAnswer) {
    const QJsonObject user = QJsonDocument::fromJson(kFullUser).object();
    ASSERT_FALSE(user.isEmpty());
    for (const char* key : {"id", "identity", "role", "status", "planName", "maxDevices"}) {
        SCOPED_TRACE(key);
        QJsonObject incomplete = user;
        incomplete.remove(QString::fromLatin1(key));
        const QByteArray body =
            QJsonDocument(QJsonObject{{"token", "t"}, {"user", incomplete}}).toJson();
        const auto error = decodeFailure<APIAuthResponse>(body.constData());
        EXPECT_EQ(error.kind(), Kind::keyNotFound);
        EXPECT_EQ(error.codingPath(),
                  (QStringList{QStringLiteral("user"), QString::fromLatin1(key)}));
    }
    EXPECT_EQ(decodeFailure<APIAuthResponse>(R"({"token":"t"})").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIAuthResponse>(R"({"token":"t","user":null})").kind(),
              Kind::valueNotFound);
    EXPECT_EQ(decodeFailure<APIMeResponse>("{}").kind(), Kind::keyNotFound);
}

TEST(APIAuthResponseTest, WrongTypedOptionalUserFieldFailsTheAnswer) {
    QJsonObject user = QJsonDocument::fromJson(kFullUser).object();
    user.insert(QStringLiteral("remainingTrafficMb"), QStringLiteral("2048"));
    const QByteArray body = QJsonDocument(QJsonObject{{"token", "t"}, {"user", user}}).toJson();
    const auto error = decodeFailure<APIAuthResponse>(body.constData());
    EXPECT_EQ(error.kind(), Kind::typeMismatch);
    EXPECT_EQ(error.codingPath(),
              (QStringList{QStringLiteral("user"), QStringLiteral("remainingTrafficMb")}));
}

TEST(APIPlansResponseTest, DecodesPlansInOrder) {
    const auto response = decode<APIPlansResponse>(
        R"({"plans":[{"id":"p1","name":"月付","price":19.9,"currency":"CNY","durationDays":30,
                      "maxDevices":3},
                     {"id":"p2","name":"年付","price":199,"durationDays":365,"maxDevices":5}]})");
    ASSERT_EQ(response.plans.size(), 2);
    EXPECT_EQ(response.plans[0], (APIPlan{QStringLiteral("p1"), QStringLiteral("月付"), 19.9,
                                          QStringLiteral("CNY"), 30, 3}));
    EXPECT_EQ(response.plans[1].price, 199.0);
    EXPECT_EQ(response.plans[1].currency, std::nullopt);
    EXPECT_TRUE(decode<APIPlansResponse>(R"({"plans":[]})").plans.isEmpty());
}

TEST(APIPlansResponseTest, OneMalformedPlanFailsTheList) {
    auto error = decodeFailure<APIPlansResponse>(
        R"({"plans":[{"id":"p1","name":"a","price":1,"durationDays":30,"maxDevices":3},
                     {"id":"p2","name":"b","price":"9.9","durationDays":30,"maxDevices":3}]})");
    EXPECT_EQ(error.kind(), Kind::typeMismatch);
    EXPECT_EQ(error.codingPath(), (QStringList{QStringLiteral("plans"), QStringLiteral("Index 1"),
                                               QStringLiteral("price")}));

    error = decodeFailure<APIPlansResponse>(
        R"({"plans":[{"id":"p1","name":"a","price":1,"maxDevices":3}]})");
    EXPECT_EQ(error.kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIPlansResponse>("{}").kind(), Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<APIPlansResponse>(R"({"plans":{}})").kind(), Kind::typeMismatch);
}

TEST(APIOrderTest, SpellingsAndDefaults) {
    struct Case {
        const char* name;
        const char* body;
        APIOrder expected;
    };
    const Case cases[] = {
        {"camel case",
         R"({"id":"o1","planId":"p1","planName":"月付","amount":19.9,"currency":"USD",
             "paymentMethod":"alipay","paymentStatus":"paid","createdAt":"c","paidAt":"d"})",
         {"o1", "p1", QStringLiteral("月付"), 19.9, "USD", QStringLiteral("alipay"), "paid",
          QStringLiteral("c"), QStringLiteral("d")}},
        {"snake case",
         R"({"id":"o2","plan_id":"p2","plan_name":"年付","amount":1,"payment_method":"wx",
             "payment_status":"failed","created_at":"c2","paid_at":"d2"})",
         {"o2", "p2", QStringLiteral("年付"), 1, "CNY", QStringLiteral("wx"), "failed",
          QStringLiteral("c2"), QStringLiteral("d2")}},
        {"camel case wins over snake case",
         R"({"id":"o3","planId":"camel","plan_id":"snake","paymentStatus":"paid",
             "payment_status":"pending"})",
         {"o3", "camel", QStringLiteral("套餐"), 0, "CNY", std::nullopt, "paid", std::nullopt,
          std::nullopt}},
        {"null camel case falls through to snake case",
         R"({"id":"o4","planId":null,"plan_id":"snake","paidAt":null,"paid_at":"d4"})",
         {"o4", "snake", QStringLiteral("套餐"), 0, "CNY", std::nullopt, "pending", std::nullopt,
          QStringLiteral("d4")}},
        {"only the id",
         R"({"id":"o5"})",
         {"o5", "", QStringLiteral("套餐"), 0, "CNY", std::nullopt, "pending", std::nullopt,
          std::nullopt}},
        {"nulls count as absent",
         R"({"id":"o6","planName":null,"amount":null,"currency":null,"paymentStatus":null})",
         {"o6", "", QStringLiteral("套餐"), 0, "CNY", std::nullopt, "pending", std::nullopt,
          std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode<APIOrder>(c.body), c.expected);
    }
}

TEST(APIOrderTest, WrongTypedFieldFailsAndIdIsRequired) {
    const struct {
        const char* body;
        Kind kind;
    } cases[] = {
        {R"({"planId":"p"})", Kind::keyNotFound},
        {R"({"id":null})", Kind::valueNotFound},
        {R"({"id":7})", Kind::typeMismatch},
        {R"({"id":"o","amount":"19.9"})", Kind::typeMismatch},
        // A wrong-typed camel spelling is not skipped in favour of the snake one.
        {R"({"id":"o","planName":1,"plan_name":"ok"})", Kind::typeMismatch},
        {R"({"id":"o","paidAt":false})", Kind::typeMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(decodeFailure<APIOrder>(c.body).kind(), c.kind);
    }
}

TEST(APIOrdersResponseTest, OneMalformedOrderFailsTheList) {
    const auto ok = decode<APIOrdersResponse>(R"({"orders":[{"id":"a"},{"id":"b"}]})");
    ASSERT_EQ(ok.orders.size(), 2);
    EXPECT_EQ(ok.orders[1].id, QStringLiteral("b"));

    const auto error =
        decodeFailure<APIOrdersResponse>(R"({"orders":[{"id":"a"},{"plan_id":"p"}]})");
    EXPECT_EQ(error.kind(), Kind::keyNotFound);
    EXPECT_EQ(error.codingPath(), (QStringList{QStringLiteral("orders"), QStringLiteral("Index 1"),
                                               QStringLiteral("id")}));
    EXPECT_EQ(decodeFailure<APIOrdersResponse>(R"({"orders":null})").kind(), Kind::valueNotFound);
}

TEST(APIAccountRequestsTest, KeysInOrder) {
    EXPECT_EQ(encodeJSON(APIIdentityRequest{QStringLiteral("a@b.cn")}),
              QByteArray(R"({"identity":"a@b.cn"})"));
    EXPECT_EQ(encodeJSON(APILoginRequest{QStringLiteral("a@b.cn"), QStringLiteral("pw")}),
              QByteArray(R"({"identity":"a@b.cn","password":"pw"})"));
    EXPECT_EQ(encodeJSON(APIRegisterRequest{QStringLiteral("a@b.cn"), QStringLiteral("pw"),
                                            QStringLiteral("123456"), QStringLiteral("INV")}),
              QByteArray(R"({"identity":"a@b.cn","password":"pw","verificationCode":"123456",)"
                         R"("inviteCode":"INV"})"));
}

TEST(APIAccountRequestsTest, RegistrationWithoutInviteCodeHasNoSuchKey) {
    const APIRegisterRequest request{QStringLiteral("a@b.cn"), QStringLiteral("pw"),
                                     QStringLiteral("123456"), std::nullopt};
    const QJsonObject object = parsedObject(encodeJSON(request));
    EXPECT_EQ(object.keys(), (QStringList{QStringLiteral("identity"), QStringLiteral("password"),
                                          QStringLiteral("verificationCode")}));
    EXPECT_FALSE(object.contains(QStringLiteral("inviteCode")));

    // An empty code is still a code: only absence leaves the key out.
    const APIRegisterRequest empty{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                   QString()};
    EXPECT_EQ(parsedObject(encodeJSON(empty)).value(QStringLiteral("inviteCode")),
              QJsonValue(QString()));
}

TEST(APIAccountRequestsTest, TextsSurviveEscaping) {
    const QString password = QStringLiteral("p\"w\\d\n密码");
    const QJsonObject object =
        parsedObject(encodeJSON(APILoginRequest{QStringLiteral("用户@例子.中国"), password}));
    EXPECT_EQ(object.value(QStringLiteral("identity")).toString(),
              QStringLiteral("用户@例子.中国"));
    EXPECT_EQ(object.value(QStringLiteral("password")).toString(), password);
}
