#include "InstalledApplications.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(InstalledApplicationsTest, FindsEntriesOnlyInsideApplicationsFolders) {
    test::TempHome home;
    const QString apps = home.dataHome() + QStringLiteral("/applications");
    ASSERT_TRUE(QDir().mkpath(apps));
    touch(apps + QStringLiteral("/com.example.Viewer.desktop"));
    // Desktop entries outside the applications folder must stay unreachable.
    touch(home.dataHome() + QStringLiteral("/stray.desktop"));
    ASSERT_TRUE(QDir().mkpath(apps + QStringLiteral("/sub")));
    touch(apps + QStringLiteral("/sub/nested.desktop"));

    EXPECT_TRUE(InstalledApplications::isInstalled(QStringLiteral("com.example.Viewer")));
    EXPECT_FALSE(InstalledApplications::isInstalled(QStringLiteral("com.example.Missing-7f3a")));
    EXPECT_FALSE(InstalledApplications::isInstalled(QString()));
    EXPECT_FALSE(InstalledApplications::isInstalled(QStringLiteral("../stray")));
    EXPECT_FALSE(InstalledApplications::isInstalled(QStringLiteral("sub/nested")));
    EXPECT_FALSE(InstalledApplications::isInstalled(apps + QStringLiteral("/com.example.Viewer")));
}
