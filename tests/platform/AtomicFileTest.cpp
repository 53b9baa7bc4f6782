#include "AtomicFile.h"
#include "AppFolders.h"
#include "SystemErrorText.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace orvane;

namespace {

mode_t modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return 0;
    }
    return st.st_mode & 07777;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(AtomicFileTest, CreatesFileAndMissingFoldersPrivately) {
    test::TempHome home;
    const QString dir = AppFolders::applicationSupportDirectory() + QStringLiteral("/Protocols");
    const QString path = dir + QStringLiteral("/orvane-active.json");
    const mode_t oldMask = ::umask(0022);
    AtomicFile::write(path, "{\"a\":1}");
    ::umask(oldMask);

    EXPECT_EQ(readAll(path), QByteArray("{\"a\":1}"));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_EQ(modeOf(AppFolders::applicationSupportDirectory()), 0700u);
    // No temporary is left beside the file.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(AtomicFileTest, ReplacesContentAndKeepsRequestedMode) {
    test::TempHome home;
    const QString path = home.root() + QStringLiteral("/f.txt");
    AtomicFile::write(path, "first");
    AtomicFile::write(path, "second, longer");
    EXPECT_EQ(readAll(path), QByteArray("second, longer"));
    AtomicFile::write(path, "", 0644);
    EXPECT_EQ(readAll(path), QByteArray());
    EXPECT_EQ(modeOf(path), 0644u);
}

TEST(AtomicFileTest, ExistingFolderKeepsItsMode) {
    test::TempHome home;
    const QString dir = home.root() + QStringLiteral("/shared");
    QDir().mkpath(dir);
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    AtomicFile::write(dir + QStringLiteral("/x"), "x");
    EXPECT_EQ(modeOf(dir), 0755u);
}

TEST(AtomicFileTest, FailureIsReportedAndLeavesOldContent) {
    test::TempHome home;
    const QString blocker = home.root() + QStringLiteral("/plain-file");
    AtomicFile::write(blocker, "keep");
    // A folder cannot be made below a file.
    EXPECT_THROW(AtomicFile::write(blocker + QStringLiteral("/child"), "x"), FileError);
    EXPECT_EQ(readAll(blocker), QByteArray("keep"));
}

TEST(AtomicFileTest, ReasonsAreToldInChinese) {
    test::TempHome home;
    const QString folder = home.root() + QStringLiteral("/taken");
    ASSERT_TRUE(QDir().mkpath(folder));
    try {
        AtomicFile::write(folder, "x");
        ADD_FAILURE() << "wrote over a folder";
    } catch (const FileError& e) {
        EXPECT_EQ(e.localizedDescription(),
                  QStringLiteral("无法写入文件 %1：目标是文件夹，不是文件").arg(folder));
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());

    EXPECT_EQ(SystemErrorText::fromErrno(EACCES), QStringLiteral("没有访问权限"));
    EXPECT_EQ(SystemErrorText::fromErrno(ENOTDIR), QStringLiteral("路径中有一级不是文件夹"));
    EXPECT_EQ(SystemErrorText::fromErrno(ENOSPC), QStringLiteral("磁盘空间不足"));
    EXPECT_EQ(SystemErrorText::fromErrno(EROFS), QStringLiteral("文件系统为只读"));
    // A rare one keeps the system's own words.
    EXPECT_EQ(SystemErrorText::fromErrno(EPIPE), QString::fromLocal8Bit(std::strerror(EPIPE)));

    // A file's reason, as QFile words it, leads back to the same text.
    QFile missing(home.root() + QStringLiteral("/no/such/file"));
    ASSERT_FALSE(missing.open(QIODevice::ReadOnly));
    EXPECT_EQ(SystemErrorText::fromFileDevice(missing), QStringLiteral("文件或文件夹不存在"));
    QFile underAFile(home.root() + QStringLiteral("/plain/child"));
    AtomicFile::write(home.root() + QStringLiteral("/plain"), "x");
    ASSERT_FALSE(underAFile.open(QIODevice::WriteOnly));
    EXPECT_EQ(SystemErrorText::fromFileDevice(underAFile),
              QStringLiteral("路径中有一级不是文件夹"));
}
