#pragma once

#include "TunnelPreferences.h"
#include "TunnelProviderManager.h"

#include <QList>
#include <QString>

#include <QCoro/QCoroTask>

#include <memory>

namespace orvane {

// Finds this product's packet-tunnel configuration so that a disconnect can stop a tunnel run
// in Network Extension mode. Never creates, saves, configures or starts a configuration.
class NetworkExtensionTunnelCoordinator {
public:
    // A null source means the system's own preferences.
    NetworkExtensionTunnelCoordinator(QString bundleIdentifier, QString description,
                                      std::shared_ptr<TunnelPreferences> preferences = {});

    const QString providerBundleIdentifier;
    const QString localizedDescription;

    // This product's configuration, or a fresh manager that is neither configured nor saved.
    QCoro::Task<TunnelProviderManagerPtr> loadOrCreateManager();
    // Every configuration the system holds for this application, in the system's order.
    QCoro::Task<QList<TunnelProviderManagerPtr>> loadAllManagers();

private:
    std::shared_ptr<TunnelPreferences> m_preferences;
};

} // namespace orvane
