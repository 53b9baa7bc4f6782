#include "PacketTunnelProvider.h"
#include "PacketTunnelProviderError.h"
#include "TunnelProviderProtocol.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

using namespace orvane;

namespace {

const auto kMissing = PacketTunnelProviderError::missingConfiguration();
const auto kEngine = PacketTunnelProviderError::engineNotEmbedded();

std::shared_ptr<const VPNProtocol> tunnelProtocol(std::optional<QVariantMap> configuration) {
    return std::make_shared<TunnelProviderProtocol>(std::move(configuration));
}

QVariantMap complete() {
    return {{QStringLiteral("endpointId"), QStringLiteral("hk-01")},
            {QStringLiteral("protocol"), QStringLiteral("vless")}};
}

QVariantMap with(QVariantMap map, const QString& key, const QVariant& value) {
    map.insert(key, value);
    return map;
}

QVariantMap without(QVariantMap map, const QString& key) {
    map.remove(key);
    return map;
}

struct StartCase {
    const char* name;
    std::shared_ptr<const VPNProtocol> protocol;
    PacketTunnelProviderError expected;
};

// A protocol configuration class the provider does not know.
class OtherProtocol : public VPNProtocol {};

std::vector<StartCase> startCases() {
    const QString endpointId = QStringLiteral("endpointId");
    const QString protocol = QStringLiteral("protocol");
    return {
        {"complete", tunnelProtocol(complete()), kEngine},
        {"empty texts count as present",
         tunnelProtocol(QVariantMap{{endpointId, QString()}, {protocol, QStringLiteral("")}}),
         kEngine},
        {"other keys are ignored", tunnelProtocol(with(complete(), QStringLiteral("port"), 443)),
         kEngine},
        {"no protocol configuration", nullptr, kMissing},
        {"base class", std::make_shared<VPNProtocol>(), kMissing},
        {"other class", std::make_shared<OtherProtocol>(), kMissing},
        {"no provider configuration", tunnelProtocol(std::nullopt), kMissing},
        {"empty provider configuration", tunnelProtocol(QVariantMap{}), kMissing},
        {"endpoint missing", tunnelProtocol(without(complete(), endpointId)), kMissing},
        {"protocol missing", tunnelProtocol(without(complete(), protocol)), kMissing},
        {"endpoint is a number", tunnelProtocol(with(complete(), endpointId, 7)), kMissing},
        {"protocol is bytes", tunnelProtocol(with(complete(), protocol, QByteArray("vless"))),
         kMissing},
        {"endpoint is null", tunnelProtocol(with(complete(), endpointId, QVariant())), kMissing},
        {"protocol is a list",
         tunnelProtocol(with(complete(), protocol, QStringList{QStringLiteral("vless")})),
         kMissing},
        {"keys are case-sensitive",
         tunnelProtocol(with(without(complete(), endpointId), QStringLiteral("endpointid"),
                             QStringLiteral("hk-01"))),
         kMissing},
    };
}

} // namespace

TEST(PacketTunnelProviderTest, StartFailsWithTheErrorTheConfigurationCallsFor) {
    for (const StartCase& c : startCases()) {
        SCOPED_TRACE(c.name);
        PacketTunnelProvider provider;
        provider.setProtocolConfiguration(c.protocol);

        int calls = 0;
        std::optional<BridgedError> received;
        provider.startTunnel(std::nullopt, [&](std::optional<BridgedError> error) {
            ++calls;
            received = std::move(error);
        });

        // Counted before startTunnel returned: the handler runs synchronously, once.
        EXPECT_EQ(calls, 1);
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(*received, c.expected.bridged());
    }
}

TEST(PacketTunnelProviderTest, StartIgnoresItsOptions) {
    PacketTunnelProvider provider;
    provider.setProtocolConfiguration(tunnelProtocol(complete()));
    // Options that look like a configuration do not stand in for a missing one, and vice versa.
    const std::optional<QVariantMap> options = complete();
    std::optional<BridgedError> received;
    provider.startTunnel(options, [&](std::optional<BridgedError> error) { received = error; });
    ASSERT_TRUE(received);
    EXPECT_EQ(received->code, 1);

    provider.setProtocolConfiguration(tunnelProtocol(std::nullopt));
    provider.startTunnel(options, [&](std::optional<BridgedError> error) { received = error; });
    ASSERT_TRUE(received);
    EXPECT_EQ(received->code, 0);
}

TEST(PacketTunnelProviderTest, LaterStartsReadTheCurrentConfiguration) {
    PacketTunnelProvider provider;
    std::optional<BridgedError> received;
    const auto record = [&](std::optional<BridgedError> error) { received = error; };

    provider.startTunnel(std::nullopt, record);
    EXPECT_EQ(received->code, 0);
    provider.setProtocolConfiguration(tunnelProtocol(complete()));
    provider.startTunnel(std::nullopt, record);
    EXPECT_EQ(received->code, 1);
    provider.setProtocolConfiguration(nullptr);
    provider.startTunnel(std::nullopt, record);
    EXPECT_EQ(received->code, 0);
}

TEST(PacketTunnelProviderTest, StopCompletesAtOnceWhateverTheReason) {
    using Reason = PacketTunnelProviderBase::StopReason;
    for (int code : {0, 1, 2, 15, -1, 999}) {
        SCOPED_TRACE(code);
        PacketTunnelProvider provider;
        provider.setProtocolConfiguration(tunnelProtocol(complete()));
        int calls = 0;
        provider.stopTunnel(static_cast<Reason>(code), [&] { ++calls; });
        EXPECT_EQ(calls, 1);
    }
}
