#include "NetworkSpeedSampler.h"

#include <QFile>

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

#include <optional>

using namespace orvane;

namespace {

constexpr unsigned int kUp = IFF_UP | IFF_RUNNING;

InterfaceCounters entry(const char* name, unsigned int flags, int family, bool hasData, quint32 rx,
                        quint32 tx) {
    return InterfaceCounters{QString::fromUtf8(name), flags, family, hasData, rx, tx};
}

QDateTime someDate() {
    return QDateTime(QDate(2025, 3, 7), QTime(10, 20, 30), Qt::UTC);
}

struct SumCase {
    const char* label;
    QList<InterfaceCounters> interfaces;
    quint64 received;
    quint64 sent;
};

std::optional<quint64> sysCounter(const QString& interface, const char* counter) {
    QFile file(QStringLiteral("/sys/class/net/%1/statistics/%2")
                   .arg(interface, QString::fromUtf8(counter)));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    bool ok = false;
    const quint64 value = file.readAll().trimmed().toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

} // namespace

TEST(NetworkSpeedSamplerTest, CountsOnlyUpNonLoopbackLinkLayerEntriesWithData) {
    const QList<SumCase> cases{
        {"empty list", {}, 0, 0},
        {"one up interface", {entry("eth0", kUp, AF_PACKET, true, 1000, 200)}, 1000, 200},
        {"down interface", {entry("eth1", IFF_RUNNING, AF_PACKET, true, 5000, 6000)}, 0, 0},
        {"up loopback", {entry("lo", kUp | IFF_LOOPBACK, AF_PACKET, true, 7000, 7000)}, 0, 0},
        {"down loopback", {entry("lo", IFF_LOOPBACK, AF_PACKET, true, 7000, 7000)}, 0, 0},
        {"IPv4 entry", {entry("eth0", kUp, AF_INET, true, 300, 400)}, 0, 0},
        {"IPv6 entry", {entry("eth0", kUp, AF_INET6, true, 300, 400)}, 0, 0},
        {"link-layer entry without data", {entry("eth0", kUp, AF_PACKET, false, 300, 400)}, 0, 0},
        {"entry without address", {entry("eth0", kUp, AF_UNSPEC, true, 300, 400)}, 0, 0},
        {"only loopback up",
         {entry("lo", kUp | IFF_LOOPBACK, AF_PACKET, true, 900, 900),
          entry("lo", kUp | IFF_LOOPBACK, AF_INET, true, 900, 900),
          entry("eth0", IFF_BROADCAST, AF_PACKET, true, 50, 60)},
         0,
         0},
        {"one interface with all its entries counts once",
         {entry("eth0", kUp, AF_PACKET, true, 1000, 10),
          entry("eth0", kUp, AF_INET, true, 1000, 10),
          entry("eth0", kUp, AF_INET6, true, 1000, 10)},
         1000,
         10},
        {"several up interfaces, others mixed in",
         {entry("lo", kUp | IFF_LOOPBACK, AF_PACKET, true, 1, 1),
          entry("eth0", kUp, AF_PACKET, true, 100, 10),
          entry("ifb0", IFF_BROADCAST | IFF_NOARP, AF_PACKET, true, 99999, 99999),
          entry("wlan0", kUp, AF_PACKET, true, 2000, 20),
          entry("wlan0", kUp, AF_INET, true, 2000, 20),
          entry("tun0", IFF_UP | IFF_POINTOPOINT, AF_PACKET, true, 30000, 300)},
         32100,
         330},
    };
    for (const auto& c : cases) {
        const NetworkTrafficSample sample = NetworkSpeedSampler::sum(c.interfaces, someDate());
        EXPECT_EQ(sample.receivedBytes, c.received) << c.label;
        EXPECT_EQ(sample.sentBytes, c.sent) << c.label;
        EXPECT_EQ(sample.date, someDate()) << c.label;
    }
}

TEST(NetworkSpeedSamplerTest, ThirtyTwoBitCountersSumIntoSixtyFourBits) {
    constexpr quint32 kMax = 0xFFFFFFFFu;
    const QList<InterfaceCounters> interfaces{
        entry("eth0", kUp, AF_PACKET, true, kMax, kMax - 1),
        entry("eth1", kUp, AF_PACKET, true, kMax, 2),
        entry("eth2", kUp, AF_PACKET, true, 1, kMax),
    };
    const NetworkTrafficSample sample = NetworkSpeedSampler::sum(interfaces, someDate());
    EXPECT_EQ(sample.receivedBytes, 2 * quint64(kMax) + 1);
    EXPECT_EQ(sample.receivedBytes, quint64(0x1FFFFFFFF));
    EXPECT_EQ(sample.sentBytes, 2 * quint64(kMax) + 1);
}

TEST(NetworkSpeedSamplerTest, ReadsTheLoopbackLinkCountersOfThisMachine) {
    const auto rxBefore = sysCounter(QStringLiteral("lo"), "rx_bytes");
    const auto txBefore = sysCounter(QStringLiteral("lo"), "tx_bytes");
    if (!rxBefore || !txBefore) {
        GTEST_SKIP() << "no loopback statistics on this machine";
    }
    const QList<InterfaceCounters> interfaces = NetworkSpeedSampler::readInterfaces();
    const quint64 rxAfter = sysCounter(QStringLiteral("lo"), "rx_bytes").value_or(0);
    const quint64 txAfter = sysCounter(QStringLiteral("lo"), "tx_bytes").value_or(0);

    const InterfaceCounters* lo = nullptr;
    for (const auto& candidate : interfaces) {
        if (candidate.name == QStringLiteral("lo") && candidate.family == AF_PACKET) {
            lo = &candidate;
        }
    }
    ASSERT_NE(lo, nullptr);
    EXPECT_TRUE(lo->flags & IFF_LOOPBACK);
    EXPECT_TRUE(lo->hasData);
    // Other work on this machine moves the loopback counters meanwhile, and ours keep only the
    // low 32 bits: the value read must lie between the two readings, modulo 2^32.
    const auto within = [](quint32 value, quint64 before, quint64 after) {
        const quint32 offset = value - quint32(before);
        return quint64(offset) <= after - before;
    };
    EXPECT_TRUE(within(lo->rxBytes, *rxBefore, rxAfter))
        << lo->rxBytes << " not in " << *rxBefore << ".." << rxAfter;
    EXPECT_TRUE(within(lo->txBytes, *txBefore, txAfter))
        << lo->txBytes << " not in " << *txBefore << ".." << txAfter;
}

TEST(NetworkSpeedSamplerTest, SampleOfThisMachineCarriesTheCurrentTime) {
    const QDateTime before = QDateTime::currentDateTime();
    const NetworkTrafficSample sample = NetworkSpeedSampler::sample();
    const QDateTime after = QDateTime::currentDateTime();
    ASSERT_TRUE(sample.date.isValid());
    EXPECT_LE(before, sample.date);
    EXPECT_LE(sample.date, after);
}
