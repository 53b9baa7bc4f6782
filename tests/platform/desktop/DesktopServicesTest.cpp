#include "DesktopServices.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace orvane;

TEST(DesktopServicesTest, RefusesEmptyAndInvalidURLs) {
    EXPECT_FALSE(DesktopServices::openURL(QUrl()));
    EXPECT_FALSE(DesktopServices::openURL(QUrl(QStringLiteral("http://[::1"))));
}

TEST(DesktopServicesTest, CopiesTextToClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("probe"));
    if (clipboard->text() != QStringLiteral("probe")) {
        GTEST_SKIP() << "this platform plugin keeps no clipboard";
    }
    DesktopServices::copyToClipboard(QStringLiteral("vmess://订阅 链接"));
    EXPECT_EQ(clipboard->text(), QStringLiteral("vmess://订阅 链接"));
}
