#pragma once

#include <QStringList>

namespace orvane {

// The fixed lists that keep domestic traffic off the proxy.
class OrvaneTrafficRules {
public:
    // sing-box "domain_suffix" entries sent to the direct outbound.
    static const QStringList& domesticDomainSuffixes();
    // sing-box "ip_cidr" entries sent to the direct outbound.
    static const QStringList& directIPCIDRs();
    // The system-proxy bypass list: local names, then the suffixes bare and with "*.".
    static const QStringList& domesticProxyBypassDomains();

    OrvaneTrafficRules() = delete;
};

} // namespace orvane
