// The four conversion commands as a terminal sends them over TCP, through the real listener and
// session thread, with the progress reaching the session's row.

#include "PNetServer.h"
#include "PRow.h"
#include "PSqlBase.h"
#include "TempDir.h"
#include "TestSeams.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
        platform::setTableOpenRetryDelayForTesting(platform::kDefaultTableOpenRetryDelayMs);
        front.teardown();
        server.reset();
    }

    QString local(const char *name) const { return dir.file(QString::fromLatin1(name)); }
    QByteArray terminal(const char *name) const { return terminalPath(local(name)).toLatin1(); }

    // Sends the requests in order on one connection; the replies, or fewer when the link broke.
    QList<QByteArray> session(const QList<QByteArray> &requests)
    {
        QList<QByteArray> replies;
        EXPECT_TRUE(runBeside([&]() { replies = converse(requests); }));
        return replies;
    }

    // The row of the one session so far, once that session has ended.
    TestRow *endedRow()
    {
        EXPECT_TRUE(waitFor([&]() { return front.removed.size() == front.added.size() && !front.added.isEmpty(); }));
        return front.added.isEmpty() ? nullptr : front.added.last();
    }

    // One terminal's requests on a connection of its own; the replies, or fewer when the link
    // broke. Safe to run on several threads at once.
    QList<QByteArray> converse(const QList<QByteArray> &requests)
    {
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

    // Each list of requests from a terminal of its own, all at the same moment; their replies.
    QList<QList<QByteArray>> together(const QList<QList<QByteArray>> &each)
    {
        QVector<QList<QByteArray>> replies(each.size());
        EXPECT_TRUE(runBeside([&]() {
            std::vector<std::thread> terminals;
            for (int i = 0; i < each.size(); ++i)
                terminals.emplace_back([&, i]() { replies[i] = converse(each[i]); });
            for (std::thread &terminal : terminals)
                terminal.join();
        }, 60000));
        return replies.toList();
    }

    // One terminal's upload into the table T of goods.db.
    QList<QByteArray> upload(const char *file) const
    {
        return {
            Request("OpenSqlBase").str(terminal("goods.db")),
            Request("ConvertSqlTableTextToBin").str(terminal(file)).str(QByteArray("T")),
            Request("CloseSqlBase").word(1),
        };
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
        const QList<QList<QByteArray>> replies = together({upload("a.txt"), upload("b.txt")});
        EXPECT_EQ(replies, (QList<QList<QByteArray>>{stored, stored})) << "round " << round;
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

// Terminals upload into one V4 or V3 table at the same moment. One conversion writes a table at a
// time: each upload that answered 1 has its records in the table once, together and in order (V3
// writes from the start of the table, so only the last one's stay); one that answered 0 wrote
// nothing.
TEST_F(ConversionsOverTcp, UploadsIntoOneTableAtOnceKeepEachUploadWhole)
{
    platform::setTableOpenRetryDelayForTesting(200); // a waiting upload starts soon after the one before it ends
    const auto lines = [](const QString &letter) {
        QStringList texts;
        for (int i = 0; i < 3000; ++i)
            texts << letter + QString::number(10000 + i);
        return texts;
    };
    const auto wordAt = [](const QByteArray &bytes, int at) {
        return int(bytes.mid(at, 4).toHex().toUInt(nullptr, 16));
    };
    for (const bool v4 : {true, false}) {
        for (const int terminals : {2, 4}) {
            SCOPED_TRACE(std::string(v4 ? "V4, " : "V3, ") + std::to_string(terminals) + " terminals");
            ASSERT_TRUE(writeAll(local("t.bin"), v4 ? hex("504C4442 00000064 0000002D 00000001 00000000")
                                                          + QByteArray(21, '\0') + hex("01000101")
                                                    : QByteArray()));
            ASSERT_TRUE(writeAll(local("t.ind"), QByteArray()));
            ASSERT_TRUE(writeAll(local("t.hdr"), hex("01 01060000"))); // one text of 6 bytes
            QList<QList<QByteArray>> uploads;
            for (char letter = 'a'; letter < 'a' + terminals; ++letter) {
                const QByteArray file = QByteArray(1, letter) + ".txt";
                ASSERT_TRUE(writeAll(local(file.constData()), lines(QString(letter)).join('\n').toLatin1() + '\n'));
                uploads << QList<QByteArray>{Request(v4 ? "ConvertTableTextToBin" : "ConvertTableV3TextToBin")
                                                 .str(terminal(file.constData()))
                                                 .str(terminal("t"))};
            }
            const QList<QList<QByteArray>> replies = together(uploads);
            QString answeredOne;
            for (int t = 0; t < terminals; ++t) {
                ASSERT_EQ(replies[t].size(), 1);
                ASSERT_TRUE(replies[t][0] == hex("00000001") || replies[t][0] == hex("00000000"));
                answeredOne += replies[t][0] == hex("00000001") ? QString(QChar('a' + t)) : QString();
            }

            // A V4 index entry must point at a whole record: its text and NUL.
            const QByteArray bin = readAll(local("t.bin"));
            const QByteArray ind = readAll(local("t.ind"));
            QStringList records;
            for (int at = 0; v4 ? at + 8 <= ind.size() : at < bin.size(); at += v4 ? 8 : 6) {
                const QByteArray record = v4 ? bin.mid(wordAt(ind, at), wordAt(ind, at + 4)) : bin.mid(at, 6);
                records << QString::fromLatin1(v4 && record.endsWith('\0') ? record.chopped(1) : record);
            }
            QString stored;
            for (int start = 0; start < records.size(); start += 3000) {
                stored += records.at(start).left(1);
                ASSERT_EQ(records.mid(start, 3000), lines(records.at(start).left(1))) << "from record " << start;
            }
            std::sort(stored.begin(), stored.end());
            if (v4)
                EXPECT_EQ(stored, answeredOne) << "each upload that answered 1 once, no other";
            else
                EXPECT_TRUE(stored.size() == 1 && answeredOne.contains(stored)) << stored.toStdString();
        }
    }
}
