#include "APIAccountRecords.h"
#include "APINodeRecords.h"
#include "APIRouteRecords.h"
#include "Device.h"
#include "Endpoint.h"
#include "Order.h"
#include "OrvaneRuntimeError.h"
#include "Plan.h"
#include "StateText.h"
#include "Ticket.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <utility>

using namespace orvane;

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

QString localMonthDay(int month, int day, int hour) {
    const QDateTime utc(QDate(2025, month, day), QTime(hour, 30), QTimeZone::utc());
    return utc.toLocalTime().toString(QStringLiteral("MM-dd"));
}

} // namespace

TEST(StateTextTest, SpeedAndTraffic) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> speeds[] = {
        {0, "0 B/s"},          {1023.9, "1023 B/s"},  {1024, "1 KB/s"},       {1536, "2 KB/s"},
        {2560, "2 KB/s"},      {3584, "4 KB/s"},      {1048575, "1024 KB/s"}, {1048576, "1.0 MB/s"},
        {1572864, "1.5 MB/s"}, {1310720, "1.2 MB/s"}, {nan, "0 B/s"},         {-4096, "0 B/s"},
        {inf, "0 B/s"},
    };
    for (const auto& [bytesPerSecond, text] : speeds) {
        EXPECT_EQ(StateText::formattedSpeed(bytesPerSecond), QString::fromUtf8(text));
    }
    const std::pair<std::optional<qint64>, const char*> traffic[] = {
        {std::nullopt, "未知"}, {-1, "不限量"},  {0, "0MB"},      {1023, "1023MB"},
        {1024, "1.0GB"},        {1536, "1.5GB"}, {1280, "1.2GB"}, {1049600, "1025.0GB"},
    };
    for (const auto& [megabytes, text] : traffic) {
        EXPECT_EQ(StateText::trafficText(megabytes), QString::fromUtf8(text));
    }
}

TEST(StateTextTest, ShortDateText) {
    const std::pair<std::optional<QString>, QString> cases[] = {
        {"2025-03-07T10:30:15.123Z", localMonthDay(3, 7, 10)},
        {"2025-03-07T10:30:15.123456Z", localMonthDay(3, 7, 10)},
        {"2025-03-07T23:30:00-05:00", localMonthDay(3, 8, 4)},
        {"2025-03-07T00:30:00.5+08:00", localMonthDay(3, 6, 16)},
        {"2025-03-07 10:20", "2025-03-07"},
        {"2025-03-07", "2025-03-07"},
        {"2025-03-07T10:20:30", "2025-03-07"},
        {"2025-03-07T10:20Z", "2025-03-07"},
        {"2025-13-07T10:20:30Z", "2025-13-07"},
        {"123456789😀tail", "123456789😀"},
        {"", "-"},
        {std::nullopt, "-"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(StateText::shortDateText(text), shown) << text.value_or("-").toStdString();
    }
}

TEST(StateTextTest, NormalizedEmail) {
    EXPECT_EQ(StateText::normalizedEmail("  User@Example.COM\n"), "user@example.com");
    EXPECT_EQ(StateText::normalizedEmail("\u3000a.b@mail.example.cn\u00A0\t"),
              "a.b@mail.example.cn");
    EXPECT_EQ(StateText::normalizedEmail("ÄNNE@例子.中国"), QStringLiteral("änne@例子.中国"));
    for (const char* typed :
         {"", "user@example", "user name@example.com", "user\u00A0name@example.com",
          "user@exa\u2003mple.com", "user@example.com\nx", "user@@example.com", "@example.com"}) {
        try {
            StateText::normalizedEmail(QString::fromUtf8(typed));
            ADD_FAILURE() << "accepted " << typed;
        } catch (const OrvaneRuntimeError& error) {
            EXPECT_EQ(error.errorCase(), OrvaneRuntimeError::Case::invalidEmail);
        }
    }
}

TEST(EndpointTest, StatusFromServiceWords) {
    using S = NodeStatus;
    const std::pair<const char*, NodeStatus> cases[] = {
        {"online", S::online},        {"active", S::online},     {"healthy", S::online},
        {"available", S::online},     {"checking", S::checking}, {"retrying", S::checking},
        {"maintenance", S::checking}, {"Online", S::offline},    {"online ", S::offline},
        {"MAINTENANCE", S::offline},  {"", S::offline},
    };
    for (const auto& [apiValue, status] : cases) {
        EXPECT_EQ(nodeStatusFromAPIValue(QString::fromUtf8(apiValue)), status) << apiValue;
    }
}

TEST(EndpointTest, FromServiceRecords) {
    using P = ProtocolKind;
    const struct {
        QList<QString> protocols;
        std::optional<QString> preferred;
        QList<P> supported;
        P preferredKind;
    } cases[] = {
        {{"HY2", "trojan"}, "trojan", {P::hysteria2}, P::hysteria2},
        {{}, std::nullopt, {P::vless}, P::vless},
        {{" vless", "unknown"}, "", {P::vless}, P::vless},
        {{"vless", "Hysteria", "vless"}, "HY2", {P::vless, P::hysteria2, P::vless}, P::hysteria2},
        {{"hysteria2", "vless"}, "VLESS", {P::hysteria2, P::vless}, P::vless},
    };
    for (const auto& c : cases) {
        const APIEndpoint api{"n1", "日本", "JP 01", "jp.example", "healthy",
                              61,   17,     false,   c.protocols,  c.preferred};
        const Endpoint endpoint = Endpoint::fromAPI(api);
        EXPECT_EQ(endpoint.supportedProtocols, c.supported) << c.protocols.join(',').toStdString();
        EXPECT_EQ(endpoint.preferredProtocol, c.preferredKind);
        // Everything else is copied; the inactive flag is not read.
        EXPECT_EQ(endpoint, (Endpoint{"n1", "日本", "JP 01", "jp.example", 61, 17,
                                      NodeStatus::online, c.supported, c.preferredKind}));
    }
    const Endpoint node =
        Endpoint::fromNode({"n2", "香港", "HK", "hk.example", "retrying", 45, 80});
    EXPECT_EQ(node, (Endpoint{"n2", "香港", "HK", {}, 45, 80, NodeStatus::checking, {P::vless}}));
}

TEST(EndpointTest, RegionCode) {
    // Endpoint{id, region, name}
    const std::pair<Endpoint, const char*> cases[] = {
        {{"sg-01", "香港", "SG Stable 01"}, "HK"}, // the region row comes first
        {{"n1", "", "Hong Kong BGP"}, "HK"},
        {{"n2", "", "Singapore-US relay"}, "SG"}, // rows in order, not positions in the text
        {{"JP-03", "", "Tokyo"}, "JP"},
        {{"n4", "", "Russia Moscow"}, "US"}, // "us" inside a longer word
        {{"n5", "", "United States West"}, "US"},
        {{"n6", "台湾", "Taipei"}, "TW"},
        {{"de-01", "德国", "Frankfurt"}, ""},
    };
    for (const auto& [endpoint, code] : cases) {
        EXPECT_EQ(endpoint.regionCode(), code) << endpoint.name.toStdString();
    }
}

TEST(PlanTest, FromService) {
    const std::pair<APIPlan, Plan> cases[] = {
        {{"monthly", "月费套餐", 29.9, "CNY", 30, 3},
         {"monthly", "月费套餐", "29.90", "30 天有效期，支持 3 台设备。", "开通月费", true}},
        {{"yearly", "年费", 0.125, std::nullopt, 365, 10}, // half to even
         {"yearly", "年费", "0.12", "365 天有效期，支持 10 台设备。", "开通年费", true}},
        {{"weekly", "周卡套餐", 9.995, std::nullopt, 7, 1},
         {"weekly", "周卡套餐", "9.99", "7 天有效期，支持 1 台设备。", "开通周卡", true}},
        {{"Quarterly", "套餐家庭套餐", 0, std::nullopt, 0, 0},
         {"Quarterly", "套餐家庭套餐", "0.00", "0 天有效期，支持 0 台设备。", "开通家庭", true}},
    };
    for (const auto& [api, plan] : cases) {
        EXPECT_EQ(Plan::fromAPI(api, true), plan) << api.id.toStdString();
    }
    EXPECT_FALSE(Plan::fromAPI(cases[0].first, false).featured);
}

TEST(DeviceTest, FromService) {
    APIDevice api{"d1",    "Work Mac", "macos",           "Version 14.5 (Build 23F79)",
                  "1.4.0", "active",   "2025-03-07 10:20"};
    api.isOnline = true;
    EXPECT_EQ(Device::fromAPI(api, "d1"),
              (Device{"d1", "macOS", "Work Mac · 1.4.0", "当前", "active", true, true, "2025-03-07",
                      "Work Mac", "macos", "Version 14.5 (Build 23F79)", "1.4.0"}));
    api.lastLoginAt.reset();
    const Device other = Device::fromAPI(api, "D1");
    EXPECT_FALSE(other.isCurrent);
    EXPECT_EQ(other.action, QStringLiteral("解绑"));
    EXPECT_EQ(other.lastLogin, "-");

    const std::pair<const char*, const char*> platforms[] = {
        {"macos", "macOS"}, {"android", "Android"}, {"windows", "Windows"}, {"ios", "iOS"},
        {"web", "Web"},     {"macOS", "macOS"},     {"IOS", "IOS"},         {"linux", "linux"}};
    for (const auto& [type, shown] : platforms) {
        EXPECT_EQ(displayPlatformName(type), shown);
    }
}

TEST(AccountRecordsTest, OrdersAndTickets) {
    APIOrder order{"o1", "monthly", "月费套餐", 29.9, "CNY", std::nullopt, "paid"};
    EXPECT_EQ(Order::fromAPI(order), (Order{"o1", "月费套餐", "paid", "29.90 CNY"}));
    order.amount = 0.005; // just above the half in binary
    EXPECT_EQ(Order::fromAPI(order).amount, "0.01 CNY");

    APITicket ticket{"t1",         "无法连接", std::nullopt,
                     std::nullopt, "open",     "2025-03-07T23:30:00.250-05:00"};
    EXPECT_EQ(Ticket::fromAPI(ticket), (Ticket{"t1", "无法连接", "open", localMonthDay(3, 8, 4)}));
    ticket.createdAt.clear();
    EXPECT_EQ(Ticket::fromAPI(ticket).createdAt, "-");
}
