#include "StandinLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvane::standin {

StandinLock::StandinLock(const StandinHome& home) {
    const QByteArray path = home.file(QStringLiteral(".lock")).toLocal8Bit();
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

StandinLock::~StandinLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

} // namespace orvane::standin
