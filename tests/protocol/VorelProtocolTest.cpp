#include "ProtocolFixture.h"

#include "FileGuard.h"
#include "PDebugLog.h"
#include "TerminalPath.h"
#include "TestSeams.h"
#include "Version.h"

#include <QFile>
#include <QTextCodec>

namespace {

using Dispatcher = ProtocolTest;

struct UnknownRow
{
    const char *label;
    QByteArray payload;
};

class UnknownName : public ProtocolTest, public ::testing::WithParamInterface<UnknownRow>
{
};

} // namespace

TEST_F(Dispatcher, ConnectAnswersOkAndChangesNothing)
{
    ASSERT_TRUE(writeAll(local("a.txt"), "data"));
    const QByteArray open = call(Request("OpenFile").str(terminal("a.txt")));
    ASSERT_EQ(open, hex("00000001 00000001"));

    EXPECT_EQ(call(Request("CONNECT")), QByteArray("OK"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CONNECT request: OK"));
    // The open file and the handle count are untouched.
    EXPECT_EQ(call(Request("LengthFile").word(1)), hex("00000001 00000004"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000002"));
}

TEST_F(Dispatcher, NameWithoutItsNulIsStillTheName)
{
    const Reply reply = sendExact(protocol, QByteArray("CONNECT"));
    EXPECT_TRUE(reply.known);
    EXPECT_EQ(reply.bytes, QByteArray("OK"));
}

TEST_P(UnknownName, EndsTheSessionWithoutReplyOrLogEntry)
{
    // A valid exchange first: an unknown name must not replay its reply.
    ASSERT_EQ(call(Request("GetDelimeter")), hex("00000001 0000003B"));
    const int entries = logEntries().size();

    const Reply reply = sendExact(protocol, GetParam().payload);
    EXPECT_FALSE(reply.known);
    EXPECT_EQ(logEntries().size(), entries);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UnknownName,
    ::testing::Values(UnknownRow{"LowerCase", QByteArray("connect\0", 8)},
                      UnknownRow{"EmptyPayload", QByteArray()},
                      UnknownRow{"EmptyName", QByteArray("\0CONNECT\0", 9)},
                      UnknownRow{"PrefixOfAName", QByteArray("Open\0", 5)},
                      UnknownRow{"NameWithMore", QByteArray("CONNECTX\0", 9)},
                      UnknownRow{"TrailingBlank", QByteArray("GetDelimeter \0", 14)}),
    [](const ::testing::TestParamInfo<UnknownRow> &info) { return std::string(info.param.label); });

TEST_F(Dispatcher, EveryKnownNameKeepsTheSession)
{
    // The bare names: handlers with missing arguments still answer.
    const char *names[] = {"CONNECT", "OpenFile", "OpenSqlBase", "CloseFile", "SetFuture",
                           "GetFuture", "CloseSqlBase", "ReadFile", "ReadFileText", "WriteFile",
                           "WriteFileText", "ExistFile", "ExistDir", "SeekFile", "DeleteFile",
                           "CreateFile", "DeleteDir", "CreateDir", "LengthFile", "TrimFile",
                           "FindFirstFile", "FindNextFile", "FindFirstFileFull",
                           "FindNextFileFull", "FindFirstDir", "FindNextDir", "FindClose",
                           "SetIndicator", "SetMessage", "ConvertTableBinToText",
                           "ConvertTableTextToBin", "ConvertSqlTableTextToBin",
                           "ConvertTableV3TextToBin", "ExecuteCommand", "GetDelimeter",
                           "GetFileDate"};
    for (const char *name : names) {
        const Reply reply = sendExact(protocol, Request(name).bytes());
        EXPECT_TRUE(reply.known) << name;
        EXPECT_FALSE(reply.bytes.isEmpty()) << name;
    }
    // One entry per command.
    EXPECT_EQ(logEntries().size(), 36);
}

namespace {

struct FutureRow
{
    const char *label;
    const char *key;
    QByteArray reply;
    const char *log;
};

class GetFuture : public ProtocolTest, public ::testing::WithParamInterface<FutureRow>
{
};

} // namespace

TEST_P(GetFuture, AnswersTheKey)
{
    EXPECT_EQ(call(Request("GetFuture").str(QByteArray(GetParam().key))), GetParam().reply);
    EXPECT_EQ(lastEntry(), QString::fromUtf8(GetParam().log));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GetFuture,
    ::testing::Values(
        FutureRow{"ServerVersion", "ServerVersion", hex("00000001 00000004") + "2.04",
                  "GetFuture (ServerVersion)\nresult = 1 answer = 2.04"},
        FutureRow{"ServerName", "ServerName", hex("00000001 0000000B") + "VorelServer",
                  "GetFuture (ServerName)\nresult = 1 answer = VorelServer"},
        FutureRow{"GetTransmitLength", "GetTransmitLength", hex("00000001 00000007") + "1048576",
                  "GetFuture (GetTransmitLength)\nresult = 1 answer = 1048576"},
        FutureRow{"GetDelimeter", "GetDelimeter", hex("00000001 00000002") + "59",
                  "GetFuture (GetDelimeter)\nresult = 1 answer = 59"},
        FutureRow{"GetCodePage", "GetCodePage", hex("00000001 00000006") + "CP1251",
                  "GetFuture (GetCodePage)\nresult = 1 answer = CP1251"},
        FutureRow{"KeyInOtherCase", "servername", hex("00000000 00000000"),
                  "GetFuture (servername)\nresult = 0 answer = "},
        FutureRow{"UnknownKey", "Nothing", hex("00000000 00000000"),
                  "GetFuture (Nothing)\nresult = 0 answer = "}),
    [](const ::testing::TestParamInfo<FutureRow> &info) { return std::string(info.param.label); });

TEST_F(Dispatcher, GetFutureFollowsProgramAndSettings)
{
    versionText = QStringLiteral("2.05");
    PSettings changed = settings.snapshot();
    changed.tableDelimeter = 9;
    changed.tableCharset = QStringLiteral("KOI8-R");
    settings.store(changed);

    EXPECT_EQ(call(Request("GetFuture").str("ServerVersion")), hex("00000001 00000004") + "2.05");
    EXPECT_EQ(call(Request("GetFuture").str("GetDelimeter")), hex("00000001 00000001") + "9");
    EXPECT_EQ(call(Request("GetFuture").str("GetCodePage")), hex("00000001 00000006") + "KOI8-R");
    EXPECT_EQ(call(Request("GetDelimeter")), hex("00000001 00000009"));
    EXPECT_EQ(lastEntry(), QStringLiteral("GetDelimeter ()\nresult = 1 delim = 9"));
    versionText = QStringLiteral("2.04");
}

TEST_F(Dispatcher, GetDelimeterWithDefaults)
{
    EXPECT_EQ(call(Request("GetDelimeter")), hex("00000001 0000003B"));
    EXPECT_EQ(lastEntry(), QStringLiteral("GetDelimeter ()\nresult = 1 delim = 59"));
}

TEST_F(Dispatcher, SetFutureKeys)
{
    EXPECT_EQ(call(Request("SetFuture").str("SetSortV3Table").str("0")), hex("00000001"));
    EXPECT_FALSE(protocol.isSortV3Table());
    EXPECT_EQ(lastEntry(), QStringLiteral("SetFuture (SetSortV3Table, 0)\nresult = 1"));
    EXPECT_EQ(call(Request("SetFuture").str("SetSortV3Table").str("1")), hex("00000001"));
    EXPECT_TRUE(protocol.isSortV3Table());
    // 0 does not clear it again.
    EXPECT_EQ(call(Request("SetFuture").str("SetSortV3Table").str("0")), hex("00000001"));
    EXPECT_TRUE(protocol.isSortV3Table());

    EXPECT_EQ(call(Request("SetFuture").str("Whatever").str("1")), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SetFuture (Whatever, 1)\nresult = 0"));
}

TEST_F(Dispatcher, TerminalEncodeChangesHowLaterStringsAreRead)
{
    // 0xC0 is the Cyrillic А in the default CP1251.
    call(Request("ExistFile").str(QByteArray("\xC0")));
    EXPECT_EQ(lastEntry(), QString::fromUtf8("ExistFile (\xD0\x90)\nresult = 0"));

    EXPECT_EQ(call(Request("SetFuture").str("TerminalEncode").str("NoSuchCodec")), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SetFuture (TerminalEncode, NoSuchCodec)\nresult = 0"));
    call(Request("ExistFile").str(QByteArray("\xC0")));
    EXPECT_EQ(lastEntry(), QString::fromUtf8("ExistFile (\xD0\x90)\nresult = 0"));

    EXPECT_EQ(call(Request("SetFuture").str("TerminalEncode").str("UTF-8")), hex("00000001"));
    call(Request("ExistFile").str(QByteArray("\xD0\x91")));
    EXPECT_EQ(lastEntry(), QString::fromUtf8("ExistFile (\xD0\x91)\nresult = 0"));
    // Names go back in the new codec too.
    ASSERT_TRUE(writeAll(local(QString::fromUtf8("\xD0\x91.dat")), "x"));
    EXPECT_EQ(call(Request("FindFirstFile").str(QByteArray("*.dat"))),
              hex("00000001 00000001 00000008") + QByteArray("\xD0\x91.dat") + hex("0000"));
}

TEST_F(Dispatcher, UnknownCharsetFallsBackToCp1251)
{
    PSettings changed = settings.snapshot();
    changed.terminalCharset = QStringLiteral("NoSuchCodec");
    changed.tableCharset = QStringLiteral("NoSuchCodec");
    settings.store(changed);
    VorelProtocol fallback;
    ASSERT_TRUE(fallback.isReady());

    ASSERT_TRUE(sendExact(fallback, Request("ExistFile").str(QByteArray("\xC0")).bytes()).known);
    EXPECT_EQ(lastEntry(), QString::fromUtf8("ExistFile (\xD0\x90)\nresult = 0"));
    // The stored name is still what GetCodePage answers.
    EXPECT_EQ(sendExact(fallback, Request("GetFuture").str("GetCodePage").bytes()).bytes,
              hex("00000001 0000000B") + "NoSuchCodec");
}

TEST(VorelProtocolBuffers, LayerWithoutBuffersServesNothing)
{
    const QByteArray connect("CONNECT\0", 8);
    for (int nth : {1, 2}) {
        platform::armZeroPagesFaultForTesting(nth);
        VorelProtocol starved;
        platform::armZeroPagesFaultForTesting(0);
        EXPECT_FALSE(starved.isReady()) << "buffer " << nth;
        EXPECT_FALSE(starved.processCommand(connect.constData(), quint32(connect.size())));
        starved.cleanup(); // still safe at the end of the session
    }
}

using Cleanup = ProtocolTest;

TEST_F(Cleanup, ClosesEverythingAndRestartsTheCounts)
{
    ASSERT_TRUE(writeAll(local("a.txt"), "data"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000002"));
    ASSERT_EQ(call(Request("FindFirstFile").str(QByteArray("*.txt"))).left(8),
              hex("00000001 00000001"));
    ASSERT_EQ(call(Request("FindFirstDir").str(QByteArray("*"))).left(8), hex("00000000 00000001"));

    protocol.cleanup();

    EXPECT_EQ(call(Request("LengthFile").word(2)), hex("00000000 FFFFFFFF"));
    EXPECT_EQ(call(Request("FindClose").word(1)), hex("00000000"));
    EXPECT_EQ(call(Request("FindClose").word(100001)), hex("00000000"));
    EXPECT_EQ(call(Request("OpenFile").str(terminal("a.txt"))), hex("00000001 00000001"));
    EXPECT_EQ(call(Request("FindFirstFile").str(QByteArray("*.txt"))).left(8),
              hex("00000001 00000001"));
    // The closed handles let go of the file: it can be removed and replaced.
    protocol.cleanup();
    EXPECT_TRUE(QFile::remove(local("a.txt")));
}

TEST_F(Cleanup, RemovesRegisteredTemporaryFilesOnce)
{
    ASSERT_TRUE(writeAll(local("t1.tmp"), "x"));
    ASSERT_TRUE(writeAll(local("T2.tmp"), "y"));
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal("t1.tmp"))),
              hex("00000001"));
    EXPECT_EQ(lastEntry(),
              QStringLiteral("SetFuture (SetTemporaryFile, ") + terminal("t1.tmp")
                  + QStringLiteral(")\nresult = 1"));
    call(Request("SetFuture").str("SetTemporaryFile").str("missing.tmp"));
    call(Request("SetFuture").str("SetTemporaryFile").str("t2.TMP")); // relative, other case
    call(Request("SetFuture").str("SetTemporaryFile").str(terminal("t1.tmp")));
    // Registering does nothing to the file yet.
    EXPECT_TRUE(QFile::exists(local("t1.tmp")));
    resetLog();

    protocol.cleanup();

    EXPECT_FALSE(QFile::exists(local("t1.tmp")));
    EXPECT_FALSE(QFile::exists(local("T2.tmp")));
    EXPECT_EQ(logEntries(),
              QStringList({QStringLiteral("Remove temporary file ") + terminal("t1.tmp"),
                           QStringLiteral("Remove temporary file t2.TMP")}));
    // The list is emptied: a second cleanup removes nothing and logs nothing.
    ASSERT_TRUE(writeAll(local("t1.tmp"), "again"));
    protocol.cleanup();
    EXPECT_TRUE(QFile::exists(local("t1.tmp")));
    EXPECT_EQ(logEntries().size(), 2);
}

// A file that stays (another session holds it, or it is read-only) is not logged as removed.
TEST_F(Cleanup, LogsOnlyTheTemporaryFilesItRemoved)
{
    for (const char *name : {"held.tmp", "readonly.tmp", "free.tmp"}) {
        ASSERT_TRUE(writeAll(local(name), name));
        ASSERT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal(name))), hex("00000001"));
    }
    platform::FileHold otherSession;
    QFile held;
    ASSERT_TRUE(platform::openRegularFile(held, local("held.tmp"), QIODevice::ReadOnly, &otherSession));
    ASSERT_TRUE(QFile::setPermissions(local("readonly.tmp"), QFile::ReadOwner));
    resetLog();

    protocol.cleanup();

    EXPECT_TRUE(QFile::exists(local("held.tmp")));
    EXPECT_TRUE(QFile::exists(local("readonly.tmp")));
    EXPECT_FALSE(QFile::exists(local("free.tmp")));
    EXPECT_EQ(logEntries(), QStringList(QStringLiteral("Remove temporary file ") + terminal("free.tmp")));
}
