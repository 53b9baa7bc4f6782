#include "IsolatedRuntimeProfile.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::test {

namespace {

// Ports from 20000 up to the ephemeral range (32768 on Linux), where no outgoing connection
// takes one. A block is a claim port, then the 20 proxy ports, then the AI port.
constexpr int kFirstPort = 20000;
constexpr int kEphemeralStart = 32768;
constexpr int kBlockSize = 22;

// A socket bound to 127.0.0.1:port (listening when asked), or -1.
int bindLoopback(int port, bool listen) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listen && ::listen(fd, 1) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first proxy port of this process's block. The claim port's listening socket is the lock:
// the kernel lets one process hold it and drops it when that process ends.
int claimedFirstPort() {
    static const int first = [] {
        const int blocks = (kEphemeralStart - kFirstPort) / kBlockSize;
        const int start = static_cast<int>(::getpid() % blocks);
        for (int i = 0; i < blocks; ++i) {
            const int claim = kFirstPort + ((start + i) % blocks) * kBlockSize;
            const int lock = bindLoopback(claim, true);
            if (lock < 0) {
                continue;
            }
            bool free = true;
            for (int port = claim + 1; free && port < claim + kBlockSize; ++port) {
                const int probe = bindLoopback(port, false);
                free = probe >= 0;
                if (free) {
                    ::close(probe);
                }
            }
            if (free) {
                return claim + 1; // `lock` stays open until the process ends
            }
            ::close(lock);
        }
        qFatal("no free block of %d loopback ports below %d", kBlockSize, kEphemeralStart);
        return 0;
    }();
    return first;
}

} // namespace

RuntimeProfile isolatedRuntimeProfile(const QString& marker) {
    RuntimeProfile profile;
    profile.firstProxyPort = claimedFirstPort();
    profile.proxyPortCount = 20;
    profile.aiProxyPort = profile.firstProxyPort + profile.proxyPortCount;
    profile.ownershipMarkers = {marker};
    return profile;
}

} // namespace orvane::test
