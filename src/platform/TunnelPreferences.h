#pragma once

#include "TunnelProviderManager.h"

#include <QList>

#include <QCoro/QCoroTask>

#include <memory>

namespace orvane {

// The system's packet-tunnel configurations for this application. This platform keeps none,
// so the default source finds an empty list; tests derive their own to supply managers or a
// failure.
class TunnelPreferences {
public:
    virtual ~TunnelPreferences() = default;

    // Every configuration in the system's order; a failure is thrown as a LocalizedError.
    virtual QCoro::Task<QList<TunnelProviderManagerPtr>> loadAllFromPreferences();

    // The source production code uses when none is injected.
    static std::shared_ptr<TunnelPreferences> systemDefault();
};

} // namespace orvane
