// A file that a session holds open through OpenFile is neither removed nor replaced, by that
// session, by another one, or by the removal of temporary files at a session's end.

#include "ProtocolFixture.h"

#include <QFile>

using HeldFiles = ProtocolTest;

namespace {

QByteArray callOn(VorelProtocol &protocol, const Request &request)
{
    const Reply reply = sendExact(protocol, request.bytes());
    EXPECT_TRUE(reply.known);
    return reply.bytes;
}

} // namespace

TEST_F(HeldFiles, TheHoldingSessionCannotReplaceOrDeleteIt)
{
    ASSERT_TRUE(writeAll(local("held.txt"), "old"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("held.txt"))), hex("00000001 00000001"));

    EXPECT_EQ(call(Request("CreateFile").str(terminal("held.txt"))), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CreateFile (") + terminal("held.txt")
                               + QStringLiteral(")\nresult = 0"));
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("held.txt"))), hex("00000000"));
    // Under another spelling of its name it is still the same file.
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("HELD.TXT"))), hex("00000000"));
    EXPECT_EQ(readAll(local("held.txt")), QByteArray("old"));

    // The writes through the handle reach the file that stays on disk.
    EXPECT_EQ(call(Request("WriteFile").word(1).word(4).raw("new!")), hex("00000001 00000004"));
    EXPECT_EQ(call(Request("CloseFile").word(1)), hex("00000001"));
    EXPECT_EQ(readAll(local("held.txt")), QByteArray("new!"));

    // Closed, it behaves as any other file.
    EXPECT_EQ(call(Request("CreateFile").str(terminal("held.txt"))), hex("00000001"));
    EXPECT_EQ(readAll(local("held.txt")), QByteArray());
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("held.txt"))), hex("00000001"));
    EXPECT_FALSE(QFile::exists(local("held.txt")));
}

TEST_F(HeldFiles, AnotherSessionCannotReplaceOrDeleteIt)
{
    ASSERT_TRUE(writeAll(local("shared.txt"), "abc"));
    ASSERT_TRUE(writeAll(local("free.txt"), "xyz"));
    VorelProtocol other;
    ASSERT_TRUE(other.isReady());
    ASSERT_EQ(callOn(other, Request("OpenFile").str(terminal("shared.txt"))), hex("00000001 00000001"));

    EXPECT_EQ(call(Request("CreateFile").str(terminal("shared.txt"))), hex("00000000"));
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("shared.txt"))), hex("00000000"));
    // Both sessions may hold it; either hold keeps it.
    ASSERT_EQ(call(Request("OpenFile").str(terminal("shared.txt"))), hex("00000001 00000001"));
    EXPECT_EQ(callOn(other, Request("WriteFile").word(1).word(3).raw("ABC")), hex("00000001 00000003"));
    EXPECT_EQ(callOn(other, Request("CloseFile").word(1)), hex("00000001"));
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("shared.txt"))), hex("00000000"));
    EXPECT_EQ(readAll(local("shared.txt")), QByteArray("ABC"));

    // A file that nobody holds is replaced and deleted as before.
    EXPECT_EQ(call(Request("CreateFile").str(terminal("free.txt"))), hex("00000001"));
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("free.txt"))), hex("00000001"));

    // The end of the holding session lets go of it.
    protocol.cleanup();
    EXPECT_EQ(callOn(other, Request("DeleteFile").str(terminal("shared.txt"))), hex("00000001"));
    other.cleanup();
}

TEST_F(HeldFiles, TemporaryFilesHeldByAnotherSessionStay)
{
    ASSERT_TRUE(writeAll(local("t1.tmp"), "held"));
    ASSERT_TRUE(writeAll(local("t2.tmp"), "own"));
    VorelProtocol other;
    ASSERT_TRUE(other.isReady());
    ASSERT_EQ(callOn(other, Request("OpenFile").str(terminal("t1.tmp"))), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal("t1.tmp"))), hex("00000001"));
    ASSERT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal("t2.tmp"))), hex("00000001"));
    // The session's own open handle is closed before its temporary files go.
    ASSERT_EQ(call(Request("OpenFile").str(terminal("t2.tmp"))), hex("00000001 00000001"));

    protocol.cleanup();

    EXPECT_EQ(readAll(local("t1.tmp")), QByteArray("held"));
    EXPECT_FALSE(QFile::exists(local("t2.tmp")));
    EXPECT_EQ(callOn(other, Request("WriteFile").word(1).word(1).raw("H")), hex("00000001 00000001"));
    other.cleanup();
    EXPECT_EQ(readAll(local("t1.tmp")), QByteArray("Held"));
}
