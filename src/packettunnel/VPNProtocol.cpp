#include "VPNProtocol.h"

namespace orvane {

// Out of line so the vtable lives in one object file.
VPNProtocol::~VPNProtocol() = default;

} // namespace orvane
