#include "NetworkSpeedSampler.h"

#include <ifaddrs.h>
#include <linux/if_link.h>
#include <net/if.h>
#include <sys/socket.h>

namespace orvane {

NetworkTrafficSample NetworkSpeedSampler::sample() {
    const auto interfaces = readInterfaces();
    return sum(interfaces, QDateTime::currentDateTime());
}

NetworkTrafficSample NetworkSpeedSampler::sum(const QList<InterfaceCounters>& interfaces,
                                              QDateTime date) {
    NetworkTrafficSample result;
    result.date = std::move(date);
    for (const auto& entry : interfaces) {
        // Only the link-layer entry carries the counters, so each interface counts once.
        const bool up = (entry.flags & IFF_UP) != 0;
        const bool loopback = (entry.flags & IFF_LOOPBACK) != 0;
        if (!up || loopback || entry.family != AF_PACKET || !entry.hasData) {
            continue;
        }
        result.receivedBytes += entry.rxBytes;
        result.sentBytes += entry.txBytes;
    }
    return result;
}

QList<InterfaceCounters> NetworkSpeedSampler::readInterfaces() {
    QList<InterfaceCounters> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        InterfaceCounters counters;
        counters.name = QString::fromUtf8(entry->ifa_name);
        counters.flags = entry->ifa_flags;
        counters.family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
        // ifa_data is a link statistics record only on link-layer entries.
        counters.hasData = entry->ifa_data != nullptr;
        if (counters.hasData && counters.family == AF_PACKET) {
            const auto* stats = static_cast<const rtnl_link_stats*>(entry->ifa_data);
            counters.rxBytes = stats->rx_bytes;
            counters.txBytes = stats->tx_bytes;
        }
        interfaces.append(counters);
    }
    freeifaddrs(list);
    return interfaces;
}

} // namespace orvane
