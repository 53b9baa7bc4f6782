#pragma once

namespace orvane {

// The connection of one packet-tunnel configuration. Nothing runs a tunnel on this platform,
// so a stop only records that it was asked for.
class TunnelConnection {
public:
    void stopVPNTunnel();
    int stopCount() const { return m_stopCount; }

private:
    int m_stopCount = 0;
};

} // namespace orvane
