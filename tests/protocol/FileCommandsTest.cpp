#include "ProtocolFixture.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstdint>
#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using FileCommands = ProtocolTest;

namespace {

QByteArray bytesOf(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

} // namespace

TEST_F(FileCommands, HandlesCountFromOneAndAreNeverReused)
{
    ASSERT_TRUE(writeAll(local("a.txt"), "a"));
    ASSERT_TRUE(writeAll(local("ro.txt"), "r"));
    ASSERT_TRUE(QFile::setPermissions(local("ro.txt"), QFile::ReadOwner | QFile::ReadGroup));
    ASSERT_TRUE(QDir().mkdir(local("folder")));

    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("OpenFile (") + terminal("a.txt")
                               + QStringLiteral(")\nresult = 1 handle = 1"));
    EXPECT_EQ(call(Request("CloseFile").word(1)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CloseFile (1)\nresult = 1"));
    EXPECT_EQ(call(Request("CloseFile").word(1)), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CloseFile (1)\nresult = 0"));

    // A missing file uses no number.
    EXPECT_EQ(call(Request("OpenFile").str(terminal("none.txt"))), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("OpenFile (") + terminal("none.txt")
                               + QStringLiteral(")\nresult = 0 handle = 0"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000002"));
    // A read-only file and a folder exist but do not open: each uses a number up, even as root.
    EXPECT_EQ(call(Request("OpenFile").str(terminal("ro.txt"))), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("folder"))), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000005"));

    // A new session starts again at 1, and the old numbers mean nothing there.
    VorelProtocol next;
    EXPECT_EQ(sendExact(next, Request("LengthFile").word(2).bytes()).bytes, hex("00000000 FFFFFFFF"));
    EXPECT_EQ(sendExact(next, Request("OpenFile").str(terminal("a.txt")).bytes()).bytes,
              hex("00000001 00000001"));
}

TEST_F(FileCommands, ReadFileNearTheEnd)
{
    ASSERT_TRUE(writeAll(local("ten.bin"), "0123456789"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("ten.bin"))), hex("00000001 00000001"));

    EXPECT_EQ(call(Request("ReadFile").word(1).word(0)), hex("00000001 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFile (1, 0)\nresult = 1 read = 0"));
    EXPECT_EQ(call(Request("ReadFile").word(1).word(4)), hex("00000001 00000004") + "0123");
    EXPECT_EQ(call(Request("ReadFile").word(1).word(100)), hex("00000000 00000006") + "456789");
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFile (1, 100)\nresult = 0 read = 6"));
    EXPECT_EQ(call(Request("ReadFile").word(1).word(100)), hex("00000000 00000000"));
    // A refused read: the count is negative.
    EXPECT_EQ(call(Request("ReadFile").word(1).word(0xFFFFFFFF)), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFile (1, -1)\nresult = 0 read = -1"));
    EXPECT_EQ(call(Request("ReadFile").word(7).word(4)), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFile (7, 4)\nresult = 0 read = 0"));
}

// The data of a large read sit where the kernel copies them at full speed (a few bytes past the
// file pages' alignment costs three quarters of the read's speed), and the reply is unchanged.
TEST_F(FileCommands, ReadFileDataLieWhereTheKernelCopiesThemFast)
{
    const QByteArray content = bytesOf(0x100000);
    ASSERT_TRUE(writeAll(local("block.bin"), content));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("block.bin"))), hex("00000001 00000001"));

    EXPECT_EQ(call(Request("ReadFile").word(1).word(0x100000)), hex("00000001 00100000") + content);
    const auto dataAt = reinterpret_cast<std::uintptr_t>(protocol.reply() + 8);
    EXPECT_EQ(dataAt % 4096, VorelProtocol::kReadDataInPage);
}

TEST_F(FileCommands, CountsAreLimitedToTheLargestPayload)
{
    const QByteArray content = bytesOf(0x180000);
    ASSERT_TRUE(writeAll(local("big.bin"), content));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("big.bin"))), hex("00000001 00000001"));

    const QByteArray reply = call(Request("ReadFile").word(1).word(2000000));
    EXPECT_EQ(reply.left(8), hex("00000001 00100000"));
    EXPECT_EQ(reply.mid(8), content.left(0x100000));
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFile (1, 1048576)\nresult = 1 read = 1048576"));

    // Hex text: the reply of the largest count is exactly the largest payload.
    ASSERT_EQ(call(Request("SeekFile").word(1).word(0)), hex("00000001"));
    const QByteArray text = call(Request("ReadFileText").word(1).word(2000000));
    ASSERT_EQ(text.size(), 1048576);
    EXPECT_EQ(text.left(8), hex("00000001 000FFFF8"));
    EXPECT_EQ(QByteArray::fromHex(text.mid(8)), content.left(524284));
    EXPECT_EQ(text.mid(8).toUpper(), text.mid(8));
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFileText (1, 524284)\nresult = 1 read = 524284"));
}

TEST_F(FileCommands, ReadFileTextAnswersHexText)
{
    ASSERT_TRUE(writeAll(local("t.bin"), QByteArray("\x00\xAB\xFF\x10", 4)));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("t.bin"))), hex("00000001 00000001"));
    EXPECT_EQ(call(Request("ReadFileText").word(1).word(3)), hex("00000001 00000006") + "00ABFF");
    EXPECT_EQ(lastEntry(), QStringLiteral("ReadFileText (1, 3)\nresult = 1 read = 3"));
    EXPECT_EQ(call(Request("ReadFileText").word(1).word(5)), hex("00000000 00000002") + "10");
    EXPECT_EQ(call(Request("ReadFileText").word(1).word(0xFFFFFFFF)), hex("00000000 FFFFFFFE"));
    EXPECT_EQ(call(Request("ReadFileText").word(2).word(1)), hex("00000000 00000000"));
}

TEST_F(FileCommands, WriteFileStoresAtThePositionAndOthersSeeItAtOnce)
{
    ASSERT_TRUE(writeAll(local("w.bin"), "abcdef"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("w.bin"))), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("SeekFile").word(1).word(2)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SeekFile (1, 2)\nresult = 1"));

    EXPECT_EQ(call(Request("WriteFile").word(1).word(3).raw("XYZ")), hex("00000001 00000003"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (1, 3)\nresult = 1 write = 3"));
    // The handle is still open: another reader sees the bytes without a flush.
    EXPECT_EQ(readAll(local("w.bin")), QByteArray("abXYZf"));
    EXPECT_EQ(call(Request("ReadFile").word(1).word(1)), hex("00000001 00000001") + "f");

    EXPECT_EQ(call(Request("WriteFile").word(1).word(0)), hex("00000001 00000000"));
    EXPECT_EQ(call(Request("WriteFile").word(9).word(1).raw("Q")), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (9, 1)\nresult = 0 write = 0"));
    // A negative count is refused by the file layer.
    EXPECT_EQ(call(Request("WriteFile").word(1).word(0xFFFFFFFE)), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (1, -2)\nresult = 0 write = -1"));
    EXPECT_EQ(readAll(local("w.bin")), QByteArray("abXYZf"));
}

// The file layer refuses a negative count with -1: for a count of -1 that equals the count
// asked for, yet nothing was written.
TEST_F(FileCommands, NegativeWriteCountsAnswerFailure)
{
    ASSERT_TRUE(writeAll(local("n.bin"), "abc"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("n.bin"))), hex("00000001 00000001"));
    EXPECT_EQ(call(Request("WriteFile").word(1).word(0xFFFFFFFF).raw("XY")), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (1, -1)\nresult = 0 write = -1"));
    EXPECT_EQ(call(Request("WriteFileText").word(1).word(0xFFFFFFFF).raw("4142")), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFileText (1, -1)\nresult = 0 write = -1"));
    EXPECT_EQ(call(Request("WriteFile").word(1).word(0x80000000)), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(readAll(local("n.bin")), QByteArray("abc"));
}

TEST_F(FileCommands, WriteCountBeyondThePayloadIsRefused)
{
    ASSERT_TRUE(writeAll(local("w.bin"), "abcdef"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("w.bin"))), hex("00000001 00000001"));
    // The buffer behind the payload holds bytes that must never be written.
    const QByteArray buffer = Request("WriteFile").word(1).word(4).raw("XYZW").bytes();
    const Reply stale = sendWithStale(protocol, buffer, buffer.size() - 1);
    EXPECT_EQ(stale.bytes, hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (1, 4)\nresult = 0 write = 0"));
    EXPECT_EQ(call(Request("WriteFileText").word(1).word(2).raw("414")), hex("00000000 00000000"));
    EXPECT_EQ(readAll(local("w.bin")), QByteArray("abcdef"));
    EXPECT_EQ(call(Request("ReadFile").word(1).word(1)), hex("00000001 00000001") + "a");
}

TEST_F(FileCommands, WriteFileTextDecodesUpperCaseHex)
{
    ASSERT_TRUE(writeAll(local("h.bin"), ""));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("h.bin"))), hex("00000001 00000001"));
    EXPECT_EQ(call(Request("WriteFileText").word(1).word(2).raw("0AFF")), hex("00000001 00000002"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFileText (1, 2)\nresult = 1 write = 2"));
    // Lower-case digits count 0.
    EXPECT_EQ(call(Request("WriteFileText").word(1).word(2).raw("0aff")), hex("00000001 00000002"));
    EXPECT_EQ(readAll(local("h.bin")), QByteArray("\x0A\xFF\x00\x00", 4));
    EXPECT_EQ(call(Request("WriteFileText").word(2).word(1).raw("41")), hex("00000000 00000000"));
}

TEST_F(FileCommands, FailedWriteReachesTheReply)
{
    ASSERT_TRUE(writeAll(local("f.bin"), "0123"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("f.bin"))), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("SeekFile").word(1).word(0x200000)), hex("00000001"));
    // A file size limit of 1 MiB makes the write at 2 MiB fail with EFBIG; the debug log, far
    // smaller, is still written.
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 0x100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QByteArray reply = call(Request("WriteFile").word(1).word(4).raw("DATA"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(reply, hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("WriteFile (1, 4)\nresult = 0 write = -1"));
    EXPECT_EQ(readAll(local("f.bin")), QByteArray("0123"));
}

// A FIFO, socket or device is a path that cannot be opened: a read from it could wait for ever.
TEST_F(FileCommands, OnlyRegularFilesOpen)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(local("pipe")).constData(), 0666), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketName = QFile::encodeName(local("sock"));
    ASSERT_LT(size_t(socketName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketName.constData(), size_t(socketName.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_TRUE(writeAll(local("a.txt"), "a"));

    // Each uses a number up, as a folder does.
    EXPECT_EQ(call(Request("OpenFile").str(terminal("pipe"))), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("OpenFile (") + terminal("pipe")
                               + QStringLiteral(")\nresult = 0 handle = 0"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("sock"))), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("OpenFile").str("C:\\dev\\ptmx")), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("OpenFile").str("C:\\dev\\null")), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000005"));
    EXPECT_EQ(call(Request("ReadFile").word(1).word(1)), hex("00000000 00000000"));

    // CreateFile neither replaces them nor waits on them.
    EXPECT_EQ(call(Request("CreateFile").str(terminal("pipe"))), hex("00000000"));
    EXPECT_EQ(call(Request("CreateFile").str(terminal("sock"))), hex("00000000"));
    EXPECT_EQ(call(Request("CreateFile").str("C:\\dev\\null")), hex("00000000"));
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(local("pipe")).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(::stat(QFile::encodeName(local("sock")).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    ::close(listener);
}

TEST_F(FileCommands, SeekTrimAndLength)
{
    ASSERT_TRUE(writeAll(local("s.bin"), "0123456789"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("s.bin"))), hex("00000001 00000001"));

    EXPECT_EQ(call(Request("LengthFile").word(1)), hex("00000001 0000000A"));
    EXPECT_EQ(lastEntry(), QStringLiteral("LengthFile (1)\nresult = 1 length = 10"));
    EXPECT_EQ(call(Request("SeekFile").word(1).word(20)), hex("00000001"));
    EXPECT_EQ(call(Request("SeekFile").word(1).word(0xFFFFFFFF)), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SeekFile (1, -1)\nresult = 0"));
    EXPECT_EQ(call(Request("SeekFile").word(3).word(0)), hex("00000000"));

    // Writing past the end fills the gap with zero bytes.
    EXPECT_EQ(call(Request("SeekFile").word(1).word(12)), hex("00000001"));
    EXPECT_EQ(call(Request("WriteFile").word(1).word(1).raw("E")), hex("00000001 00000001"));
    EXPECT_EQ(readAll(local("s.bin")), QByteArray("0123456789\0\0E", 13));

    EXPECT_EQ(call(Request("TrimFile").word(1).word(4)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("TrimFile (1, 4)\nresult = 1"));
    EXPECT_EQ(readAll(local("s.bin")), QByteArray("0123"));
    EXPECT_EQ(call(Request("TrimFile").word(1).word(6)), hex("00000001"));
    EXPECT_EQ(readAll(local("s.bin")), QByteArray("0123\0\0", 6));
    EXPECT_EQ(call(Request("TrimFile").word(1).word(0xFFFFFFFF)), hex("00000000"));
    EXPECT_EQ(call(Request("TrimFile").word(1).word(0)), hex("00000001"));
    EXPECT_EQ(call(Request("LengthFile").word(1)), hex("00000001 00000000"));
    EXPECT_EQ(call(Request("TrimFile").word(2).word(0)), hex("00000000"));

    EXPECT_EQ(call(Request("LengthFile").word(2)), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(lastEntry(), QStringLiteral("LengthFile (2)\nresult = 0 length = -1"));
}

TEST_F(FileCommands, FilesLeftOpenAreClosedByCleanup)
{
    ASSERT_TRUE(writeAll(local("o.bin"), "x"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("o.bin"))), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("o.bin"))), hex("00000001 00000002"));
    protocol.cleanup();
    EXPECT_EQ(call(Request("ReadFile").word(1).word(1)), hex("00000000 00000000"));
    EXPECT_EQ(call(Request("WriteFile").word(2).word(1).raw("y")), hex("00000000 00000000"));
    EXPECT_EQ(readAll(local("o.bin")), QByteArray("x"));
}
