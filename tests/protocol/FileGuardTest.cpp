#include "FileGuard.h"
#include "TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using platform::FileHold;
using platform::isHeldFile;
using platform::isReadOnlyFile;
using platform::isRegularFile;
using platform::openRegularFile;
using platform::removeUnheldFile;
using platform::replaceRegularFile;

TEST(FileGuard, OpensRegularFilesInEveryMode)
{
    TempDir dir;
    const QString name = dir.file(QStringLiteral("a.txt"));
    ASSERT_TRUE(writeAll(name, "hello"));

    QFile file;
    ASSERT_TRUE(openRegularFile(file, name, QIODevice::ReadWrite | QIODevice::Unbuffered));
    EXPECT_EQ(file.size(), 5);
    EXPECT_EQ(file.read(5), QByteArray("hello"));
    ASSERT_TRUE(file.seek(0));
    EXPECT_EQ(file.write("J", 1), 1);
    ASSERT_TRUE(file.resize(3));
    file.close();
    EXPECT_EQ(readAll(name), QByteArray("Jel"));

    // Truncate empties, a writing mode creates, ExistingOnly does not.
    ASSERT_TRUE(openRegularFile(file, name, QIODevice::ReadWrite | QIODevice::Truncate));
    EXPECT_EQ(file.size(), 0);
    file.close();
    QFile created;
    ASSERT_TRUE(openRegularFile(created, dir.file(QStringLiteral("new.txt")), QIODevice::WriteOnly));
    created.close();
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("new.txt"))));
    const QString missing = dir.file(QStringLiteral("missing.txt"));
    QFile absent;
    EXPECT_FALSE(openRegularFile(absent, missing, QIODevice::ReadWrite | QIODevice::ExistingOnly));
    EXPECT_FALSE(openRegularFile(absent, missing, QIODevice::ReadOnly));
    EXPECT_FALSE(QFile::exists(missing));
}

TEST(FileGuard, RefusesFifosDevicesSocketsAndFoldersWithoutWaiting)
{
    TempDir dir;
    const QString fifo = dir.file(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    const QString socketPath = dir.file(QStringLiteral("sock"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(native.size()), sizeof address.sun_path);
    memcpy(address.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    const auto start = std::chrono::steady_clock::now();
    for (const QString &path : {fifo, socketPath, QStringLiteral("/dev/ptmx"), QStringLiteral("/dev/null"), dir.path()}) {
        QFile file;
        for (QIODevice::OpenMode mode : {QIODevice::OpenMode(QIODevice::ReadOnly), QIODevice::OpenMode(QIODevice::ReadWrite), QIODevice::WriteOnly | QIODevice::Truncate}) {
            errno = 0;
            EXPECT_FALSE(openRegularFile(file, path, mode)) << path.toStdString();
            EXPECT_NE(errno, 0);
            EXPECT_FALSE(file.isOpen());
        }
        EXPECT_FALSE(isRegularFile(path)) << path.toStdString();
    }
    // A FIFO without a writer would have held a plain open for reading until one came.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ::close(listener);
}

TEST(FileGuard, ReadOnlyMeansNoWriteBit)
{
    TempDir dir;
    const QString file = dir.file(QStringLiteral("f"));
    ASSERT_TRUE(writeAll(file, "x"));
    EXPECT_FALSE(isReadOnlyFile(file));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteGroup));
    EXPECT_FALSE(isReadOnlyFile(file));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    EXPECT_TRUE(isReadOnlyFile(file));
    EXPECT_FALSE(isReadOnlyFile(dir.file(QStringLiteral("missing"))));
}

TEST(FileGuard, AHeldFileCannotBeRemovedUnderAnyOfItsNames)
{
    TempDir dir;
    const QString name = dir.file(QStringLiteral("held.txt"));
    const QString link = dir.file(QStringLiteral("hard.txt"));
    const QString symlink = dir.file(QStringLiteral("soft.txt"));
    ASSERT_TRUE(writeAll(name, "data"));
    ASSERT_EQ(::link(QFile::encodeName(name).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(QFile::link(name, symlink));

    QFile file;
    FileHold hold;
    ASSERT_TRUE(openRegularFile(file, name, QIODevice::ReadWrite, &hold));
    EXPECT_TRUE(hold.isHeld());
    EXPECT_TRUE(isHeldFile(name));
    EXPECT_TRUE(isHeldFile(symlink));

    errno = 0;
    EXPECT_FALSE(removeUnheldFile(name));
    EXPECT_EQ(errno, EBUSY);
    EXPECT_FALSE(removeUnheldFile(link));
    EXPECT_TRUE(QFile::exists(name));
    EXPECT_TRUE(QFile::exists(link));
    // The link is not the file: removing it loses nothing.
    EXPECT_TRUE(removeUnheldFile(symlink));

    // Two holds on one file: it stays held until both are gone.
    QFile second;
    FileHold secondHold;
    ASSERT_TRUE(openRegularFile(second, link, QIODevice::ReadOnly, &secondHold));
    FileHold moved(std::move(hold));
    EXPECT_FALSE(hold.isHeld());
    moved.release();
    EXPECT_FALSE(removeUnheldFile(name));
    secondHold.release();
    file.close();
    second.close();
    EXPECT_FALSE(isHeldFile(name));
    EXPECT_TRUE(removeUnheldFile(name));
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_FALSE(removeUnheldFile(dir.path()));
    EXPECT_FALSE(removeUnheldFile(name));
}

TEST(FileGuard, OpensAndRemovalsFromManyThreadsNeverRemoveAHeldFile)
{
    TempDir dir;
    const QString name = dir.file(QStringLiteral("race.txt"));
    std::atomic<bool> done{false};
    std::atomic<int> lost{0};
    std::thread holder([&] {
        for (int i = 0; i < 300; ++i) {
            QFile file;
            FileHold hold;
            if (!openRegularFile(file, name, QIODevice::ReadWrite, &hold))
                continue;
            // While held, the name must still lead to this very file.
            struct stat opened, named;
            if (::fstat(file.handle(), &opened) != 0 || ::stat(QFile::encodeName(name).constData(), &named) != 0
                || opened.st_ino != named.st_ino)
                ++lost;
        }
        done = true;
    });
    while (!done) {
        removeUnheldFile(name);
        std::this_thread::yield();
    }
    holder.join();
    EXPECT_EQ(lost.load(), 0);
}

// A replacement removes the old file and then opens the name with Truncate. Another session may
// make and hold a file of that name between the two steps: the truncating open leaves it alone.
TEST(FileGuard, AReplacingOpenNeverEmptiesAFileHeldMeanwhile)
{
    TempDir dir;
    const QString name = dir.file(QStringLiteral("out.txt"));
    ASSERT_TRUE(writeAll(name, "old"));
    ASSERT_TRUE(removeUnheldFile(name));
    QFile other;
    FileHold otherHold;
    ASSERT_TRUE(openRegularFile(other, name, QIODevice::ReadWrite | QIODevice::Unbuffered, &otherHold));
    ASSERT_EQ(other.write("other's"), 7);

    QFile mine;
    FileHold myHold;
    errno = 0;
    EXPECT_FALSE(openRegularFile(mine, name, QIODevice::ReadWrite | QIODevice::Truncate, &myHold));
    EXPECT_EQ(errno, EBUSY);
    EXPECT_FALSE(openRegularFile(mine, name, QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_FALSE(replaceRegularFile(mine, name, QIODevice::ReadWrite, &myHold));
    EXPECT_EQ(readAll(name), QByteArray("other's"));
    otherHold.release();
    EXPECT_TRUE(replaceRegularFile(mine, name, QIODevice::ReadWrite, &myHold));
    EXPECT_EQ(readAll(name), QByteArray());
}
