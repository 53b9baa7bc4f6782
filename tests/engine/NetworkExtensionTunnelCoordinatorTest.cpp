#include "NetworkExtensionTunnelCoordinator.h"
#include "LocalizedError.h"
#include "RunTask.h"

#include <gtest/gtest.h>

#include <optional>

using namespace orvane;

namespace {

class PreferencesLoadError : public LocalizedError {
public:
    QString localizedDescription() const override { return QStringLiteral("无法载入 VPN 配置。"); }
};

// Hands out a fixed list of configurations, or fails every load.
class FakeTunnelPreferences : public TunnelPreferences {
public:
    QList<TunnelProviderManagerPtr> managers;
    bool fail = false;
    int loads = 0;

    QCoro::Task<QList<TunnelProviderManagerPtr>> loadAllFromPreferences() override {
        ++loads;
        if (fail) {
            throw PreferencesLoadError();
        }
        // QCoro moves from whatever lvalue it is given: hand it a copy, not the member.
        QList<TunnelProviderManagerPtr> copy = managers;
        co_return copy;
    }
};

struct Fixture {
    std::shared_ptr<FakeTunnelPreferences> preferences = std::make_shared<FakeTunnelPreferences>();
    NetworkExtensionTunnelCoordinator coordinator{QStringLiteral("com.orvane.macos.PacketTunnel"),
                                                  QStringLiteral("Orvane"), preferences};

    TunnelProviderManagerPtr add(std::optional<QString> description) {
        auto manager = TunnelProviderManager::saved(std::move(description));
        preferences->managers.append(manager);
        return manager;
    }
};

} // namespace

TEST(NetworkExtensionTunnelCoordinatorTest, LoadsAllManagersInTheSystemsOrderWithoutEmptySlots) {
    Fixture f;
    const auto first = f.add(QStringLiteral("Other VPN"));
    const auto second = f.add(std::nullopt);
    f.preferences->managers.append(nullptr);
    const auto third = f.add(QStringLiteral("Orvane"));
    const auto managers = test::runTask(f.coordinator.loadAllManagers());
    EXPECT_EQ(managers, (QList<TunnelProviderManagerPtr>{first, second, third}));
}

TEST(NetworkExtensionTunnelCoordinatorTest, NoConfigurationGivesANewUnsavedManager) {
    Fixture f;
    const auto manager = test::runTask(f.coordinator.loadOrCreateManager());
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(manager->isSaved());
    EXPECT_EQ(manager->localizedDescription(), std::nullopt);
    EXPECT_EQ(manager->connection().stopCount(), 0);
    // Nothing was written back to the preferences.
    EXPECT_TRUE(f.preferences->managers.isEmpty());
    EXPECT_TRUE(test::runTask(f.coordinator.loadAllManagers()).isEmpty());
}

TEST(NetworkExtensionTunnelCoordinatorTest, PicksTheFirstConfigurationWithOurDescription) {
    struct Case {
        const char* label;
        QList<std::optional<QString>> descriptions;
        int expected; // index into the list, -1 for a new manager
    };
    const QList<Case> cases{
        {"only ours", {QStringLiteral("Orvane")}, 0},
        {"two of ours: the first", {QStringLiteral("Orvane"), QStringLiteral("Orvane")}, 0},
        {"ours after others",
         {QStringLiteral("Other VPN"), std::nullopt, QStringLiteral("Orvane"),
          QStringLiteral("Orvane")},
         2},
        {"letter case differs", {QStringLiteral("orvane"), QStringLiteral("ORVANE")}, -1},
        {"case differs, then exact", {QStringLiteral("orvane"), QStringLiteral("Orvane")}, 1},
        {"no description", {std::nullopt}, -1},
        {"empty description", {QString()}, -1},
        {"surrounding space", {QStringLiteral(" Orvane"), QStringLiteral("Orvane ")}, -1},
        {"longer name", {QStringLiteral("Orvane VPN")}, -1},
    };
    for (const auto& c : cases) {
        Fixture f;
        QList<TunnelProviderManagerPtr> added;
        for (const auto& description : c.descriptions) {
            added.append(f.add(description));
        }
        const auto manager = test::runTask(f.coordinator.loadOrCreateManager());
        ASSERT_NE(manager, nullptr) << c.label;
        if (c.expected >= 0) {
            EXPECT_EQ(manager, added.at(c.expected)) << c.label;
        } else {
            EXPECT_FALSE(added.contains(manager)) << c.label;
            EXPECT_FALSE(manager->isSaved()) << c.label;
            EXPECT_EQ(manager->localizedDescription(), std::nullopt) << c.label;
        }
    }
}

TEST(NetworkExtensionTunnelCoordinatorTest, StoppingTheFoundManagerReachesThatConfiguration) {
    Fixture f;
    const auto other = f.add(QStringLiteral("Other VPN"));
    const auto ours = f.add(QStringLiteral("Orvane"));
    test::runTask(f.coordinator.loadOrCreateManager())->connection().stopVPNTunnel();
    EXPECT_EQ(ours->connection().stopCount(), 1);
    EXPECT_EQ(other->connection().stopCount(), 0);
}

TEST(NetworkExtensionTunnelCoordinatorTest, LoadFailureReachesTheCallerUnchanged) {
    Fixture f;
    f.add(QStringLiteral("Orvane"));
    f.preferences->fail = true;
    EXPECT_THROW(test::runTask(f.coordinator.loadAllManagers()), PreferencesLoadError);
    try {
        test::runTask(f.coordinator.loadOrCreateManager());
        ADD_FAILURE() << "expected the load error";
    } catch (const PreferencesLoadError& e) {
        EXPECT_EQ(e.localizedDescription(), QStringLiteral("无法载入 VPN 配置。"));
    }
    // Not retried.
    EXPECT_EQ(f.preferences->loads, 2);
}

TEST(NetworkExtensionTunnelCoordinatorTest, WithoutAnInjectedSourceThisPlatformHasNoConfiguration) {
    NetworkExtensionTunnelCoordinator coordinator(QStringLiteral("com.orvane.macos.PacketTunnel"),
                                                  QStringLiteral("Orvane"));
    EXPECT_TRUE(test::runTask(coordinator.loadAllManagers()).isEmpty());
    const auto manager = test::runTask(coordinator.loadOrCreateManager());
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(manager->isSaved());
}
