#include "LaunchAtLogin.h"
#include "LaunchAtLoginError.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

QString readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(f.readAll());
}

} // namespace

TEST(LaunchAtLoginTest, RoundTripWritesAndRemovesAutostartEntry) {
    test::TempHome home;
    const QString entry = home.configHome() + QStringLiteral("/autostart/orvane.desktop");
    ASSERT_EQ(LaunchAtLogin::entryPath(), entry);
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    LaunchAtLogin::setEnabled(true, QStringLiteral("/opt/orvane/bin/orvane"));
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    const QString content = readAll(entry);
    EXPECT_TRUE(content.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(content.contains(QStringLiteral("\nExec=/opt/orvane/bin/orvane\n")));
    EXPECT_TRUE(content.contains(QStringLiteral("\nType=Application\n")));

    LaunchAtLogin::setEnabled(false, QString());
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_FALSE(QFileInfo::exists(entry));
    LaunchAtLogin::setEnabled(false, QString()); // already off

    LaunchAtLogin::setEnabled(true, QStringLiteral("/home/u/My Apps/orvane"));
    EXPECT_TRUE(readAll(entry).contains(QStringLiteral("\nExec=\"/home/u/My Apps/orvane\"\n")));
}

TEST(LaunchAtLoginTest, ExecArgumentFollowsDesktopEntryQuoting) {
    // Quoting escapes \ once, the string value once more: four backslashes in the file.
    EXPECT_EQ(LaunchAtLogin::execArgument(QStringLiteral("/a\\b")),
              QStringLiteral("\"/a\\\\\\\\b\""));
    EXPECT_EQ(LaunchAtLogin::execArgument(QStringLiteral("/a$b\"c`d")),
              QStringLiteral("\"/a\\\\$b\\\\\"c\\\\`d\""));
    EXPECT_EQ(LaunchAtLogin::execArgument(QStringLiteral("/100%/x")), QStringLiteral("/100%%/x"));
    EXPECT_EQ(LaunchAtLogin::execArgument(QStringLiteral("/a\nb")), QStringLiteral("\"/a\\nb\""));
}

TEST(LaunchAtLoginTest, FailuresThrowAndChangeNothing) {
    test::TempHome home;
    const QString autostart = home.configHome() + QStringLiteral("/autostart");
    {
        QFile blocker(autostart);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
    }
    try {
        LaunchAtLogin::setEnabled(true, QStringLiteral("/opt/orvane/bin/orvane"));
        FAIL() << "expected LaunchAtLoginError";
    } catch (const LaunchAtLoginError& e) {
        EXPECT_TRUE(e.localizedDescription().startsWith(QStringLiteral("无法更新开机启动设置：")));
    }
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_EQ(readAll(autostart), QStringLiteral("not a folder"));
    EXPECT_EQ(
        QDir(home.configHome()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("autostart")});
    // No entry can exist under a file, so turning off is not an error.
    EXPECT_NO_THROW(LaunchAtLogin::setEnabled(false, QString()));

    // Something that cannot be unlinked where the entry goes: removing must report it.
    ASSERT_TRUE(QFile::remove(autostart));
    ASSERT_TRUE(QDir().mkpath(LaunchAtLogin::entryPath()));
    try {
        LaunchAtLogin::setEnabled(false, QString());
        ADD_FAILURE() << "removed a folder";
    } catch (const LaunchAtLoginError& e) {
        EXPECT_EQ(e.localizedDescription(),
                  QStringLiteral("无法更新开机启动设置：目标是文件夹，不是文件"));
    }
    EXPECT_TRUE(QFileInfo(LaunchAtLogin::entryPath()).isDir());
}
