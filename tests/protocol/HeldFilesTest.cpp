// A file that a session holds open through OpenFile is neither removed nor replaced, by that
// session, by another one, or by the removal of temporary files at a session's end.

#include "ProtocolFixture.h"

#include "PSqlBase.h"

#include <QFile>

#include <sqlite3.h>

namespace {

class HeldFiles : public ProtocolTest
{
protected:
    // The SQL base base.db with the table T, the V4 table t of one text field holding "one", the
    // V3 table v3 of one text of 2 bytes, and a line of text for them.
    void makeTables()
    {
        PSqlBase base;
        ASSERT_TRUE(base.open(local("base.db")) && base.exec("CREATE TABLE T(N INTEGER PRIMARY KEY, Item_1 TEXT)"));
        ASSERT_TRUE(base.close());
        ASSERT_TRUE(writeAll(local("t.bin"), hex("504C4442 00000064 0000002D 00000001 00000000") + QByteArray(21, '\0')
                                                 + hex("01000101 6F6E6500")));
        ASSERT_TRUE(writeAll(local("t.ind"), hex("0000002D 00000004")));
        ASSERT_TRUE(writeAll(local("v3.hdr"), hex("01 01020000")));
        ASSERT_TRUE(writeAll(local("v3.bin"), "zz"));
        ASSERT_TRUE(writeAll(local("in.txt"), "ab\n"));
    }
};

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

TEST_F(HeldFiles, AnOpenSqlBaseAndItsJournalsAreHeldFromEverySession)
{
    makeTables();
    const QByteArray stored = readAll(local("base.db"));
    VorelProtocol other;
    ASSERT_EQ(call(Request("OpenSqlBase").str(terminal("base.db"))), hex("00000001 00000001"));
    // Another connection's transaction makes the base's rollback journal exist for a while.
    sqlite3 *writer = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(local("base.db")).constData(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN; INSERT INTO T(Item_1) VALUES('x')", nullptr, nullptr, nullptr), SQLITE_OK);
    const QByteArray journal = readAll(local("base.db-journal"));
    for (VorelProtocol *session : {&protocol, &other}) {
        for (const char *name : {"base.db", "base.db-journal", "base.db-wal"}) {
            for (const Request &request :
                 {Request("DeleteFile").str(terminal(name)), Request("CreateFile").str(terminal(name)),
                  Request("ConvertTableBinToText").str(terminal("t")).str(terminal(name))})
                EXPECT_EQ(callOn(*session, request), hex("00000000")) << request.bytes().constData() << " " << name;
        }
    }
    EXPECT_FALSE(journal.isEmpty());
    EXPECT_EQ(readAll(local("base.db-journal")), journal);
    EXPECT_FALSE(QFile::exists(local("base.db-wal")));
    EXPECT_EQ(sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(writer);
    EXPECT_EQ(readAll(local("base.db")), stored);

    // Closed, it is a file like any other.
    EXPECT_EQ(call(Request("CloseSqlBase").word(1)), hex("00000001"));
    EXPECT_EQ(callOn(other, Request("DeleteFile").str(terminal("base.db"))), hex("00000001"));
    other.cleanup();
}

// As root the process could write every one of these files; the server does not.
TEST_F(HeldFiles, ReadOnlyFilesAreNeitherWrittenNorRemoved)
{
    makeTables();
    ASSERT_TRUE(writeAll(local("out.txt"), "keep"));
    ASSERT_TRUE(writeAll(local("t.tmp"), "temp"));
    const Request v4 = Request("ConvertTableTextToBin").str(terminal("in.txt")).str(terminal("t"));
    const Request v3 = Request("ConvertTableV3TextToBin").str(terminal("in.txt")).str(terminal("v3"));
    const Request output = Request("ConvertTableBinToText").str(terminal("t")).str(terminal("out.txt"));
    const QFileDevice::Permissions readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    ASSERT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal("t.tmp"))), hex("00000001"));
    const QList<QPair<const char *, Request>> cases = {
        {"v3.bin", v3}, {"t.bin", v4}, {"t.ind", v4}, {"out.txt", output}};
    for (const auto &test : cases) {
        const QByteArray before = readAll(local(test.first));
        ASSERT_TRUE(QFile::setPermissions(local(test.first), readOnly));
        EXPECT_EQ(call(test.second), hex("00000000")) << test.first;
        EXPECT_EQ(readAll(local(test.first)), before) << test.first;
        EXPECT_EQ(QFile::permissions(local(test.first)) & (readOnly | QFile::WriteOwner), readOnly) << test.first;
        ASSERT_TRUE(QFile::setPermissions(local(test.first), readOnly | QFile::WriteOwner));
    }
    // A read-only base opens, read-only: nothing goes into it.
    const QByteArray base = readAll(local("base.db"));
    ASSERT_TRUE(QFile::setPermissions(local("base.db"), readOnly));
    EXPECT_EQ(call(Request("OpenSqlBase").str(terminal("base.db"))), hex("00000001 00000001"));
    EXPECT_EQ(call(Request("ConvertSqlTableTextToBin").str(terminal("in.txt")).str("T")), hex("00000000"));
    EXPECT_EQ(readAll(local("base.db")), base);
    // Nor does the end of the session remove a read-only temporary file.
    ASSERT_TRUE(QFile::setPermissions(local("t.tmp"), readOnly));
    protocol.cleanup();
    EXPECT_EQ(readAll(local("t.tmp")), QByteArray("temp"));
}
