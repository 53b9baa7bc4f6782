#pragma once

#include "RuntimeProfile.h"

#include <QString>

namespace orvane::test {

// Loopback ports and a sing-box marker for this test process alone. The ports are a block
// below the kernel's ephemeral range that no other process holds (a test run of another clone
// included), never the application's 19090-19110; the block stays claimed until the process
// ends. `marker` is text only this test's sing-box command lines hold, such as the path of its
// temporary home, so the engine never signals a sing-box it did not start.
RuntimeProfile isolatedRuntimeProfile(const QString& marker);

} // namespace orvane::test
