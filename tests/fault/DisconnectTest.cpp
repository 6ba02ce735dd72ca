// Terminals that leave at the worst moments: inside a request, while their reply is on its way,
// and while the server converts a table for them.

#include "FaultSupport.h"

#include "Helpers.h"
#include "PRow.h"
#include "PSession.h"
#include "PTableV4.h"

#include <QElapsedTimer>
#include <QFile>

#include <ostream>
#include <sqlite3.h>
#include <sys/socket.h>

namespace {

enum class Leave { Close, Reset };

struct CutRow
{
    const char *name;
    QByteArray wire; // what the terminal sends before it leaves
    Leave leave;
};

void PrintTo(const CutRow &row, std::ostream *out)
{
    *out << row.name;
}

QByteArray lengthWord(quint32 length)
{
    char head[4];
    writeUInt32BE(head, length);
    return QByteArray(head, 4);
}

class MidPacket : public FaultTest, public ::testing::WithParamInterface<CutRow>
{
};

// The terminal had a file open and a temporary file registered: both go with its session.
TEST_P(MidPacket, EndsOnlyThatSessionAndReleasesWhatItHeld)
{
    const QString kept = dir.file(QStringLiteral("kept.dat"));
    const QString temporary = dir.file(QStringLiteral("scratch.tmp"));
    ASSERT_TRUE(writeAll(kept, "stored before") && writeAll(temporary, "x"));
    markBaseline();
    Client bystander, leaving;
    QByteArray opened, registered;
    bool sent = false;
    ASSERT_TRUE(runBeside([&]() {
        if (!bystander.connectTo(port) || !leaving.connectTo(port))
            return;
        opened = leaving.call(Request("OpenFile").str(terminalPath(kept)));
        registered = leaving.call(Request("SetFuture").str(QByteArray("SetTemporaryFile")).str(terminalPath(temporary)));
        sent = leaving.sendRaw(GetParam().wire);
        if (GetParam().leave == Leave::Reset)
            resetConnection(leaving);
        else
            leaving.close();
    }));
    ASSERT_EQ(opened, hex("00000001 00000001"));
    ASSERT_EQ(registered, hex("00000001"));
    ASSERT_TRUE(sent);
    // Well before the 10 s time-out: the session sees the link end, it does not wait it out.
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(waitFor([this]() { return alive() == 1; }, 5000));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(QFile::exists(temporary));
    EXPECT_EQ(readAll(kept), "stored before");

    bool served = false;
    ASSERT_TRUE(runBeside([&]() {
        served = answers(bystander);
        bystander.close();
    }));
    EXPECT_TRUE(served);
    ASSERT_TRUE(sessionsGone());
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, MidPacket,
    ::testing::Values(CutRow{"InsideTheLength", hex("0000"), Leave::Close},
                      CutRow{"AfterTheLength", lengthWord(100), Leave::Close},
                      CutRow{"InsideThePayload", lengthWord(100) + QByteArray("OpenFile\0C:\\", 12), Leave::Close},
                      CutRow{"InsideTheLargestPayload", lengthWord(0x100000) + QByteArray(300000, 'W'), Leave::Close},
                      CutRow{"ResetInsideTheLength", hex("00"), Leave::Reset},
                      CutRow{"ResetInsideThePayload", lengthWord(100) + QByteArray("WriteFile", 9), Leave::Reset},
                      CutRow{"ResetInsideTheLargestPayload", lengthWord(0x100000) + QByteArray(500000, 'W'), Leave::Reset}),
    [](const auto &info) { return std::string(info.param.name); });

struct ReplyRow
{
    const char *name;
    QByteArray request; // asks for a reply of about a megabyte
};

void PrintTo(const ReplyRow &row, std::ostream *out)
{
    *out << row.name;
}

class MidReply : public FaultTest, public ::testing::WithParamInterface<ReplyRow>
{
};

// The terminal reads the head of a large reply and leaves: the server's write fails under it,
// and only that session ends.
TEST_P(MidReply, EndsOnlyThatSession)
{
    const QString big = dir.file(QStringLiteral("BIG.DAT"));
    const QByteArray content = patternBytes(0x100000, 7);
    ASSERT_TRUE(writeAll(big, content));
    markBaseline();
    Client bystander, leaving;
    QByteArray opened, head;
    ASSERT_TRUE(runBeside([&]() {
        if (!bystander.connectTo(port) || !connectWithSmallReceiveBuffer(leaving, port))
            return;
        opened = leaving.call(Request("OpenFile").str(terminalPath(big)));
        if (!leaving.sendPacket(GetParam().request))
            return;
        leaving.readExact(12, head);
        // Unread data in the receive buffer: closing sends a reset.
        leaving.close();
    }));
    ASSERT_EQ(opened, hex("00000001 00000001"));
    ASSERT_EQ(head.size(), 12);
    EXPECT_EQ(head.mid(4, 4), hex("00000001"));
    ASSERT_TRUE(waitFor([this]() { return alive() == 1; }, 5000));

    bool served = false;
    ASSERT_TRUE(runBeside([&]() {
        served = answers(bystander);
        bystander.close();
    }));
    EXPECT_TRUE(served);
    EXPECT_EQ(readAll(big), content);
    ASSERT_TRUE(sessionsGone());
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MidReply,
    ::testing::Values(ReplyRow{"ReadFile", Request("ReadFile").word(1).word(0x100000)},
                      ReplyRow{"ReadFileText", Request("ReadFileText").word(1).word(0x7FFFC)}),
    [](const auto &info) { return std::string(info.param.name); });

// A Bluetooth terminal in hex text gets its large reply in pieces; it leaves after the first.
TEST_F(FaultTest, BluetoothTerminalLeavesInsideAHexReply)
{
    const QString big = dir.file(QStringLiteral("BIG.DAT"));
    ASSERT_TRUE(writeAll(big, patternBytes(0x100000, 3)));
    markBaseline();
    int accepted = -1, peerFd = -1;
    ASSERT_TRUE(makeTcpPair(peerFd, accepted));
    const int small = 4096;
    ::setsockopt(peerFd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Client terminal;
    terminal.adopt(peerFd);
    std::unique_ptr<PSession> session(new PSession(accepted, nullptr, nullptr));
    ASSERT_TRUE(session->isReady());
    session->type = ConnectionType::Bluetooth;
    session->name = QStringLiteral("Bluetooth");
    session->start();

    auto hexPacket = [](const QByteArray &payload) {
        return lengthWord(quint32(payload.size())).toHex().toUpper() + payload.toHex().toUpper();
    };
    QByteArray head;
    ASSERT_TRUE(runBeside([&]() {
        QByteArray opened;
        if (!terminal.sendRaw(hexPacket(Request("OpenFile").str(terminalPath(big))))
            || !terminal.readExact(8 + 16, opened))
            return;
        if (!terminal.sendRaw(hexPacket(Request("ReadFile").word(1).word(0x100000))))
            return;
        terminal.readExact(8 + 16, head);
        terminal.close();
    }));
    EXPECT_EQ(head, "00100008" "0000000100100000");
    ASSERT_TRUE(waitFor([&]() { return session->isFinished(); }, 5000));
    session.reset();
    expectNothingLeft();
}

// Conversions: the terminal sends the request and leaves at once; the server goes on with the
// conversion, finds the link gone when it answers, and ends the session with all files whole.
class DuringConversion : public FaultTest
{
protected:
    static QByteArray manyLines(int count)
    {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += "item" + QByteArray::number(i) + ";" + QByteArray::number(i % 1000) + ".25;" + QByteArray::number(i % 7) + ",5\r\n";
        return text;
    }

    // Sends the requests (each before the last opens something: result 1, handle 1), leaves right
    // after the last, and waits until the session has gone; a bystander is answered meanwhile.
    void leaveDuring(const QList<QByteArray> &requests)
    {
        markBaseline();
        Client bystander, leaving;
        bool sent = false;
        bool served = false;
        ASSERT_TRUE(runBeside([&]() {
            if (!bystander.connectTo(port) || !leaving.connectTo(port))
                return;
            sent = true;
            for (int i = 0; i + 1 < requests.size(); ++i)
                sent = sent && leaving.call(requests[i]) == hex("00000001 00000001");
            sent = sent && leaving.sendPacket(requests.last());
            leaving.close();
            served = answers(bystander);
            bystander.close();
        }, 60000));
        ASSERT_TRUE(sent);
        EXPECT_TRUE(served);
        ASSERT_TRUE(sessionsGone(60000));
        expectNothingLeft();
    }
};

TEST_F(DuringConversion, TextIntoAV4TableAppendsWholeRecords)
{
    const QString table = dir.file(QStringLiteral("GOODS"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    ASSERT_TRUE(writeAll(table + ".bin", goodsHeader()) && writeAll(table + ".ind", QByteArray()));
    constexpr int kLines = 20000;
    ASSERT_TRUE(writeAll(text, manyLines(kLines)));
    leaveDuring({Request("ConvertTableTextToBin").str(terminalPath(text)).str(terminalPath(table))});

    PTableV4 v4;
    ASSERT_TRUE(v4.open(table, PTableV4::fileNames(table), nullptr, {}, TableUse::Read));
    EXPECT_EQ(v4.recordCount, kLines);
    PRow row;
    ASSERT_TRUE(v4.readRecord(kLines - 1, row));
    EXPECT_EQ(row.text(0), QStringLiteral("item%1").arg(kLines - 1));
    v4.close();
}

TEST_F(DuringConversion, TextIntoAnSqlTableKeepsTheBaseWhole)
{
    const QString base = dir.file(QStringLiteral("BASE.DB"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(base).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE GOODS(N INTEGER PRIMARY KEY AUTOINCREMENT, NAME, PRICE, WEIGHT);"
                               "INSERT INTO GOODS(NAME) VALUES ('stored before');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    constexpr int kLines = 20000;
    ASSERT_TRUE(writeAll(text, manyLines(kLines)));
    leaveDuring({Request("OpenSqlBase").str(terminalPath(base)),
                 Request("ConvertSqlTableTextToBin").str(terminalPath(text)).str(QByteArray("GOODS"))});

    ASSERT_EQ(sqlite3_open(QFile::encodeName(base).constData(), &db), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*), min(NAME) = 'item0', (SELECT NAME FROM GOODS WHERE N = 1) "
                                     "FROM GOODS",
                                 -1, &statement, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), kLines + 1);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 2)), "stored before");
    sqlite3_finalize(statement);
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "ok");
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST_F(DuringConversion, V4TableIntoTextLeavesTheTableAsItWas)
{
    const QString table = dir.file(QStringLiteral("GOODS"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    const QString out = dir.file(QStringLiteral("OUT.TXT"));
    ASSERT_TRUE(writeAll(table + ".bin", goodsHeader()) && writeAll(table + ".ind", QByteArray()));
    constexpr int kLines = 20000;
    ASSERT_TRUE(writeAll(text, manyLines(kLines)));
    bool filled = false;
    ASSERT_TRUE(runBeside([&]() {
        Client terminal;
        filled = terminal.connectTo(port)
            && terminal.call(Request("ConvertTableTextToBin").str(terminalPath(text)).str(terminalPath(table)))
                == hex("00000001");
    }, 60000));
    ASSERT_TRUE(filled);
    ASSERT_TRUE(sessionsGone());
    const QByteArray binBefore = readAll(table + ".bin");
    const QByteArray indBefore = readAll(table + ".ind");

    leaveDuring({Request("ConvertTableBinToText").str(terminalPath(table)).str(terminalPath(out))});
    EXPECT_EQ(readAll(table + ".bin"), binBefore);
    EXPECT_EQ(readAll(table + ".ind"), indBefore);
    const QByteArray written = readAll(out);
    EXPECT_EQ(written.count('\n'), kLines);
    EXPECT_TRUE(written.startsWith("item0;0.25;")) << written.left(40).constData();
}

} // namespace
