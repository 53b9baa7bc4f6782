#include "AppFolders.h"
#include "AtomicFile.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

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
