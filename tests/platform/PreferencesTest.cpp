#include "AtomicFile.h"
#include "Preferences.h"
#include "TempHome.h"

#include <QFile>

#include <limits>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace orvane;

TEST(PreferencesTest, ValuesKeepTheirTypeAcrossARestart) {
    test::TempHome home;
    {
        Preferences prefs;
        prefs.setBool(QStringLiteral("orvane.launchAtLogin"), true);
        prefs.setString(QStringLiteral("orvane.outboundMode"), QStringLiteral("true"));
        prefs.setDouble(QStringLiteral("orvane.x"), 2.5);
        prefs.setData(QStringLiteral("orvane.stats"), QByteArray("\x00\x01{\"a\"", 6));
    }
    Preferences reopened;
    EXPECT_EQ(reopened.boolValue(QStringLiteral("orvane.launchAtLogin")), true);
    // The text "true" stays a text; it is no Bool.
    EXPECT_EQ(reopened.string(QStringLiteral("orvane.outboundMode")), QStringLiteral("true"));
    EXPECT_EQ(reopened.boolValue(QStringLiteral("orvane.outboundMode")), std::nullopt);
    EXPECT_EQ(reopened.doubleValue(QStringLiteral("orvane.x")), 2.5);
    EXPECT_EQ(reopened.data(QStringLiteral("orvane.stats")), QByteArray("\x00\x01{\"a\"", 6));
    EXPECT_EQ(reopened.string(QStringLiteral("orvane.stats")), std::nullopt);
    EXPECT_FALSE(reopened.contains(QStringLiteral("orvane.missing")));
}

TEST(PreferencesTest, RemoveSurvivesRestartAndFileIsPrivate) {
    test::TempHome home;
    {
        Preferences prefs;
        prefs.setString(QStringLiteral("orvane.sessionToken"), QStringLiteral("secret"));
        prefs.setString(QStringLiteral("orvane.clientDeviceId"), QStringLiteral("macos-1"));
        prefs.remove(QStringLiteral("orvane.sessionToken"));
    }
    Preferences reopened;
    EXPECT_FALSE(reopened.contains(QStringLiteral("orvane.sessionToken")));
    EXPECT_EQ(reopened.string(QStringLiteral("orvane.clientDeviceId")), QStringLiteral("macos-1"));

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(Preferences::defaultFilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PreferencesTest, DamagedFileIsKeptAsideNotOverwritten) {
    test::TempHome home;
    const QString path = Preferences::defaultFilePath();
    AtomicFile::write(path, "{ not json");
    Preferences prefs;
    EXPECT_FALSE(prefs.contains(QStringLiteral("anything")));
    prefs.setBool(QStringLiteral("orvane.showMenuBarExtra"), true);

    QFile aside(path + QStringLiteral(".damaged"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{ not json"));
    EXPECT_EQ(Preferences().boolValue(QStringLiteral("orvane.showMenuBarExtra")), true);
}

TEST(PreferencesTest, NonFiniteDoubleIsRefused) {
    test::TempHome home;
    Preferences prefs;
    prefs.setDouble(QStringLiteral("orvane.x"), 1.0);
    prefs.setDouble(QStringLiteral("orvane.x"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Preferences().doubleValue(QStringLiteral("orvane.x")), 1.0);
}
