// The SQL-base register of a session, and the splitting and joining of text table lines.

#include "PRow.h"
#include "PSqlBase.h"
#include "PSqlList.h"
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

class SplitLine : public ::testing::TestWithParam<SplitRow>
{
protected:
    TableFilesEnvironment environment;
    PSqlList list;
};

} // namespace

TEST_P(SplitLine, GivesTrimmedFields)
{
    setTable(GetParam().charset, GetParam().delimiter);
    PRow row;
    row.setText(5, QStringLiteral("stale"));
    ASSERT_TRUE(list.splitLine(GetParam().line, row, GetParam().fieldCount));
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

TEST(SplitJoinLine, UnknownCodePageFails)
{
    TableFilesEnvironment environment;
    setTable("NoSuchCodePage", ';');
    PSqlList list;
    PRow row;
    QByteArray line("kept");
    EXPECT_FALSE(list.splitLine("a;b\n", row, 2));
    row.setText(0, QStringLiteral("a"));
    EXPECT_FALSE(list.joinLine(line, row));
}

TEST(SplitJoinLine, JoinEncodesFieldsAndEndsWithOneLineFeed)
{
    TableFilesEnvironment environment;
    PSqlList list;
    PRow row;
    QByteArray line("old");
    ASSERT_TRUE(list.joinLine(line, row));
    EXPECT_EQ(line, QByteArray("\n"));

    row.setText(0, QStringLiteral("a"));
    row.setText(2, QString::fromUtf8("Привет"));
    ASSERT_TRUE(list.joinLine(line, row));
    EXPECT_EQ(line, QByteArray("a;;\xCF\xF0\xE8\xE2\xE5\xF2\n"));

    setTable("CP1251", 0xB9); // the delimiter goes out as its raw byte
    ASSERT_TRUE(list.joinLine(line, row));
    EXPECT_EQ(line, QByteArray("a\xB9\xB9\xCF\xF0\xE8\xE2\xE5\xF2\n"));
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
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(writeTextLine(buffer, "a;b\n"));
    EXPECT_TRUE(writeTextLine(buffer, "\n"));
    EXPECT_EQ(buffer.data(), QByteArray("a;b\r\n\r\n"));
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
