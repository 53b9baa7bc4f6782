#include "DeviceIdentityStore.h"
#include "Preferences.h"
#include "SessionStore.h"
#include "TempHome.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace orvane;

TEST(DeviceIdentityStoreTest, NewIdIsMadeOnceAndSurvivesRestart) {
    test::TempHome home;
    QString first;
    {
        Preferences prefs;
        DeviceIdentityStore store(prefs);
        first = store.clientDeviceId();
        EXPECT_EQ(store.clientDeviceId(), first);
    }
    EXPECT_EQ(first.size(), 42);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(
                    "^macos-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                    .match(first)
                    .hasMatch())
        << first.toStdString();
    Preferences reopened;
    EXPECT_EQ(DeviceIdentityStore(reopened).clientDeviceId(), first);
    EXPECT_EQ(reopened.string(QStringLiteral("orvane.clientDeviceId")), first);
}

TEST(DeviceIdentityStoreTest, LegacyIdIsCopiedAndKept) {
    test::TempHome home;
    Preferences prefs;
    prefs.setString(QStringLiteral("orvane.deviceId"), QStringLiteral("legacy-id"));
    DeviceIdentityStore store(prefs);
    EXPECT_EQ(store.clientDeviceId(), QStringLiteral("legacy-id"));
    EXPECT_EQ(prefs.string(QStringLiteral("orvane.clientDeviceId")), QStringLiteral("legacy-id"));
    EXPECT_EQ(prefs.string(QStringLiteral("orvane.deviceId")), QStringLiteral("legacy-id"));

    prefs.setString(QStringLiteral("orvane.clientDeviceId"), QStringLiteral("current-id"));
    EXPECT_EQ(store.clientDeviceId(), QStringLiteral("current-id"));
}

TEST(DeviceIdentityStoreTest, StoredEmptyIdIsUsedAsItIs) {
    test::TempHome home;
    Preferences prefs;
    prefs.setString(QStringLiteral("orvane.clientDeviceId"), QString());
    prefs.setString(QStringLiteral("orvane.deviceId"), QStringLiteral("legacy-id"));
    EXPECT_EQ(DeviceIdentityStore(prefs).clientDeviceId(), QString());
}

TEST(DeviceIdentityStoreTest, ServerIdsAreKeptPerUser) {
    test::TempHome home;
    {
        Preferences prefs;
        DeviceIdentityStore store(prefs);
        store.saveServerDeviceId(QStringLiteral("dev_a"), QStringLiteral("user-a"));
        store.saveServerDeviceId(QStringLiteral("dev_b"), QStringLiteral("user-b"));
        store.saveServerDeviceId(QStringLiteral("dev_a2"), QStringLiteral("user-a"));
        store.saveServerDeviceId(QStringLiteral("dev_none"), std::nullopt);
        store.saveServerDeviceId(QStringLiteral("dev_empty"), QString());
    }
    Preferences prefs;
    DeviceIdentityStore store(prefs);
    EXPECT_EQ(store.serverDeviceId(QStringLiteral("user-a")), QStringLiteral("dev_a2"));
    EXPECT_EQ(store.serverDeviceId(QStringLiteral("user-b")), QStringLiteral("dev_b"));
    EXPECT_EQ(store.serverDeviceId(QStringLiteral("user-c")), std::nullopt);
    EXPECT_EQ(store.serverDeviceId(std::nullopt), std::nullopt);
    EXPECT_EQ(prefs.string(QStringLiteral("orvane.serverDeviceId.")), QStringLiteral("dev_empty"));
    EXPECT_EQ(store.serverDeviceId(QString()), QStringLiteral("dev_empty"));
}

TEST(SessionStoreTest, TokenLivesUnderItsKeyAcrossRestart) {
    test::TempHome home;
    const SessionStore session;
    EXPECT_EQ(session.tokenKey, QStringLiteral("orvane.sessionToken"));
    {
        Preferences prefs;
        prefs.setString(session.tokenKey, QStringLiteral("tok_123"));
        DeviceIdentityStore(prefs).clientDeviceId();
    }
    {
        Preferences prefs;
        EXPECT_EQ(prefs.string(session.tokenKey), QStringLiteral("tok_123"));
        prefs.remove(session.tokenKey); // local sign-out
    }
    Preferences prefs;
    EXPECT_EQ(prefs.string(session.tokenKey), std::nullopt);
    // Signing out keeps the device identity.
    EXPECT_TRUE(prefs.string(QStringLiteral("orvane.clientDeviceId")).has_value());
}
