#include "TunnelPreferences.h"

namespace orvane {

QCoro::Task<QList<TunnelProviderManagerPtr>> TunnelPreferences::loadAllFromPreferences() {
    co_return QList<TunnelProviderManagerPtr>{};
}

std::shared_ptr<TunnelPreferences> TunnelPreferences::systemDefault() {
    return std::make_shared<TunnelPreferences>();
}

} // namespace orvane
