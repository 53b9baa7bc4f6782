#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONObjectWriter.h"
#include "StateEnumerations.h"

#include <gtest/gtest.h>

using namespace orvane;

TEST(StateEnumerationsTest, RawValuesRoundTripExactly) {
    for (AppPage page : allAppPages()) {
        EXPECT_EQ(appPageFromRawValue(rawValue(page)), page);
    }
    for (OutboundMode mode : allOutboundModes()) {
        EXPECT_EQ(outboundModeFromRawValue(rawValue(mode)), mode);
    }
    for (RouteRegionChoice choice : allRouteRegionChoices()) {
        EXPECT_EQ(routeRegionChoiceFromRawValue(rawValue(choice)), choice);
    }
    EXPECT_EQ(allOutboundModes().size(), 4);
    EXPECT_EQ(rawValue(OutboundMode::enhanced), QStringLiteral("enhanced"));
    EXPECT_EQ(rawValue(RouteRegionChoice::automatic), QStringLiteral("automatic"));
    EXPECT_EQ(outboundModeFromRawValue(QStringLiteral("Smart")), std::nullopt);
    EXPECT_EQ(outboundModeFromRawValue(QStringLiteral("smart")), OutboundMode::smart);
    EXPECT_EQ(appPageFromRawValue(QStringLiteral("Home")), std::nullopt);
    EXPECT_EQ(routeRegionChoiceFromRawValue(QStringLiteral("auto")), std::nullopt);
}

TEST(StateEnumerationsTest, NodeStatusRawValuesAreTheShownTexts) {
    EXPECT_EQ(rawValue(NodeStatus::online), QStringLiteral("在线"));
    EXPECT_EQ(rawValue(NodeStatus::checking), QStringLiteral("检查中"));
    EXPECT_EQ(rawValue(NodeStatus::offline), QStringLiteral("离线"));
    EXPECT_EQ(nodeStatusFromRawValue(QStringLiteral("在线")), NodeStatus::online);
    EXPECT_EQ(nodeStatusFromRawValue(QStringLiteral("online")), std::nullopt);
}

TEST(StateEnumerationsTest, ModesCodeAsTheirRawText) {
    EXPECT_EQ(json::decode<OutboundMode>(QJsonValue(QStringLiteral("global")), {}), OutboundMode::global);
    EXPECT_THROW(json::decode<OutboundMode>(QJsonValue(QStringLiteral("Global")), {}), DecodingError);
    EXPECT_EQ(json::decode<RouteRegionChoice>(QJsonValue(QStringLiteral("jp")), {}), RouteRegionChoice::jp);
    QByteArray out;
    JSONObjectWriter::append(out, OutboundMode::direct);
    EXPECT_EQ(out, QByteArray("\"direct\""));
}

TEST(StateEnumerationsTest, ConnectionStateEquality) {
    using C = ConnectionState::Case;
    EXPECT_EQ(ConnectionState(), ConnectionState(C::disconnected));
    EXPECT_EQ(ConnectionState::failed(QStringLiteral("a")), ConnectionState::failed(QStringLiteral("a")));
    EXPECT_FALSE(ConnectionState::failed(QStringLiteral("a")) == ConnectionState::failed(QStringLiteral("b")));
    EXPECT_FALSE(ConnectionState::failed(QString()) == ConnectionState(C::disconnected));
    EXPECT_FALSE(ConnectionState(C::connected) == ConnectionState(C::repairing));
}
