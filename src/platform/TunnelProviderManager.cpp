#include "TunnelProviderManager.h"

namespace orvane {

std::shared_ptr<TunnelProviderManager>
TunnelProviderManager::saved(std::optional<QString> localizedDescription) {
    auto manager = std::make_shared<TunnelProviderManager>();
    manager->m_localizedDescription = std::move(localizedDescription);
    manager->m_saved = true;
    return manager;
}

} // namespace orvane
