// The SQL-base register of a session, and the splitting and joining of text table lines as the
// conversions do it.

#include "PRow.h"
#include "PSqlBase.h"
#include "PSqlList.h"
#include "PTableV4.h"
#include "TableTestSupport.h"
#include "TempDir.h"
#include "TextTableFile.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

QStringList fieldsOf(const PRow &row)
{
    return QStringList(row.fields.begin(), row.fields.end());
}

void setTable(const char *charset, int delimiter)
{
    PSettings s = settings.snapshot();
    s.tableCharset = QString::fromLatin1(charset);
    s.tableDelimeter = delimiter;
    settings.store(s);
}

class SqlList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeAll(dir.file("a.db"), QByteArray()));
        ASSERT_TRUE(writeAll(dir.file("b.db"), QByteArray()));
    }
    void TearDown() override { list.closeAll(); }

    qint32 open(const char *name)
    {
        qint32 handle = -7;
        EXPECT_TRUE(list.openSqlBase(dir.file(name), handle)) << name;
        return handle;
    }
    QString currentName() const { return list.current() ? list.current()->fileName() : QString(); }

    TableFilesEnvironment environment;
    TempDir dir;
    PSqlList list;
};

} // namespace

TEST_F(SqlList, HandlesCountFromOneAndTheNewestBaseIsCurrent)
{
    EXPECT_EQ(list.current(), nullptr);
    EXPECT_EQ(open("a.db"), 1);
    EXPECT_EQ(open("a.db"), 2); // the same file twice is two bases
    EXPECT_EQ(open("b.db"), 3);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(currentName(), dir.file("b.db"));
    EXPECT_EQ(list.indexOf(2), 1);
    EXPECT_EQ(list.indexOf(4), -1);
    EXPECT_TRUE(list.current()->isOpen());
}

TEST_F(SqlList, ClosingTheCurrentBaseMakesTheLastListedOneCurrent)
{
    open("a.db");
    open("b.db");
    open("a.db");
    EXPECT_TRUE(list.closeSqlBase(3));
    EXPECT_EQ(currentName(), dir.file("b.db")); // the last listed, not the first
    EXPECT_TRUE(list.closeSqlBase(1));
    EXPECT_EQ(currentName(), dir.file("b.db")); // not current: nothing moves
    EXPECT_FALSE(list.closeSqlBase(1));
    EXPECT_TRUE(list.closeSqlBase(2));
    EXPECT_EQ(list.current(), nullptr);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(open("b.db"), 4); // numbers are not given out twice
}

TEST_F(SqlList, FailedOpensTakeANumberOnlyWhenTheFileExists)
{
    qint32 handle = -7;
    EXPECT_FALSE(list.openSqlBase(dir.file("missing.db"), handle));
    EXPECT_EQ(handle, -7);
    EXPECT_FALSE(QFile::exists(dir.file("missing.db"))); // never created
    EXPECT_FALSE(list.openSqlBase(QString(), handle));
    EXPECT_EQ(open("a.db"), 1);

    // A folder exists but is no database: its number is used up.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    EXPECT_FALSE(list.openSqlBase(dir.file("folder"), handle));
    EXPECT_EQ(handle, -7);
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(currentName(), dir.file("a.db"));
    EXPECT_EQ(open("b.db"), 3);
}

TEST_F(SqlList, CloseAllEmptiesTheListAndStartsTheNumbersAgain)
{
    open("a.db");
    open("b.db");
    list.closeAll();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.current(), nullptr);
    EXPECT_FALSE(list.closeSqlBase(1));
    EXPECT_EQ(open("b.db"), 1);
}

TEST_F(SqlList, OpenedBasesWaitForAnotherConnectionsLock)
{
    open("a.db");
    PSqlBase other;
    ASSERT_TRUE(other.open(dir.file("a.db")));
    ASSERT_TRUE(other.exec("CREATE TABLE t(x)"));
    ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE"));
    // Another session lets go of its lock a little later; this base waits for it.
    std::thread releaser([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.exec("COMMIT");
    });
    QElapsedTimer timer;
    timer.start();
    const bool inserted = list.current()->exec("INSERT INTO t VALUES (1)");
    const qint64 waited = timer.elapsed();
    releaser.join();
    EXPECT_TRUE(inserted) << list.current()->errorText().toStdString();
    EXPECT_GE(waited, 250);
}

TEST_F(SqlList, TheWaitForALockEnds)
{
    list.busyTimeoutMs = 100;
    open("a.db");
    PSqlBase other;
    ASSERT_TRUE(other.open(dir.file("a.db")));
    ASSERT_TRUE(other.exec("CREATE TABLE t(x)"));
    ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE"));
    EXPECT_FALSE(list.current()->exec("INSERT INTO t VALUES (1)"));
    EXPECT_EQ(list.current()->errorCode() & 0xFF, SQLITE_BUSY);
    other.exec("ROLLBACK");
}

namespace {

struct SplitRow
{
    const char *label;
    QByteArray line;
    int fieldCount;
    QStringList fields;
    const char *charset = "CP1251";
    int delimiter = ';';
};

void PrintTo(const SplitRow &row, std::ostream *os)
{
    *os << row.label;
}

// A V4 table of `fields` text fields, each filled from text and written out to text.
void makeTextTable(const QString &name, int fields, int exportFlag = 1)
{
    QByteArray bin = "PLDB" + wordBE(100) + wordBE(20 + 25 * fields) + wordBE(fields) + wordBE(0);
    for (int i = 0; i < fields; ++i)
        bin += QByteArray(21, '\0') + bytesOf({1, 0, exportFlag, 1});
    ASSERT_TRUE(writeAll(name + ".bin", bin) && writeAll(name + ".ind", QByteArray()));
}

// Each line is split as a conversion into a V4 table of fieldCount text fields splits it.
class SplitLine : public ::testing::TestWithParam<SplitRow>
{
protected:
    TableFilesEnvironment environment;
    TempDir dir;
    PSqlList list;
};

} // namespace

TEST_P(SplitLine, GivesTrimmedFields)
{
    setTable(GetParam().charset, GetParam().delimiter);
    setTerminalCharset(QStringLiteral("UTF-8")); // the table keeps every character
    makeTextTable(dir.file("t"), GetParam().fieldCount);
    ASSERT_TRUE(writeAll(dir.file("in.txt"), GetParam().line));
    ASSERT_TRUE(list.convertTableTextToBin(dir.file("in.txt"), dir.file("t")));
    PTableV4 table;
    ASSERT_TRUE(openTable(table, dir.file("t")));
    PRow row;
    // A line of no fields gives a record of no bytes, which is not stored.
    if (table.recordCount > 0) {
        ASSERT_TRUE(table.readRecord(0, row));
    }
    EXPECT_EQ(fieldsOf(row), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitLine,
    ::testing::Values(
        SplitRow{"AsManyAsTheTable", "a;b;c\n", 3, {"a", "b", "c"}},
        SplitRow{"SurplusDropped", "a;b;c;d\n", 2, {"a", "b"}},
        SplitRow{"FewerGiveAShorterRow", "a\n", 3, {"a"}},
        SplitRow{"TrailingDelimiterBeforeLineEnd", "a;b;\n", 3, {"a", "b", ""}},
        SplitRow{"TrailingDelimiterAtEndOfFile", "a;b;", 3, {"a", "b"}},
        SplitRow{"EmptyLineIsOneEmptyField", "\n", 3, {""}},
        SplitRow{"BlanksAndCrLfTrimmed", "  a ; b\t;c \r\n", 3, {"a", "b", "c"}},
        SplitRow{"EmptyFieldsKeepTheirPlace", ";;x\n", 3, {"", "", "x"}},
        SplitRow{"Cp1251Text", "\xCF\xF0\xE8\xE2\xE5\xF2;\xFF\n", 2,
                 {QString::fromUtf8("Привет"), QString::fromUtf8("я")}},
        SplitRow{"TabDelimiter", "a b\tc\n", 3, {"a b", "c"}, "CP1251", 9},
        // 0xB9 is "№" in CP1251: the byte splits, its Latin-1 reading would not.
        SplitRow{"HighDelimiterReadByTheCodePage", "1\xB9\xE4\xE2\xE0\n", 3,
                 {"1", QString::fromUtf8("два")}, "CP1251", 0xB9},
        SplitRow{"DelimiterLowByteOnly", "a|b\n", 3, {"a", "b"}, "CP1251", 0x100 + '|'},
        SplitRow{"Utf8Text", "\xC3\xA4;\xE2\x82\xAC\n", 2, {QString::fromUtf8("ä"), QString::fromUtf8("€")},
                 "UTF-8"},
        SplitRow{"NoFieldsWanted", "a;b\n", 0, {}}),
    [](const ::testing::TestParamInfo<SplitRow> &info) { return std::string(info.param.label); });

// Lines written out from a V4 table: the fields encoded, the delimiter as its raw byte, one line
// end, and a record with no field to export as an empty line.
TEST(JoinLine, EncodesFieldsAndEndsWithOneLineFeed)
{
    TableFilesEnvironment environment;
    TempDir dir;
    PSqlList list;
    makeTextTable(dir.file("t"), 3);
    makeTextTable(dir.file("none"), 1, 0);
    ASSERT_TRUE(writeAll(dir.file("in.txt"), "a;;\xCF\xF0\xE8\xE2\xE5\xF2\n"));
    ASSERT_TRUE(list.convertTableTextToBin(dir.file("in.txt"), dir.file("t")));
    ASSERT_TRUE(list.convertTableTextToBin(dir.file("in.txt"), dir.file("none")));

    ASSERT_TRUE(list.convertTableBinToText(dir.file("none"), dir.file("out.txt")));
    EXPECT_EQ(readAll(dir.file("out.txt")), QByteArray("\r\n"));
    ASSERT_TRUE(list.convertTableBinToText(dir.file("t"), dir.file("out.txt")));
    EXPECT_EQ(readAll(dir.file("out.txt")), QByteArray("a;;\xCF\xF0\xE8\xE2\xE5\xF2\r\n"));
    setTable("CP1251", 0xB9);
    ASSERT_TRUE(list.convertTableBinToText(dir.file("t"), dir.file("out.txt")));
    EXPECT_EQ(readAll(dir.file("out.txt")), QByteArray("a\xB9\xB9\xCF\xF0\xE8\xE2\xE5\xF2\r\n"));
}

namespace {

QList<QByteArray> linesOf(const QByteArray &content, qint64 maxBytes, bool &tooLong)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    QList<QByteArray> lines;
    QByteArray line;
    tooLong = false;
    for (;;) {
        const TextLineResult got = readTextLine(buffer, line, maxBytes);
        if (got == TextLineResult::TooLong)
            tooLong = true;
        if (got != TextLineResult::Line)
            break;
        lines << line;
    }
    return lines;
}

} // namespace

TEST(TextLines, CrLfReadsAsLineFeedAndTheLastLineNeedsNoEnd)
{
    bool tooLong = true;
    EXPECT_EQ(linesOf("a\r\nb\rc\n\r\n\nlast", 100, tooLong),
              (QList<QByteArray>{"a\n", "b\rc\n", "\n", "\n", "last"}));
    EXPECT_FALSE(tooLong);
    EXPECT_TRUE(linesOf("", 100, tooLong).isEmpty());
}

TEST(TextLines, LinesLongerThanTheBoundAreRefused)
{
    bool tooLong = false;
    // Exactly the bound, its line end included, passes; one byte more does not.
    EXPECT_EQ(linesOf("12345\nx\n", 6, tooLong), (QList<QByteArray>{"12345\n", "x\n"}));
    EXPECT_FALSE(tooLong);
    EXPECT_EQ(linesOf("ok\n123456\nx\n", 6, tooLong), (QList<QByteArray>{"ok\n"}));
    EXPECT_TRUE(tooLong);
    // Longer than one read chunk, so the line is put together from several.
    const QByteArray big(40000, 'z');
    EXPECT_EQ(linesOf(big + "\r\n", 40002, tooLong), (QList<QByteArray>{big + "\n"}));
    EXPECT_FALSE(tooLong);
    EXPECT_TRUE(linesOf(big + "\n", 40000, tooLong).isEmpty());
    EXPECT_TRUE(tooLong);
}

TEST(TextLines, WrittenLinesEndWithCrLf)
{
    QByteArray out;
    appendTextLine(out, "a;b\n");
    appendTextLine(out, "\n");
    appendTextLine(out, "x\ny\n");
    EXPECT_EQ(out, QByteArray("a;b\r\n\r\nx\r\ny\r\n"));
}

TEST(TextLines, SameFileSeesThroughOtherSpellings)
{
    TempDir dir;
    ASSERT_TRUE(writeAll(dir.file("t.bin"), "x"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    ASSERT_TRUE(QFile::link(dir.file("t.bin"), dir.file("link.bin")));
    EXPECT_TRUE(isSameFile(dir.file("sub/../t.bin"), dir.file("t.bin")));
    EXPECT_TRUE(isSameFile(dir.file("link.bin"), dir.file("t.bin")));
    EXPECT_FALSE(isSameFile(dir.file("missing"), dir.file("missing")));
    EXPECT_FALSE(isSameFile(dir.file("sub"), dir.file("t.bin")));
}
