#include "DesktopServices.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

namespace orvane {

bool DesktopServices::openURL(const QUrl& url) {
    if (url.isEmpty() || !url.isValid()) {
        return false;
    }
    return QDesktopServices::openUrl(url);
}

void DesktopServices::copyToClipboard(const QString& text) {
    // clipboard() on a plain QCoreApplication reaches for a platform integration that does
    // not exist and crashes.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(text);
    }
}

} // namespace orvane
