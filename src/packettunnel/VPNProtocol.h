#pragma once

namespace orvane {

// Base of the protocol configurations the system can hand a tunnel provider. Only its dynamic
// type matters here: a provider accepts the tunnel-provider kind and nothing else.
class VPNProtocol {
public:
    VPNProtocol() = default;
    VPNProtocol(const VPNProtocol&) = default;
    VPNProtocol& operator=(const VPNProtocol&) = default;
    virtual ~VPNProtocol();
};

} // namespace orvane
