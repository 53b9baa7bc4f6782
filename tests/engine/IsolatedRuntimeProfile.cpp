#include "IsolatedRuntimeProfile.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::test {

namespace {

// A socket bound to 127.0.0.1:port, listening when asked; -1 when the port is taken.
int bindLoopback(int port, bool listen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                    (listen && ::listen(fd, 1) != 0))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Blocks of 22 ports from 20000 up to the kernel's ephemeral ports (32768): a claim port, the 20
// proxy ports, the AI port. Listening on the claim port is the lock: one process at a time
// holds it, and the kernel lets go when that process ends.
int claimFirstProxyPort() {
    constexpr int kFirst = 20000, kBlock = 22, kBlocks = (32768 - kFirst) / kBlock;
    for (int i = 0; i < kBlocks; ++i) {
        const int claim = kFirst + static_cast<int>((::getpid() + i) % kBlocks) * kBlock;
        const int lock = bindLoopback(claim, true);
        bool free = lock >= 0;
        for (int port = claim + 1; free && port < claim + kBlock; ++port) {
            const int probe = bindLoopback(port, false);
            free = probe >= 0;
            ::close(probe);
        }
        if (free) {
            return claim + 1; // `lock` stays open for the life of the process
        }
        ::close(lock);
    }
    qFatal("no free block of loopback ports");
}

} // namespace

RuntimeProfile isolatedRuntimeProfile(const QString& marker) {
    static const int first = claimFirstProxyPort();
    RuntimeProfile profile;
    profile.firstProxyPort = first;
    profile.aiProxyPort = first + profile.proxyPortCount;
    profile.ownershipMarkers = {marker};
    return profile;
}

} // namespace orvane::test
