#include "OrvaneTrafficRules.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace orvane;

TEST(OrvaneTrafficRulesTest, DomesticSuffixesHaveTheirShape) {
    const QStringList& suffixes = OrvaneTrafficRules::domesticDomainSuffixes();
    ASSERT_EQ(suffixes.size(), 62);
    EXPECT_EQ(suffixes.first(), QStringLiteral("cn"));
    const QRegularExpression shape(QStringLiteral("^[a-z0-9-]+(\\.[a-z0-9-]+)+$"));
    for (const QString& suffix : suffixes.mid(1)) {
        EXPECT_TRUE(shape.match(suffix).hasMatch()) << suffix.toStdString();
        const QString tld = suffix.section(QLatin1Char('.'), -1);
        EXPECT_TRUE(QStringList({QStringLiteral("com"), QStringLiteral("cn"), QStringLiteral("net"),
                                 QStringLiteral("tv")})
                        .contains(tld))
            << suffix.toStdString();
    }
    EXPECT_EQ(QSet<QString>(suffixes.begin(), suffixes.end()).size(), 62);
}

TEST(OrvaneTrafficRulesTest, DirectBlocksInOrder) {
    const QStringList& cidrs = OrvaneTrafficRules::directIPCIDRs();
    ASSERT_EQ(cidrs.size(), 56);
    EXPECT_EQ(cidrs.mid(0, 9),
              (QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("100.64.0.0/10"),
                           QStringLiteral("127.0.0.0/8"), QStringLiteral("169.254.0.0/16"),
                           QStringLiteral("172.16.0.0/12"), QStringLiteral("192.168.0.0/16"),
                           QStringLiteral("224.0.0.0/4"), QStringLiteral("1.12.0.0/14"),
                           QStringLiteral("1.24.0.0/13")}));
    EXPECT_EQ(cidrs.at(9), QStringLiteral("14.0.0.0/8"));
    EXPECT_EQ(cidrs.last(), QStringLiteral("223.0.0.0/8"));
}

TEST(OrvaneTrafficRulesTest, BypassListIsLocalNamesThenSuffixesBareAndWildcarded) {
    const QStringList& bypass = OrvaneTrafficRules::domesticProxyBypassDomains();
    const QStringList& suffixes = OrvaneTrafficRules::domesticDomainSuffixes();
    ASSERT_EQ(bypass.size(), 128);
    EXPECT_EQ(bypass.mid(0, 4), (QStringList{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"),
                                             QStringLiteral("::1"), QStringLiteral("*.local")}));
    EXPECT_EQ(bypass.mid(4, 62), suffixes);
    for (int i = 0; i < 62; ++i) {
        EXPECT_EQ(bypass.at(66 + i), QStringLiteral("*.") + suffixes.at(i));
    }
    // Built once and shared.
    EXPECT_EQ(&OrvaneTrafficRules::domesticProxyBypassDomains(), &bypass);
}
