#include "NetworkExtensionTunnelCoordinator.h"

namespace orvane {

NetworkExtensionTunnelCoordinator::NetworkExtensionTunnelCoordinator(
    QString bundleIdentifier, QString description, std::shared_ptr<TunnelPreferences> preferences)
    : providerBundleIdentifier(std::move(bundleIdentifier)),
      localizedDescription(std::move(description)),
      m_preferences(preferences ? std::move(preferences) : TunnelPreferences::systemDefault()) {}

QCoro::Task<TunnelProviderManagerPtr> NetworkExtensionTunnelCoordinator::loadOrCreateManager() {
    const auto managers = co_await loadAllManagers();
    for (const auto& manager : managers) {
        const auto& description = manager->localizedDescription();
        if (description && *description == localizedDescription) {
            co_return manager;
        }
    }
    co_return std::make_shared<TunnelProviderManager>();
}

QCoro::Task<QList<TunnelProviderManagerPtr>> NetworkExtensionTunnelCoordinator::loadAllManagers() {
    auto managers = co_await m_preferences->loadAllFromPreferences();
    // Callers dereference what they get; never hand them an empty slot.
    managers.removeAll(nullptr);
    co_return managers;
}

} // namespace orvane
