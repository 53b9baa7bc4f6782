// orvane-packet-tunnel: the packet-tunnel extension's entry.
//
// It serves start and stop requests to PacketTunnelProvider over standard input and output:
// one request per line, each a JSON object, answered by exactly one JSON line, flushed before
// the next line is read. Blank lines are skipped. End of input ends the process with status 0.
//
// Requests
//   {"id":<any>,"op":"start","protocolConfigurationClass":"<name>",
//    "providerConfiguration":{...},"options":{...}}
//       "protocolConfigurationClass" defaults to "TunnelProviderProtocol"; any other name hands
//       the provider a protocol configuration of another class. "providerConfiguration" absent
//       or null means the tunnel protocol carries none. "options" is passed on and ignored.
//   {"id":<any>,"op":"stop","reason":<integer>}
//       "reason" defaults to 0.
//   "id" is optional and echoed unchanged in the answer.
//
// Answers
//   {"id":1,"op":"start","ok":false,"error":{"domain":"…","code":1,"description":"…"}}
//       a start the provider failed: the error as the system receives it.
//   {"id":2,"op":"stop","ok":true}
//   {"id":3,"op":"…","ok":false,"error":{"description":"…"}}
//       a request that could not be served (not JSON, not an object, unknown op, a field of
//       the wrong type); "id" and "op" appear when the request had them. The process goes on
//       serving.

#include "PacketTunnelProvider.h"
#include "TunnelRequestServer.h"

#include <iostream>

int main() {
    orvane::PacketTunnelProvider provider;
    orvane::TunnelRequestServer server(provider);
    return server.serve(std::cin, std::cout);
}
