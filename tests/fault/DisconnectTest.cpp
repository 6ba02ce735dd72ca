// Terminals that leave at the worst moments: inside a request, while their reply is on its way,
// and while the server converts a table for them.

#include "FaultSupport.h"

#include "Helpers.h"
#include "PSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <ostream>
#include <sys/socket.h>

namespace {

enum class Leave { Close, Reset, SendingSideOnly };

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

// Long work: the terminal sends the request and leaves while it runs. The work stops as at
// program end, within a second: a table is left as it was, a text keeps whole lines, an SQL table
// is rolled back, a program goes on alone. The next terminal is served at once.
enum class Work { TextIntoV4, TextIntoSql, V4IntoText, Program };

struct WorkRow
{
    const char *name;
    Work work;
    Leave leave;
};

class DuringLongWork : public FaultTest, public ::testing::WithParamInterface<WorkRow>
{
protected:
    static constexpr int kRecords = 300000;

    static QByteArray lines()
    {
        QByteArray text;
        for (int i = 0; i < kRecords; ++i)
            text += "item" + QByteArray::number(i) + ";" + QByteArray::number(i % 1000) + ".25;"
                + QByteArray::number(i % 7) + ",5\r\n";
        return text;
    }

    // A goods table of kRecords records, laid out as the table code appends them.
    static bool writeTable(const QString &table)
    {
        QByteArray bin = goodsHeader();
        QByteArray ind;
        char word[4];
        for (int i = 0; i < kRecords; ++i) {
            const QByteArray record = "item" + QByteArray::number(i) + '\0' + QByteArray(12, '\0');
            writeUInt32BE(word, quint32(bin.size()));
            ind.append(word, 4);
            writeUInt32BE(word, quint32(record.size()));
            ind.append(word, 4);
            bin += record;
        }
        return writeAll(table + ".bin", bin) && writeAll(table + ".ind", ind);
    }
};

TEST_P(DuringLongWork, StopsSoonAfterItsTerminalLeaves)
{
    const WorkRow &row = GetParam();
    const QString table = dir.file(QStringLiteral("GOODS"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    const QString base = dir.file(QStringLiteral("BASE.DB"));
    QList<QByteArray> requests;
    if (row.work == Work::TextIntoV4 || row.work == Work::TextIntoSql) {
        ASSERT_TRUE(writeAll(text, lines()));
    }
    if (row.work == Work::TextIntoV4) {
        ASSERT_TRUE(writeAll(table + ".bin", goodsHeader()) && writeAll(table + ".ind", QByteArray()));
        requests << Request("ConvertTableTextToBin").str(terminalPath(text)).str(terminalPath(table));
    } else if (row.work == Work::TextIntoSql) {
        ASSERT_TRUE(makeGoodsBase(base));
        requests << Request("OpenSqlBase").str(terminalPath(base))
                 << Request("ConvertSqlTableTextToBin").str(terminalPath(text)).str(QByteArray("GOODS"));
    } else if (row.work == Work::V4IntoText) {
        ASSERT_TRUE(writeTable(table));
        requests << Request("ConvertTableBinToText").str(terminalPath(table)).str(terminalPath(text));
    } else {
        requests << Request("ExecuteCommand").str("sleep").str("3").word(1);
    }
    const QByteArray binBefore = readAll(table + ".bin");
    markBaseline();

    QElapsedTimer sinceLeaving;
    qint64 nextServedMs = -1;
    ASSERT_TRUE(runBeside([&]() {
        Client leaving;
        if (!leaving.connectTo(port) || (requests.size() == 2 && leaving.call(requests[0]) != hex("00000001 00000001"))
            || !leaving.sendPacket(requests.last()))
            return;
        // Long enough for the request to be read, short of the quickest work's end.
        QThread::msleep(50);
        if (row.leave == Leave::Reset)
            resetConnection(leaving);
        else if (row.leave == Leave::Close)
            leaving.close();
        else
            ::shutdown(leaving.fd(), SHUT_WR);
        sinceLeaving.start();
        Client next;
        if (next.connectTo(port) && answers(next))
            nextServedMs = sinceLeaving.elapsed();
    }));
    ASSERT_TRUE(sinceLeaving.isValid());
    // Bounds with room for a loaded machine and a sanitizer build: what they catch is the work
    // going on to its end (the program sleeps 3 s; the tables are checked below).
    EXPECT_GE(nextServedMs, 0);
    EXPECT_LT(nextServedMs, 5000);
    ASSERT_TRUE(sessionsGone(60000));
    EXPECT_LT(sinceLeaving.elapsed(), 2500);
    expectNothingLeft();

    if (row.work == Work::TextIntoV4) {
        EXPECT_EQ(wholeV4Records(table), 0);
        EXPECT_EQ(readAll(table + ".bin"), binBefore);
    } else if (row.work == Work::TextIntoSql) {
        EXPECT_EQ(wholeBaseRows(base), 1) << "rolled back";
    } else if (row.work == Work::V4IntoText) {
        EXPECT_EQ(readAll(table + ".bin"), binBefore);
        const QList<QByteArray> written = readAll(text).split('\n');
        EXPECT_TRUE(written.last().isEmpty()) << "the text ends with a whole line";
        EXPECT_GT(written.size(), 1);
        EXPECT_LT(written.size() - 1, kRecords);
        for (int n = 0; n + 1 < written.size(); ++n)
            ASSERT_TRUE(written[n].startsWith("item" + QByteArray::number(n) + ";")) << written[n].constData();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DuringLongWork,
    ::testing::Values(WorkRow{"TextIntoAV4TableThenReset", Work::TextIntoV4, Leave::Reset},
                      WorkRow{"TextIntoAnSqlTableThenClose", Work::TextIntoSql, Leave::Close},
                      WorkRow{"V4TableIntoTextThenReset", Work::V4IntoText, Leave::Reset},
                      // The end of its sending side is all the server sees of a close as well.
                      WorkRow{"WaitForAProgramThenEndOfSending", Work::Program, Leave::SendingSideOnly}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
