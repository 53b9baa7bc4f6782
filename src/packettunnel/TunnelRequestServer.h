#pragma once

#include "PacketTunnelProviderBase.h"

#include <QByteArray>

#include <iosfwd>

namespace orvane {

// Serves start and stop requests to a provider, one JSON line in, one JSON line out. The line
// protocol is described at the top of main.cpp.
class TunnelRequestServer {
public:
    explicit TunnelRequestServer(PacketTunnelProviderBase& provider);

    // The answer to one request line, without its line feed; empty for a blank line.
    QByteArray answer(const QByteArray& line);

    // Answers every line until the end of input; the exit status of the process.
    int serve(std::istream& in, std::ostream& out);

private:
    PacketTunnelProviderBase& m_provider;
};

} // namespace orvane
