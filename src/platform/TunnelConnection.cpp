#include "TunnelConnection.h"

namespace orvane {

void TunnelConnection::stopVPNTunnel() {
    ++m_stopCount;
}

} // namespace orvane
