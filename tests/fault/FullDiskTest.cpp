// A disk that fills up under the server: while a terminal writes a file, and while the server
// converts a table. The terminal learns that its data were not stored, what was stored before
// stays, and the server goes on serving.

#include "FaultSupport.h"

#include "Helpers.h"
#include "PRow.h"
#include "PTableV4.h"

#include <QFile>

#include <ostream>
#include <sqlite3.h>

namespace {

class FullDisk : public FaultTest
{
protected:
    void SetUp() override
    {
        FaultTest::SetUp();
        QString why;
        if (!disk.isMounted(why))
            GTEST_SKIP() << "needs a small private disk: " << why.toStdString();
    }

    // Runs the terminal's part beside the event loop and ends it; its session must end too,
    // leaving `others` sessions.
    void asTerminal(const std::function<void(Client &)> &work, int others = 0)
    {
        Client terminal;
        ASSERT_TRUE(runBeside([&]() {
            if (terminal.connectTo(port))
                work(terminal);
            terminal.close();
        }, 60000));
        ASSERT_TRUE(waitFor([&]() { return alive() == others; }));
    }

    static quint32 word(const QByteArray &reply, int at) { return readUInt32BE(reply.constData() + at); }

    SmallDisk disk{512};
};

struct WriteRow
{
    const char *name;
    bool hexText;
};

void PrintTo(const WriteRow &row, std::ostream *out)
{
    *out << row.name;
}

class FullDiskWrite : public FullDisk, public ::testing::WithParamInterface<WriteRow>
{
};

// The reply tells how many bytes reached the disk, and the file holds exactly those behind what
// it held before; the terminal can cut the file back and go on once there is room.
TEST_P(FullDiskWrite, ReportsWhatWasStoredAndKeepsWhatWasThere)
{
    const QString stored = disk.file(QStringLiteral("STORED.DAT"));
    const QString other = disk.file(QStringLiteral("OTHER.DAT"));
    const QByteArray old = patternBytes(64 * 1024, 1);
    const QByteArray untouched = patternBytes(32 * 1024, 2);
    ASSERT_TRUE(writeAll(stored, old) && writeAll(other, untouched));
    ASSERT_TRUE(disk.fill(QStringLiteral("FILLER")));
    // Room for a little more, so that the write stores part of its data.
    QFile filler(disk.file(QStringLiteral("FILLER")));
    ASSERT_TRUE(filler.resize(filler.size() - 100 * 1024));

    const QByteArray data = patternBytes(400 * 1024, 3);
    const QByteArray request = GetParam().hexText
        ? Request("WriteFileText").word(1).word(quint32(data.size())).raw(data.toHex().toUpper())
        : Request("WriteFile").word(1).word(quint32(data.size())).raw(data);
    markBaseline();
    QByteArray opened, lengthBefore, writeReply, lengthAfter, head, trimmed, more, bystanderReply;
    Client bystander;
    asTerminal([&](Client &terminal) {
        bystander.connectTo(port);
        opened = terminal.call(Request("OpenFile").str(terminalPath(stored)));
        lengthBefore = terminal.call(Request("LengthFile").word(1));
        terminal.call(Request("SeekFile").word(1).word(quint32(old.size())));
        writeReply = terminal.call(request);
        bystanderReply = bystander.call(Request("CONNECT"));
        lengthAfter = terminal.call(Request("LengthFile").word(1));
        terminal.call(Request("SeekFile").word(1).word(0));
        head = terminal.call(Request("ReadFile").word(1).word(quint32(old.size())));
        trimmed = terminal.call(Request("TrimFile").word(1).word(quint32(old.size())));
        terminal.call(Request("SeekFile").word(1).word(quint32(old.size())));
        more = terminal.call(Request("WriteFile").word(1).word(5).raw("AFTER"));
        bystander.close();
    });
    ASSERT_EQ(opened, hex("00000001 00000001"));
    EXPECT_EQ(lengthBefore, hex("00000001") + QByteArray::fromHex("00010000"));
    ASSERT_EQ(writeReply.size(), 8);
    EXPECT_EQ(word(writeReply, 0), 0u) << "a write the disk could not take is no success";
    const quint32 written = word(writeReply, 4);
    EXPECT_LT(written, quint32(data.size()));
    ASSERT_EQ(lengthAfter.size(), 8);
    EXPECT_EQ(word(lengthAfter, 4), quint32(old.size()) + (written == 0xFFFFFFFF ? 0 : written))
        << "the count in the reply is what the file got";
    EXPECT_EQ(head, hex("00000001") + QByteArray::fromHex("00010000") + old);
    EXPECT_EQ(trimmed, hex("00000001"));
    EXPECT_EQ(more, hex("00000001 00000005"));
    EXPECT_EQ(bystanderReply, "OK");
    EXPECT_EQ(readAll(stored), old + "AFTER");
    EXPECT_EQ(readAll(other), untouched);
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Writes, FullDiskWrite,
                         ::testing::Values(WriteRow{"WriteFile", false}, WriteRow{"WriteFileText", true}),
                         [](const auto &info) { return std::string(info.param.name); });

// /dev/full fails every write with ENOSPC; it needs no private disk.
TEST_F(FaultTest, WriteToADeviceThatIsAlwaysFullIsAFailure)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "this system has no /dev/full";
    markBaseline();
    QByteArray opened, written, after;
    ASSERT_TRUE(runBeside([&]() {
        Client terminal;
        if (!terminal.connectTo(port))
            return;
        opened = terminal.call(Request("OpenFile").str(QByteArray("C:\\dev\\full")));
        written = terminal.call(Request("WriteFile").word(1).word(100).raw(QByteArray(100, 'x')));
        after = terminal.call(Request("CONNECT"));
    }));
    // A device is no regular file: it does not open, so nothing is ever reported as written.
    ASSERT_EQ(opened, hex("00000000 00000000"));
    EXPECT_EQ(written, hex("00000000 00000000"));
    EXPECT_EQ(after, "OK");
    ASSERT_TRUE(sessionsGone());
    expectNothingLeft();
}

QByteArray manyLines(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "line number " + QByteArray::number(i) + " with some text;" + QByteArray::number(i % 1000) + "\r\n";
    return text;
}

QByteArray v4Header()
{
    QByteArray header("PLDB");
    for (quint32 w : {100u, 70u, 2u, 0u}) {
        char bytes[4];
        writeUInt32BE(bytes, w);
        header.append(bytes, 4);
    }
    for (int kind : {1, 3}) {
        QByteArray descriptor(21, '\0');
        descriptor += char(kind);
        descriptor += char(0);
        descriptor += char(1);
        descriptor += char(1);
        header += descriptor;
    }
    return header;
}

// Every record the index names reads back; the first `count` are the ones given.
void expectTableWhole(const QString &table, const QList<PRow> &first)
{
    PTableV4 v4;
    ASSERT_TRUE(v4.open(table, PTableV4::fileNames(table), nullptr, {}, TableUse::Read));
    EXPECT_EQ(v4.indFile.size() % 8, 0) << "no partial index entry";
    ASSERT_GE(v4.recordCount, first.size());
    for (qint64 n = 0; n < v4.recordCount; ++n) {
        PRow row;
        ASSERT_TRUE(v4.readRecord(n, row)) << "record " << n << " of " << v4.recordCount;
        if (n < first.size()) {
            EXPECT_EQ(row.fields, first[int(n)].fields) << "record " << n;
        }
    }
    v4.close();
}

QList<PRow> readRows(const QString &table)
{
    QList<PRow> rows;
    PTableV4 v4;
    if (!v4.open(table, PTableV4::fileNames(table), nullptr, {}, TableUse::Read))
        return rows;
    for (qint64 n = 0; n < v4.recordCount; ++n) {
        PRow row;
        v4.readRecord(n, row);
        rows << row;
    }
    v4.close();
    return rows;
}

TEST_F(FullDisk, TextIntoAV4TableFailsAndKeepsTheRecordsStoredBefore)
{
    const QString table = disk.file(QStringLiteral("GOODS"));
    const QString firstText = dir.file(QStringLiteral("FIRST.TXT"));
    const QString bigText = dir.file(QStringLiteral("BIG.TXT"));
    ASSERT_TRUE(writeAll(table + ".bin", v4Header()) && writeAll(table + ".ind", QByteArray()));
    ASSERT_TRUE(writeAll(disk.file(QStringLiteral("BALLAST")), QByteArray(64 * 1024, 'B')));
    ASSERT_TRUE(writeAll(firstText, manyLines(100)) && writeAll(bigText, manyLines(40000)));
    markBaseline();
    QByteArray first, second, bystanderReply, afterRoom;
    Client bystander;
    asTerminal([&](Client &terminal) {
        bystander.connectTo(port);
        first = terminal.call(Request("ConvertTableTextToBin").str(terminalPath(firstText)).str(terminalPath(table)));
    }, 1);
    ASSERT_EQ(first, hex("00000001"));
    const QList<PRow> stored = readRows(table);
    ASSERT_EQ(stored.size(), 100);

    asTerminal([&](Client &terminal) {
        second = terminal.call(Request("ConvertTableTextToBin").str(terminalPath(bigText)).str(terminalPath(table)));
        bystanderReply = bystander.call(Request("CONNECT"));
    }, 1);
    EXPECT_EQ(second, hex("00000000")) << "the text does not fit the disk";
    EXPECT_EQ(bystanderReply, "OK");
    expectTableWhole(table, stored);

    // Once there is room again, the same table takes more.
    const int recordsNow = readRows(table).size();
    ASSERT_TRUE(QFile::remove(disk.file(QStringLiteral("BALLAST"))));
    asTerminal([&](Client &terminal) {
        afterRoom = terminal.call(Request("ConvertTableTextToBin").str(terminalPath(firstText)).str(terminalPath(table)));
        bystander.close();
    });
    EXPECT_EQ(afterRoom, hex("00000001"));
    expectTableWhole(table, stored);
    EXPECT_EQ(readRows(table).size(), recordsNow + 100);
    expectNothingLeft();
}

TEST_F(FullDisk, TextIntoAnSqlTableFailsAndKeepsTheRowsStoredBefore)
{
    const QString base = disk.file(QStringLiteral("BASE.DB"));
    const QString bigText = dir.file(QStringLiteral("BIG.TXT"));
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(base).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE GOODS(N INTEGER PRIMARY KEY AUTOINCREMENT, NAME, PRICE);"
                               "INSERT INTO GOODS(NAME, PRICE) VALUES ('first', '1'), ('second', '2');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    markBaseline();
    ASSERT_TRUE(writeAll(bigText, manyLines(40000)));
    QByteArray opened, converted, closed;
    asTerminal([&](Client &terminal) {
        opened = terminal.call(Request("OpenSqlBase").str(terminalPath(base)));
        converted = terminal.call(Request("ConvertSqlTableTextToBin").str(terminalPath(bigText)).str(QByteArray("GOODS")));
        closed = terminal.call(Request("CloseSqlBase").word(1));
    });
    ASSERT_EQ(opened, hex("00000001 00000001"));
    EXPECT_EQ(converted, hex("00000000")) << "the text does not fit the disk";
    EXPECT_EQ(closed, hex("00000001"));

    ASSERT_EQ(sqlite3_open(QFile::encodeName(base).constData(), &db), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT NAME FROM GOODS WHERE N <= 2 ORDER BY N", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "first");
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "second");
    sqlite3_finalize(statement);
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)), "ok");
    sqlite3_finalize(statement);
    sqlite3_close(db);
    expectNothingLeft();
}

TEST_F(FullDisk, V4TableIntoTextOnAFullDiskEndsInAWholeLineAndLeavesTheTable)
{
    const QString table = dir.file(QStringLiteral("GOODS"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    const QString out = disk.file(QStringLiteral("OUT.TXT"));
    ASSERT_TRUE(writeAll(table + ".bin", v4Header()) && writeAll(table + ".ind", QByteArray()));
    ASSERT_TRUE(writeAll(text, manyLines(40000)));
    QByteArray filled, exported, again;
    asTerminal([&](Client &terminal) {
        filled = terminal.call(Request("ConvertTableTextToBin").str(terminalPath(text)).str(terminalPath(table)));
    });
    ASSERT_EQ(filled, hex("00000001"));
    const QByteArray bin = readAll(table + ".bin");
    const QByteArray ind = readAll(table + ".ind");
    markBaseline();
    asTerminal([&](Client &terminal) {
        exported = terminal.call(Request("ConvertTableBinToText").str(terminalPath(table)).str(terminalPath(out)));
        again = terminal.call(Request("CONNECT"));
    });
    EXPECT_EQ(exported, hex("00000000")) << "the text does not fit the disk";
    EXPECT_EQ(again, "OK");
    const QByteArray written = readAll(out);
    EXPECT_GT(written.size(), 0) << "the lines that fitted stay";
    EXPECT_TRUE(written.endsWith("\r\n")) << "no part of a line";
    EXPECT_EQ(readAll(table + ".bin"), bin);
    EXPECT_EQ(readAll(table + ".ind"), ind);
    expectNothingLeft();
}

} // namespace
