#include "AtomicFile.h"

#include "SystemErrorText.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

FileError::FileError(QString path, QString reason)
    : m_path(std::move(path)), m_reason(std::move(reason)) {}

QString FileError::localizedDescription() const {
    return QStringLiteral("无法写入文件 %1：%2").arg(m_path, m_reason);
}

namespace {

QString errnoText(int err) {
    return SystemErrorText::fromErrno(err);
}

} // namespace

void AtomicFile::makeDirectory(const QString& path, mode_t mode) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    QString cursor = clean;
    while (!cursor.isEmpty() && !QFileInfo(cursor).exists()) {
        missing.prepend(cursor);
        const QString parent = QFileInfo(cursor).path();
        if (parent == cursor) {
            break;
        }
        cursor = parent;
    }
    for (const QString& dir : missing) {
        const QByteArray native = QFile::encodeName(dir);
        if (::mkdir(native.constData(), mode) != 0 && errno != EEXIST) {
            throw FileError(dir, errnoText(errno));
        }
        // mkdir applies the umask; the folder must have exactly `mode`.
        ::chmod(native.constData(), mode);
    }
    if (!QFileInfo(clean).isDir()) {
        throw FileError(clean, QStringLiteral("不是文件夹"));
    }
}

void AtomicFile::write(const QString& path, const QByteArray& data, mode_t mode) {
    const QFileInfo info(path);
    makeDirectory(info.absolutePath());

    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        throw FileError(path, errnoText(errno));
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.constData());
        throw FileError(path, errnoText(err));
    };
    // mkstemp creates 0600; set the wanted mode before any byte is written.
    if (::fchmod(fd, mode) != 0) {
        fail(errno);
    }
    const char* cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, cursor, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        cursor += n;
        left -= n;
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        throw FileError(path, errnoText(err));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        throw FileError(path, errnoText(err));
    }
}

} // namespace orvane
