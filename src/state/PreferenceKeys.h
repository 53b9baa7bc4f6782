#pragma once

#include <QString>

namespace orvane::prefkey {

// The application state's keys in the user's preferences.
inline const QString launchAtLogin = QStringLiteral("orvane.launchAtLogin");
inline const QString menuBarEnabled = QStringLiteral("orvane.menuBarEnabled");
inline const QString showMenuBarSpeed = QStringLiteral("orvane.showMenuBarSpeed");
inline const QString aiEnhancedMode = QStringLiteral("orvane.aiEnhancedModeEnabled");
inline const QString systemProxy = QStringLiteral("orvane.systemProxyEnabled");
inline const QString outboundMode = QStringLiteral("orvane.outboundMode");
inline const QString aiRegion = QStringLiteral("orvane.routePreference.aiRegion");
inline const QString qualityStats = QStringLiteral("orvane.endpointQualityStats.v1");

} // namespace orvane::prefkey
