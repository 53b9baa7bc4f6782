#include "SystemErrorText.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

namespace orvane {

namespace {

struct Reason {
    int error;
    const char16_t* text;
};

constexpr Reason kReasons[] = {
    {EACCES, u"没有访问权限"},
    {EPERM, u"操作不被允许"},
    {ENOENT, u"文件或文件夹不存在"},
    {EISDIR, u"目标是文件夹，不是文件"},
    {ENOTDIR, u"路径中有一级不是文件夹"},
    {ENOSPC, u"磁盘空间不足"},
    {EDQUOT, u"超出磁盘配额"},
    {EROFS, u"文件系统为只读"},
    {EEXIST, u"文件已存在"},
    {ENAMETOOLONG, u"文件名过长"},
    {EIO, u"磁盘读写出错"},
};

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString SystemErrorText::fromErrno(int error) {
    for (const Reason& reason : kReasons) {
        if (reason.error == error) {
            return QString::fromUtf16(reason.text);
        }
    }
    return systemText(error);
}

QString SystemErrorText::fromFileDevice(const QFileDevice& device) {
    // QFile keeps only the words of the errno it met, so the words lead back to the case.
    const QString words = device.errorString();
    for (const Reason& reason : kReasons) {
        if (words == qt_error_string(reason.error) || words == systemText(reason.error)) {
            return QString::fromUtf16(reason.text);
        }
    }
    return words;
}

} // namespace orvane
