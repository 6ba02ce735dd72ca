// The four conversion commands as a terminal sends them over TCP, through the real listener and
// session thread, with the progress reaching the session's row.

#include "PNetServer.h"
#include "PRow.h"
#include "PSqlBase.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>
#include <thread>

namespace {

QByteArray word(quint32 v)
{
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

class ConversionsOverTcp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = std::make_unique<PNetServer>(nullptr);
        front.netServer = server.get();
        for (int attempt = 0; attempt < 5 && !server->running; ++attempt) {
            server->port = freeTcpPort();
            server->start();
        }
        ASSERT_TRUE(server->running);
    }

    void TearDown() override
    {
        front.teardown();
        server.reset();
    }

    QString local(const char *name) const { return dir.file(QString::fromLatin1(name)); }
    QByteArray terminal(const char *name) const { return terminalPath(local(name)).toLatin1(); }

    // Sends the requests in order on one connection; the replies, or fewer when the link broke.
    QList<QByteArray> session(const QList<QByteArray> &requests)
    {
        QList<QByteArray> replies;
        EXPECT_TRUE(runBeside([&]() {
            Client client;
            if (!client.connectTo(quint16(server->port)))
                return;
            for (const QByteArray &request : requests) {
                const QByteArray reply = client.call(request);
                if (reply.isEmpty())
                    return;
                replies << reply;
            }
        }));
        return replies;
    }

    // The row of the one session so far, once that session has ended.
    TestRow *endedRow()
    {
        EXPECT_TRUE(waitFor([&]() { return front.removed.size() == front.added.size() && !front.added.isEmpty(); }));
        return front.added.isEmpty() ? nullptr : front.added.last();
    }

    // One terminal's upload into the table T of goods.db; the replies, or fewer when the link
    // broke. Safe to run on several threads at once.
    QList<QByteArray> upload(const char *file)
    {
        const QList<QByteArray> requests = {
            Request("OpenSqlBase").str(terminal("goods.db")),
            Request("ConvertSqlTableTextToBin").str(terminal(file)).str(QByteArray("T")),
            Request("CloseSqlBase").word(1),
        };
        QList<QByteArray> replies;
        Client client;
        if (!client.connectTo(quint16(server->port)))
            return replies;
        for (const QByteArray &request : requests) {
            const QByteArray reply = client.call(request);
            if (reply.isEmpty())
                break;
            replies << reply;
        }
        return replies;
    }

    TempDir dir;
    ScopedSettings timeouts{[](PSettings &s) { s.networkTimeout = 5; }};
    TestFrontEnd front{TestFrontEnd::Rows::Made};
    std::unique_ptr<PNetServer> server;
};

} // namespace

TEST_F(ConversionsOverTcp, TextIntoAnSqlTableOfTheOpenBase)
{
    {
        PSqlBase base;
        ASSERT_TRUE(base.open(local("goods.db")));
        ASSERT_TRUE(base.exec("CREATE TABLE T(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT, Item_2 TEXT)"));
        ASSERT_TRUE(base.close());
    }
    ASSERT_TRUE(writeAll(local("in.txt"), "a ;b\n\xCF\xF0\xE8;c\n"));
    const QList<QByteArray> replies = session({
        Request("OpenSqlBase").str(terminal("goods.db")),
        Request("ConvertSqlTableTextToBin").str(terminal("in.txt")).str(QByteArray("T")),
        Request("CloseSqlBase").word(1),
    });
    ASSERT_EQ(replies.size(), 3);
    EXPECT_EQ(replies[0], hex("00000001 00000001"));
    EXPECT_EQ(replies[1], hex("00000001"));
    EXPECT_EQ(replies[2], hex("00000001"));

    PSqlBase base;
    ASSERT_TRUE(base.open(local("goods.db")));
    PRow row;
    ASSERT_TRUE(base.select("SELECT * FROM T ORDER BY N", row)) << "rows come without their key column";
    EXPECT_EQ(row.fields, (QVector<QString>{"a", "b"}));
    ASSERT_TRUE(base.nextRow(row));
    EXPECT_EQ(row.fields, (QVector<QString>{QString::fromUtf8("При"), "c"}));
    EXPECT_FALSE(base.nextRow(row));

    TestRow *row0 = endedRow();
    ASSERT_NE(row0, nullptr);
    EXPECT_TRUE(row0->indicators.contains(100)) << "the conversion's progress reached the row";
    EXPECT_TRUE(row0->messages.contains(QStringLiteral("Convert file %1 to table T").arg(local("in.txt"))));
}

TEST_F(ConversionsOverTcp, TextIntoAV3Table)
{
    // Two text fields of 2 bytes each.
    ASSERT_TRUE(writeAll(local("t.hdr"), QByteArray("\x02\x01\x02\x00\x00\x01\x02\x00\x00", 9)));
    ASSERT_TRUE(writeAll(local("t.bin"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "ab;c\r\nx;yz\r\n"));
    const QList<QByteArray> replies = session({
        Request("ConvertTableV3TextToBin").str(terminal("in.txt")).str(terminal("t")),
    });
    ASSERT_EQ(replies.size(), 1);
    EXPECT_EQ(replies[0], hex("00000001"));
    EXPECT_EQ(readAll(local("t.bin")), QByteArray("abc x yz"));
}

TEST_F(ConversionsOverTcp, TextIntoV4AndBackIntoText)
{
    QByteArray header("PLDB");
    header += word(100) + word(45) + word(1) + word(0) + QByteArray(21, '\0') + QByteArray("\x01\x00\x01\x01", 4);
    ASSERT_TRUE(writeAll(local("t.bin"), header));
    ASSERT_TRUE(writeAll(local("t.ind"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "one\ntwo\n"));
    const QList<QByteArray> replies = session({
        Request("ConvertTableTextToBin").str(terminal("in.txt")).str(terminal("t")),
        Request("ConvertTableBinToText").str(terminal("t")).str(terminal("out.txt")),
    });
    ASSERT_EQ(replies.size(), 2);
    EXPECT_EQ(replies[0], hex("00000001"));
    EXPECT_EQ(replies[1], hex("00000001"));
    EXPECT_EQ(readAll(local("t.bin")), header + QByteArray("one\0two\0", 8));
    EXPECT_EQ(readAll(local("t.ind")), word(45) + word(4) + word(49) + word(4));
    EXPECT_EQ(readAll(local("out.txt")), QByteArray("one\r\ntwo\r\n"));
}

namespace {

// The table's rows in key order as "N letter number".
QStringList keyedRows(const QString &file)
{
    QStringList rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, "SELECT N, Item_1, Item_2 FROM T ORDER BY N", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows << QStringLiteral("%1 %2 %3")
                        .arg(sqlite3_column_int64(statement, 0))
                        .arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 1))),
                             QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 2))));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

} // namespace

// Two terminals upload into the same table at the same moment: the second waits for the first's
// lock and then stores its lines after the first's, each upload's lines together and in order.
TEST_F(ConversionsOverTcp, TwoUploadsIntoOneSqlTableAtOnceBothSucceed)
{
    constexpr int kLines = 4000;
    constexpr int kRounds = 3;
    {
        PSqlBase base;
        ASSERT_TRUE(base.open(local("goods.db")));
        ASSERT_TRUE(base.exec("CREATE TABLE T(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT, Item_2 TEXT)"));
        ASSERT_TRUE(base.close());
    }
    QByteArray a, b;
    for (int i = 0; i < kLines; ++i) {
        a += "a;" + QByteArray::number(i) + "\n";
        b += "b;" + QByteArray::number(i) + "\n";
    }
    ASSERT_TRUE(writeAll(local("a.txt"), a));
    ASSERT_TRUE(writeAll(local("b.txt"), b));

    const QList<QByteArray> stored = {hex("00000001 00000001"), hex("00000001"), hex("00000001")};
    for (int round = 0; round < kRounds; ++round) {
        QList<QByteArray> first, second;
        ASSERT_TRUE(runBeside([&]() {
            std::thread other([&]() { second = upload("b.txt"); });
            first = upload("a.txt");
            other.join();
        }));
        EXPECT_EQ(first, stored) << "round " << round;
        EXPECT_EQ(second, stored) << "round " << round;
    }

    const QStringList rows = keyedRows(local("goods.db"));
    ASSERT_EQ(rows.size(), 2 * kRounds * kLines);
    int blocks[2] = {0, 0};
    for (int start = 0; start < rows.size(); start += kLines) {
        const QString letter = rows.at(start).section(QLatin1Char(' '), 1, 1);
        ++blocks[letter == QLatin1String("a") ? 0 : 1];
        for (int i = 0; i < kLines; ++i) {
            const QString expected = QStringLiteral("%1 %2 %3").arg(start + i + 1).arg(letter).arg(i);
            if (rows.at(start + i) != expected) {
                ADD_FAILURE() << "row " << start + i << " is " << rows.at(start + i).toStdString() << ", not "
                              << expected.toStdString();
                return;
            }
        }
    }
    EXPECT_EQ(blocks[0], kRounds);
    EXPECT_EQ(blocks[1], kRounds);
}
