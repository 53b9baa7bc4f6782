#pragma once

#include <QString>
#include <QUrl>

namespace orvane {

// The desktop's shared services: the default browser and the clipboard.
class DesktopServices {
public:
    // Opens `url` with the desktop's handler for its scheme. An invalid or empty URL is
    // refused without asking the desktop. Returns whether it was opened.
    static bool openURL(const QUrl& url);

    // Puts `text` on the clipboard; does nothing without a GUI application object.
    static void copyToClipboard(const QString& text);
};

} // namespace orvane
