#pragma once

#include "StandinHome.h"

namespace orvane::standin {

// Holds an exclusive lock on the home's lock file, so read-modify-write of a state file by
// several stand-ins (a shell batch, parallel engine calls) never loses an update.
class StandinLock {
public:
    explicit StandinLock(const StandinHome& home);
    ~StandinLock();
    StandinLock(const StandinLock&) = delete;
    StandinLock& operator=(const StandinLock&) = delete;

private:
    int m_fd = -1;
};

} // namespace orvane::standin
