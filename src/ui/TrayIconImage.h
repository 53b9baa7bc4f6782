#pragma once

#include <QIcon>

namespace orvane {

// The tray icon: the bundled logo clipped to a rounded square, or a bolt in a circle when the
// logo is missing. Drawn once per process.
class TrayIconImage {
public:
    static const QIcon& icon();
    // True when the bundled logo was found.
    static bool hasLogo();
};

} // namespace orvane
