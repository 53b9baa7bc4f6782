#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "OrvaneAPIError.h"
#include "OrvaneRuntimeError.h"
#include "ProtocolKind.h"

#include <gtest/gtest.h>

using namespace orvane;

TEST(ProtocolKindTest, APISpellingsMapOntoKinds) {
    const struct {
        std::optional<QString> api;
        ProtocolKind kind;
    } cases[] = {
        {QStringLiteral("hysteria2"), ProtocolKind::hysteria2},
        {QStringLiteral("HY2"), ProtocolKind::hysteria2},
        {QStringLiteral("Hysteria"), ProtocolKind::hysteria2},
        {QStringLiteral("hy2"), ProtocolKind::hysteria2},
        {QStringLiteral("VLESS"), ProtocolKind::vless},
        {QStringLiteral(" vless"), ProtocolKind::unknown},
        {QStringLiteral("vmess"), ProtocolKind::unknown},
        {QString(), ProtocolKind::unknown},
        {std::nullopt, ProtocolKind::unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(protocolKindFromAPIValue(c.api), c.kind) << c.api.value_or(QStringLiteral("<none>")).toStdString();
    }
}

TEST(ProtocolKindTest, RawValuesAreExact) {
    EXPECT_EQ(allProtocolKinds(), (QList<ProtocolKind>{ProtocolKind::hysteria2, ProtocolKind::vless,
                                                       ProtocolKind::unknown}));
    for (ProtocolKind kind : allProtocolKinds()) {
        EXPECT_EQ(protocolKindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(protocolKindFromRawValue(QStringLiteral("HYSTERIA2")), std::nullopt);
    EXPECT_EQ(protocolKindFromRawValue(QStringLiteral("hy2")), std::nullopt);
}

TEST(ProtocolKindTest, CodesAsItsRawText) {
    EXPECT_EQ(json::decode<ProtocolKind>(QJsonValue(QStringLiteral("vless")), {}), ProtocolKind::vless);
    EXPECT_THROW(json::decode<ProtocolKind>(QJsonValue(QStringLiteral("hy2")), {}), DecodingError);
    EXPECT_THROW(json::decode<ProtocolKind>(QJsonValue(2), {}), DecodingError);
    QByteArray out;
    JSONObjectWriter::append(out, ProtocolKind::hysteria2);
    EXPECT_EQ(out, QByteArray("\"hysteria2\""));
}

TEST(ErrorTextTest, RuntimeErrorsDescribeThemselves) {
    EXPECT_EQ(OrvaneRuntimeError::deviceLimit(3, 3).localizedDescription(),
              QStringLiteral("已绑定设备 3/3，请先在设置中解绑不用的设备。"));
    EXPECT_EQ(OrvaneRuntimeError::connectionFailed(QStringLiteral("本地代理未响应")).localizedDescription(),
              QStringLiteral("本地代理未响应"));
    EXPECT_EQ(OrvaneRuntimeError::invalidEmail().localizedDescription(),
              QStringLiteral("请填写有效的邮箱地址。"));
    EXPECT_EQ(OrvaneRuntimeError::missingProtocolConfig().localizedDescription(),
              QStringLiteral("服务端没有返回可用协议配置。"));
    EXPECT_EQ(OrvaneRuntimeError::noDeviceSlots().localizedDescription(),
              QStringLiteral("当前套餐未开放设备绑定，请先开通或续费套餐。"));
    EXPECT_STREQ(OrvaneRuntimeError::invalidEmail().what(), "请填写有效的邮箱地址。");
}

TEST(ErrorTextTest, APIErrorsDescribeThemselves) {
    EXPECT_EQ(OrvaneAPIError::server(500, std::nullopt).localizedDescription(),
              QStringLiteral("服务端返回错误：500"));
    EXPECT_EQ(OrvaneAPIError::server(400, QStringLiteral("验证码错误")).localizedDescription(),
              QStringLiteral("验证码错误"));
    // A present but empty message is still the message.
    EXPECT_EQ(OrvaneAPIError::server(502, QString()).localizedDescription(), QString());
    EXPECT_EQ(OrvaneAPIError::invalidResponse().localizedDescription(),
              QStringLiteral("服务端响应格式异常"));
}
