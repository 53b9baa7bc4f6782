#include "PacketTunnelProviderError.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace orvane;

TEST(PacketTunnelProviderErrorTest, EachCaseHasItsCodeAndText) {
    struct Row {
        PacketTunnelProviderError error;
        int code;
        QString description;
    };
    const Row rows[] = {
        {PacketTunnelProviderError::missingConfiguration(), 0,
         QStringLiteral("Orvane PacketTunnelProvider 缺少连接配置。")},
        {PacketTunnelProviderError::engineNotEmbedded(), 1,
         QStringLiteral("Orvane PacketTunnelProvider 尚未嵌入协议内核。")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(row.error.code(), row.code);
        EXPECT_EQ(row.error.errorDescription(), row.description);
        const BridgedError bridged = row.error.bridged();
        EXPECT_EQ(bridged.domain, QStringLiteral("OrvanePacketTunnel.PacketTunnelProviderError"));
        EXPECT_EQ(bridged.code, row.code);
        EXPECT_EQ(bridged.localizedDescription, row.description);
    }
}

TEST(PacketTunnelProviderErrorTest, EqualAndHashedOnTheCase) {
    const auto missing = PacketTunnelProviderError::missingConfiguration();
    const auto engine = PacketTunnelProviderError::engineNotEmbedded();
    EXPECT_EQ(missing, PacketTunnelProviderError::missingConfiguration());
    EXPECT_NE(missing, engine);
    EXPECT_EQ(qHash(missing, 7), qHash(PacketTunnelProviderError::missingConfiguration(), 7));

    const QSet<PacketTunnelProviderError> set{missing, engine, engine, missing};
    EXPECT_EQ(set.size(), 2);
    EXPECT_TRUE(set.contains(PacketTunnelProviderError::engineNotEmbedded()));
}
