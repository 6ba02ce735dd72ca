// The four conversions between delimited text files and tables, on files built byte by byte, with
// their progress seen through a signal spy.

#include "FileGuard.h"
#include "PRow.h"
#include "PSqlBase.h"
#include "PSqlList.h"
#include "SignalSink.h"
#include "TableTestSupport.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QStringList texts(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out << QString::fromUtf8(t);
    return out;
}

void setTableCharset(const char *name)
{
    PSettings s = settings.snapshot();
    s.tableCharset = QString::fromLatin1(name);
    settings.store(s);
}

// ---- V3 and V4 tables as bytes ----

struct FieldV3
{
    int kind;
    int size;
};

void makeV3(const QString &name, std::initializer_list<FieldV3> fields, const QByteArray &bin = QByteArray())
{
    QByteArray hdr(1, char(fields.size()));
    for (const FieldV3 &f : fields)
        hdr += bytesOf({f.kind, f.size, 0, 0});
    ASSERT_TRUE(writeAll(name + ".hdr", hdr));
    ASSERT_TRUE(writeAll(name + ".bin", bin));
}

struct FieldV4
{
    int kind;
    int decimals = 0;
    int exportFlag = 1;
    int importFlag = 1;
};

QByteArray headerV4(const QList<FieldV4> &fields)
{
    QByteArray out("PLDB");
    out += wordBE(100) + wordBE(20 + 25 * fields.size()) + wordBE(fields.size()) + wordBE(0);
    for (const FieldV4 &f : fields)
        out += QByteArray(21, '\x11') + bytesOf({f.kind, f.decimals, f.exportFlag, f.importFlag});
    return out;
}

void makeV4(const QString &name, const QList<FieldV4> &fields, const QList<QByteArray> &records = {})
{
    QByteArray bin = headerV4(fields);
    QByteArray ind;
    for (const QByteArray &r : records) {
        ind += wordBE(bin.size()) + wordBE(r.size());
        bin += r;
    }
    ASSERT_TRUE(writeAll(name + ".bin", bin));
    ASSERT_TRUE(writeAll(name + ".ind", ind));
}

// ---- SQL ----

void makeBase(const QString &file, const char *sql)
{
    PSqlBase base;
    ASSERT_TRUE(base.open(file));
    ASSERT_TRUE(base.exec(QString::fromUtf8(sql))) << base.errorText().toStdString();
    ASSERT_TRUE(base.close());
}

// Every row of the table in key order, as "N|field|field...".
QStringList rowsOf(const QString &file, const char *table)
{
    PSqlBase base;
    EXPECT_TRUE(base.open(file));
    QStringList rows;
    sqlite3_stmt *statement = nullptr;
    const QByteArray sql = QByteArray("SELECT * FROM ") + table + " ORDER BY N";
    if (sqlite3_prepare_v2(base.connection(), sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return {QStringLiteral("no table")};
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList columns;
        for (int c = 0; c < sqlite3_column_count(statement); ++c)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, c)));
        rows << columns.join(QLatin1Char('|'));
    }
    sqlite3_finalize(statement);
    return rows;
}

class Conversion : public ::testing::Test
{
protected:
    void SetUp() override { list.session = &sink; }
    void TearDown() override { list.closeAll(); }

    QString path(const char *name) const { return dir.file(QString::fromLatin1(name)); }
    QStringList reports() const { return reportsOf(spy); }
    // A conversion that failed in the middle showed its message and never reached its end.
    void expectStartedNotFinished() const
    {
        ASSERT_FALSE(reports().isEmpty());
        EXPECT_TRUE(reports().first().startsWith(QLatin1String("message ")));
        EXPECT_FALSE(reports().endsWith(QStringLiteral("indicator 100"))) << reports().join('\n').toStdString();
    }
    void openBase(const char *sql)
    {
        makeBase(path("base.db"), sql);
        qint32 handle = 0;
        ASSERT_TRUE(list.openSqlBase(path("base.db"), handle));
    }

    TableFilesEnvironment environment;
    TempDir dir;
    PSqlList list;
    SignalSink sink;
    QSignalSpy spy{&sink, &SignalSink::reported};
};

const char kThreeColumns[] =
    "CREATE TABLE T(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT, Item_2 TEXT, Item_3 TEXT)";

} // namespace

// ---- text into an SQL table ----

TEST_F(Conversion, TextIntoSqlTableStoresTrimmedRowsWithProgress)
{
    openBase(kThreeColumns);
    // Four lines of ten bytes: 25, 50, 75 and 100 percent.
    ASSERT_TRUE(writeAll(path("in.txt"), QByteArray("x1 ; y ;z\n")
                                             + "\xCF\xF0\xE8 ;\xFF;q\r\n"
                                             + "it's;;   \n"
                                             + "last;one;x"));
    ASSERT_TRUE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"),
              texts({"1|x1|y|z", "2|При|я|q", "3|it's||", "4|last|one|x"}));
    EXPECT_EQ(reports(), QStringList{"message Convert file " + path("in.txt") + " to table T"}
                             + texts({"indicator 0", "indicator 25", "indicator 50", "indicator 75",
                                     "indicator 100", "indicator 100"}));
}

TEST_F(Conversion, SqlRowsGoAfterTheTablesHighestKey)
{
    openBase(kThreeColumns);
    makeBase(path("base.db"), "INSERT INTO T VALUES (7, 'old', NULL, NULL)");
    ASSERT_TRUE(writeAll(path("in.txt"), "new;a\n"));
    ASSERT_TRUE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"), texts({"7|old||", "8|new|a|"}));
}

TEST_F(Conversion, SqlInsertFailingMidwayKeepsTheEarlierRows)
{
    openBase("CREATE TABLE T(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT UNIQUE)");
    ASSERT_TRUE(writeAll(path("in.txt"), "a\nb\na\nc\n"));
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"), texts({"1|a", "2|b"}));
    expectStartedNotFinished();
}

TEST_F(Conversion, SqlCommitThatFailsIsRolledBackAndReported)
{
    list.busyTimeoutMs = 50;
    openBase(kThreeColumns);
    ASSERT_TRUE(writeAll(path("in.txt"), "a;b;c\nd;e;f\n"));
    // Another session reads the base and keeps its read lock: the commit cannot happen.
    PSqlBase reader;
    ASSERT_TRUE(reader.open(path("base.db")));
    ASSERT_EQ(sqlite3_exec(reader.connection(), "BEGIN; SELECT count(*) FROM T;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("in.txt")));
    ASSERT_TRUE(reader.exec("COMMIT"));
    EXPECT_TRUE(rowsOf(path("base.db"), "T").isEmpty());
    // The base is not left inside a transaction: the next conversion stores its rows.
    EXPECT_TRUE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"), texts({"1|a|b|c", "2|d|e|f"}));
}

TEST_F(Conversion, SqlConversionRefusals)
{
    ASSERT_TRUE(writeAll(path("in.txt"), "a;b\n"));
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("in.txt"))) << "no base open";

    openBase(kThreeColumns);
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("missing.txt")));
    EXPECT_FALSE(list.convertSqlTableTextToBin("Other", path("in.txt"))) << "no such table";
    ASSERT_TRUE(writeAll(path("empty.txt"), QByteArray()));
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("empty.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.txt"));
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("folder.txt")));
    // The base's own file read as text would be written into itself.
    const QByteArray baseBytes = readAll(path("base.db"));
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("base.db")));
    EXPECT_EQ(readAll(path("base.db")), baseBytes);
    setTableCharset("NoSuchCodePage");
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("in.txt")));

    EXPECT_TRUE(rowsOf(path("base.db"), "T").isEmpty());
    EXPECT_TRUE(reports().isEmpty()) << reports().join('\n').toStdString();
}

// ---- text into V3 ----

TEST_F(Conversion, TextIntoV3WritesRecordsInFileOrder)
{
    makeV3(path("t"), {{1, 4}, {2, 2}});
    ASSERT_TRUE(writeAll(path("in.txt"), QByteArray("b;2\n") + "a;1.5\r\n" + "\xCF\xF0\xE8\xE2\xE5\xF2;0.25"));
    ASSERT_TRUE(list.convertTableV3TextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.bin")), QByteArray("b   ") + wordBE(200) + "a   " + wordBE(150)
                                          + "\xCF\xF0\xE8\xE2" + wordBE(25));
    // 4, 11 and 22 of 22 bytes.
    EXPECT_EQ(reports(), QStringList{"message Convert file " + path("in.txt") + " to table V3 " + path("t")}
                             + texts({"indicator 0", "indicator 18", "indicator 50", "indicator 100",
                                     "indicator 100"}));
}

TEST_F(Conversion, SortedTextIntoV3OrdersOnTheFirstFieldAsText)
{
    makeV3(path("t"), {{1, 3}, {3, 0}});
    ASSERT_TRUE(writeAll(path("in.txt"), "b;2\nB;7\na;1\n10;4\n9;5\n"));
    list.sortV3Table = true;
    ASSERT_TRUE(list.convertTableV3TextToBin(path("in.txt"), path("t")));
    // Upper case before lower, "10" before "9".
    EXPECT_EQ(readAll(path("t.bin")), QByteArray("10 ") + wordBE(4) + "9  " + wordBE(5) + "B  " + wordBE(7)
                                          + "a  " + wordBE(1) + "b  " + wordBE(2));
    // Phase one reads 4, 8, 12, 17 and 21 of 21 bytes; phase two writes five rows.
    EXPECT_EQ(reports(), QStringList{"message Part 1. Convert file " + path("in.txt") + " to temp table"}
                             + texts({"indicator 0", "indicator 19", "indicator 38", "indicator 57",
                                     "indicator 80", "indicator 100", "indicator 100"})
                             + QStringList{"message Part 2. Convert temp table to V3 table " + path("t")}
                             + texts({"indicator 0", "indicator 20", "indicator 40", "indicator 60",
                                     "indicator 80", "indicator 100"}));
}

TEST_F(Conversion, SortedV3LeavesTheTableUntouchedWhenReadingFails)
{
    makeV3(path("t"), {{1, 3}}, "old");
    QByteArray text("a\n");
    text += QByteArray(int(PSqlList::kMaxLineBytes), 'x') + "\n";
    ASSERT_TRUE(writeAll(path("in.txt"), text));
    list.sortV3Table = true;
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.bin")), QByteArray("old"));
}

TEST_F(Conversion, V3LineLongerThanTheBoundFails)
{
    makeV3(path("t"), {{1, 3}});
    QByteArray text("a\n");
    text += QByteArray(int(PSqlList::kMaxLineBytes) - 1, 'x') + "\n"; // exactly the bound
    text += QByteArray(int(PSqlList::kMaxLineBytes), 'y') + "\nz\n";  // one byte over
    ASSERT_TRUE(writeAll(path("in.txt"), text));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.bin")), QByteArray("a  xxx"));
}

TEST_F(Conversion, V3RecordWriteFailingMidwayKeepsTheEarlierRecords)
{
    makeV3(path("t"), {{1, 2}});
    ASSERT_TRUE(writeAll(path("in.txt"), "a\nb\nc\n"));
    platform::armWriteFaultForTesting(2);
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.bin")), QByteArray("a "));
    expectStartedNotFinished();
}

TEST_F(Conversion, V3ConversionRefusals)
{
    makeV3(path("t"), {{1, 2}}, "zz");
    ASSERT_TRUE(writeAll(path("in.txt"), "a\n"));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("missing.txt"), path("t")));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("none")));
    ASSERT_TRUE(writeAll(path("empty.txt"), QByteArray()));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("empty.txt"), path("t")));
    list.sortV3Table = true;
    EXPECT_FALSE(list.convertTableV3TextToBin(path("empty.txt"), path("t")));
    list.sortV3Table = false;
    // A layout file with no field cannot be opened.
    ASSERT_TRUE(writeAll(path("bad.hdr"), QByteArray(1, '\0')));
    ASSERT_TRUE(writeAll(path("bad.bin"), QByteArray()));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("bad")));
    // The table's own files as the text.
    EXPECT_FALSE(list.convertTableV3TextToBin(path("t.bin"), path("t")));
    EXPECT_FALSE(list.convertTableV3TextToBin(path("t.hdr"), path("t")));
    setTableCharset("NoSuchCodePage");
    EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("t")));

    EXPECT_EQ(readAll(path("t.bin")), QByteArray("zz"));
    EXPECT_EQ(readAll(path("t.hdr")), bytesOf({1, 1, 2, 0, 0}));
    EXPECT_TRUE(reports().isEmpty()) << reports().join('\n').toStdString();
}

// ---- text into V4 ----

TEST_F(Conversion, TextIntoV4AppendsTheImportedFields)
{
    makeV4(path("t"), {{1}, {3, 2}, {2}, {1, 0, 1, 0}});
    ASSERT_TRUE(writeAll(path("in.txt"), QByteArray("\xCC\xEE\xEB\xEE\xEA\xEE;12.5;3.25;ignored\n")
                                             + "x ; 1 ;0.5;y"));
    ASSERT_TRUE(list.convertTableTextToBin(path("in.txt"), path("t")));
    const QByteArray first = QByteArray("\xCC\xEE\xEB\xEE\xEA\xEE", 6) + '\0' + wordBE(1250) + wordBE(3)
        + wordBE(250000000);
    const QByteArray second = QByteArray("x", 1) + '\0' + wordBE(100) + wordBE(0) + wordBE(500000000);
    const int start = 20 + 4 * 25;
    EXPECT_EQ(readAll(path("t.bin")), headerV4({{1}, {3, 2}, {2}, {1, 0, 1, 0}}) + first + second);
    EXPECT_EQ(readAll(path("t.ind")),
              wordBE(start) + wordBE(first.size()) + wordBE(start + first.size()) + wordBE(second.size()));
    // 25 and 37 of 37 bytes.
    EXPECT_EQ(reports(), QStringList{"message Convert file " + path("in.txt") + " to table V4 " + path("t")}
                             + texts({"indicator 0", "indicator 67", "indicator 100", "indicator 100"}));
}

TEST_F(Conversion, V4RecordsOfNoBytesAreNotWritten)
{
    // No field is filled from text: every record would be empty.
    makeV4(path("t"), {{1, 0, 1, 0}, {3, 0, 1, 0}});
    ASSERT_TRUE(writeAll(path("in.txt"), "a;1\nb;2\n"));
    EXPECT_TRUE(list.convertTableTextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.ind")), QByteArray());
    EXPECT_EQ(readAll(path("t.bin")), headerV4({{1, 0, 1, 0}, {3, 0, 1, 0}}));
}

TEST_F(Conversion, V4RecordWriteFailingMidwayKeepsTheEarlierRecords)
{
    makeV4(path("t"), {{1}});
    ASSERT_TRUE(writeAll(path("in.txt"), "a\nb\nc\n"));
    platform::armWriteFaultForTesting(3); // the second record's data
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("t")));
    EXPECT_EQ(readAll(path("t.bin")), headerV4({{1}}) + QByteArray("a", 2));
    EXPECT_EQ(readAll(path("t.ind")), wordBE(45) + wordBE(2));
}

TEST_F(Conversion, V4ConversionRefusals)
{
    makeV4(path("t"), {{1}});
    const QByteArray bin = readAll(path("t.bin"));
    ASSERT_TRUE(writeAll(path("in.txt"), "a\n"));
    EXPECT_FALSE(list.convertTableTextToBin(path("missing.txt"), path("t")));
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("none")));
    ASSERT_TRUE(writeAll(path("empty.txt"), QByteArray()));
    EXPECT_FALSE(list.convertTableTextToBin(path("empty.txt"), path("t")));
    ASSERT_TRUE(writeAll(path("bad.bin"), "PLDX"));
    ASSERT_TRUE(writeAll(path("bad.ind"), QByteArray()));
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("bad")));
    EXPECT_FALSE(list.convertTableTextToBin(path("t.bin"), path("t")));
    EXPECT_FALSE(list.convertTableTextToBin(path("t.ind"), path("t")));
    setTableCharset("NoSuchCodePage");
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("t")));

    EXPECT_EQ(readAll(path("t.bin")), bin);
    EXPECT_EQ(readAll(path("t.ind")), QByteArray());
    EXPECT_TRUE(reports().isEmpty()) << reports().join('\n').toStdString();
}

// ---- V4 into text ----

namespace {

const QList<FieldV4> kExportFields = {{1}, {3, 2}, {2, 0, 0}, {1}};

QByteArray record(const char *first, quint32 number, const char *last)
{
    return QByteArray(first) + '\0' + wordBE(number) + wordBE(1) + wordBE(0) + QByteArray(last) + '\0';
}

} // namespace

TEST_F(Conversion, V4IntoTextWritesTheExportedFieldsWithCrLf)
{
    makeV4(path("t"), kExportFields,
           {record("a", 1250, "x"), record("При", 5, "y"), record("c", 0, ""), record("d", 100, "z")});
    ASSERT_TRUE(writeAll(path("out.txt"), "an older and longer file\n"));
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")),
              QByteArray("a;12.50;x\r\n\xCF\xF0\xE8;0.05;y\r\nc;0.00;\r\nd;1.00;z\r\n"));
    EXPECT_EQ(reports(), QStringList{"message Convert table V4 " + path("t") + " to file " + path("out.txt")}
                             + texts({"indicator 0", "indicator 25", "indicator 50", "indicator 75",
                                     "indicator 100"}));
}

TEST_F(Conversion, TextThroughV4AndBackIsTheSameText)
{
    makeV4(path("t"), {{1}, {3, 2}, {1}});
    const QByteArray text("\xCF\xF0\xE8;12.50;x\r\nb;0.00;\r\n");
    ASSERT_TRUE(writeAll(path("in.txt"), text));
    setTerminalCharset("UTF-8"); // V4 text fields read back as UTF-8
    ASSERT_TRUE(list.convertTableTextToBin(path("in.txt"), path("t")));
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), text);
}

TEST_F(Conversion, V4WithoutRecordsGivesAnEmptyFileAndFails)
{
    makeV4(path("t"), kExportFields);
    ASSERT_TRUE(writeAll(path("out.txt"), "old"));
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_TRUE(QFile::exists(path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray());
    EXPECT_TRUE(reports().isEmpty());
}

TEST_F(Conversion, V4RecordThatCannotBeReadEndsTheText)
{
    makeV4(path("t"), kExportFields, {record("a", 1, "x"), record("b", 2, "y")});
    // The second index entry points past the end of the data file.
    QByteArray ind = readAll(path("t.ind"));
    ind.replace(8, 4, wordBE(5000));
    ASSERT_TRUE(writeAll(path("t.ind"), ind));
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("a;0.01;x\r\n"));
    expectStartedNotFinished();
}

TEST_F(Conversion, V4IntoTextRefusals)
{
    makeV4(path("t"), kExportFields, {record("a", 1, "x")});
    const QByteArray bin = readAll(path("t.bin"));
    const QByteArray ind = readAll(path("t.ind"));
    EXPECT_FALSE(list.convertTableBinToText(path("none"), path("out.txt")));
    EXPECT_FALSE(QFile::exists(path("out.txt")));
    // The old file cannot be removed: a folder with something in it.
    ASSERT_TRUE(QDir(dir.path()).mkpath("busy/inside"));
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("busy")));
    EXPECT_TRUE(QDir(path("busy/inside")).exists());
    // The table's own files, and an open base, are never removed to make room.
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("t.bin")));
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("t.ind")));
    openBase(kThreeColumns);
    const QByteArray base = readAll(path("base.db"));
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("base.db")));
    EXPECT_EQ(readAll(path("base.db")), base);
    ASSERT_TRUE(writeAll(path("out.txt"), "kept"));
    setTableCharset("NoSuchCodePage");
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("kept"));

    EXPECT_EQ(readAll(path("t.bin")), bin);
    EXPECT_EQ(readAll(path("t.ind")), ind);
    EXPECT_TRUE(reports().isEmpty()) << reports().join('\n').toStdString();
}

namespace {

// A small tmpfs mounted for one test: a disk that fills up for real.
struct TmpfsMount
{
    explicit TmpfsMount(const QString &path) : where(QFile::encodeName(path))
    {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") == 0;
        reason = mounted ? QByteArray() : QByteArray(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (mounted)
            ::umount2(where.constData(), MNT_DETACH);
    }
    QByteArray where;
    bool mounted = false;
    QByteArray reason;
};

} // namespace

// A read-only table is only read by an export: it exports at once. Uploads into it are refused
// after the usual tries.
TEST_F(Conversion, ReadOnlyV4TableExportsAtOnce)
{
    makeV4(path("t"), kExportFields, {record("a", 1250, "x")});
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(path("t.bin"), readOnly) && QFile::setPermissions(path("t.ind"), readOnly));
    const QByteArray bin = readAll(path("t.bin"));
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("a;12.50;x\r\n"));

    ASSERT_TRUE(writeAll(path("in.txt"), "b;1;y\n"));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("t")));
    EXPECT_GE(timer.elapsed(), kTableOpenTries * TableFilesEnvironment::kFastRetryMs);
    EXPECT_EQ(readAll(path("t.bin")), bin);
}

struct CutOutputRow
{
    const char *name;
    int line;   // the failing write puts down the lines before this one,
    int offset; // and this many bytes after its start (before it, when negative)
};

void PrintTo(const CutOutputRow &row, std::ostream *os) { *os << row.name; }

class CutOutput : public Conversion, public ::testing::WithParamInterface<CutOutputRow>
{
};

// A write to the text file that fails, as on a full disk, leaves the whole lines that reached
// the file and no part of the next.
TEST_P(CutOutput, EndsInAWholeLine)
{
    QList<QByteArray> records;
    for (int i = 0; i < 5000; ++i)
        records << record("some text of a record", quint32(i), "and more");
    makeV4(path("t"), kExportFields, records);
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("whole.txt")));
    const QByteArray whole = readAll(path("whole.txt"));
    int lineStart = 0;
    for (int n = 0; n < GetParam().line; ++n)
        lineStart = whole.indexOf('\n', lineStart) + 1;
    const int reached = lineStart + GetParam().offset;
    ASSERT_GE(reached, 0);
    ASSERT_LT(reached, 60000) << "within the first write";

    platform::armWriteFaultForTesting(1, reached);
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
    const QByteArray out = readAll(path("out.txt"));
    EXPECT_EQ(out, whole.left(GetParam().offset >= 0 ? lineStart : whole.lastIndexOf('\n', lineStart - 2) + 1));
    EXPECT_TRUE(out.isEmpty() || out.endsWith("\r\n"));
}

const CutOutputRow kCutOutputRows[] = {
    {"NothingWritten", 0, 0},
    {"InsideTheFirstLine", 0, 10},
    {"InsideALine", 1000, 7},
    {"BetweenCarriageReturnAndLineFeed", 21, -1},
    {"AtALineEnd", 21, 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, CutOutput, ::testing::ValuesIn(kCutOutputRows),
                         [](const ::testing::TestParamInfo<CutOutputRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(Conversion, V4IntoTextOnAFullDiskFails)
{
    TmpfsMount small(path("small"));
    if (!small.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << small.reason.constData();
    {
        QFile filler(path("small/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    QList<QByteArray> records;
    for (int i = 0; i < 200; ++i)
        records << record("a long enough text for many blocks", quint32(i), "and some more");
    makeV4(path("t"), kExportFields, records);
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("small/out.txt")));
    expectStartedNotFinished();
    const QByteArray out = readAll(path("small/out.txt"));
    EXPECT_TRUE(out.isEmpty() || out.endsWith("\r\n")) << "no part of a line";
}

// ---- the conversion's format, its stop and the files it may touch ----

namespace {

// A session as the conversions see it at each line or record: they ask whether to stop once
// before each one (and once more where the lines end). `onAsk` runs at every question.
class SteppedSink : public PProgressSink
{
public:
    void setIndicator(int) override {}
    void setMessage(const QString &) override {}
    void setType(const QString &) override {}
    bool stopRequested() const override
    {
        ++asked;
        if (onAsk)
            onAsk(asked);
        return stopAfter >= 0 && asked > stopAfter;
    }

    int stopAfter = -1;
    std::function<void(int)> onAsk;
    mutable int asked = 0;
};

class SteppedConversion : public Conversion
{
protected:
    void SetUp() override { list.session = &stepped; }
    // Stops once `lines` lines or records are done.
    void stopAfter(int lines)
    {
        stepped.asked = 0;
        stepped.stopAfter = lines;
    }

    SteppedSink stepped;
};

const QByteArray kFiveLines("a;1\nc;3\nb;2\ne;5\nd;4\n");

void changeFormat()
{
    PSettings s = settings.snapshot();
    s.tableCharset = QStringLiteral("KOI8-R");
    s.terminalCharset = QStringLiteral("KOI8-R");
    s.tableDelimeter = ',';
    settings.store(s);
}

} // namespace

TEST_F(SteppedConversion, StoppedSqlConversionStoresNothing)
{
    openBase(kThreeColumns);
    ASSERT_TRUE(writeAll(path("in.txt"), kFiveLines));
    stopAfter(2);
    EXPECT_FALSE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(stepped.asked, 3);
    EXPECT_TRUE(rowsOf(path("base.db"), "T").isEmpty());
    // Rolled back, not left open: the next conversion stores all its lines.
    stopAfter(-1);
    EXPECT_TRUE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"), texts({"1|a|1|", "2|c|3|", "3|b|2|", "4|e|5|", "5|d|4|"}));
}

// A stopped upload stores nothing: the table's files are as they were, byte for byte, also where
// its records took the place of old ones or went past them, or of a stray part of an entry.
TEST_F(SteppedConversion, StoppedUploadsLeaveTheTableAsItWas)
{
    makeV3(path("v3"), {{1, 1}, {2, 0}}, QByteArray(15, 'o'));
    makeV4(path("v4"), {{1}, {3, 0}}, {QByteArray("old", 4) + wordBE(7)});
    ASSERT_TRUE(writeAll(path("v4.ind"), readAll(path("v4.ind")) + bytesOf({7, 7, 7})));
    ASSERT_TRUE(writeAll(path("in.txt"), kFiveLines));
    const QByteArray v3 = readAll(path("v3.bin"));
    const QByteArray v4 = readAll(path("v4.bin")) + readAll(path("v4.ind"));

    for (int lines : {2, 4}) {
        stopAfter(lines);
        EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("v3")));
        EXPECT_EQ(readAll(path("v3.bin")), v3) << lines << " lines";
    }
    // Sorted: stopped while the file is read, and once five lines, the end and four records are done.
    list.sortV3Table = true;
    for (int steps : {3, 6 + 4}) {
        stopAfter(steps);
        EXPECT_FALSE(list.convertTableV3TextToBin(path("in.txt"), path("v3")));
        EXPECT_EQ(readAll(path("v3.bin")), v3) << steps << " steps";
    }
    stopAfter(4);
    EXPECT_FALSE(list.convertTableTextToBin(path("in.txt"), path("v4")));
    EXPECT_EQ(readAll(path("v4.bin")) + readAll(path("v4.ind")), v4);
}

TEST_F(SteppedConversion, StoppedTextOutputHoldsWholeLines)
{
    makeV4(path("t"), kExportFields,
           {record("a", 1, "x"), record("b", 2, "y"), record("c", 3, "z"), record("d", 4, "w")});
    stopAfter(2);
    EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("a;0.01;x\r\nb;0.02;y\r\n"));
}

TEST_F(SteppedConversion, SettingsChangedDuringAConversionDoNotChangeItsFormat)
{
    // Two lines in CP1251 with ";", the defaults; the settings change after the first line.
    const QByteArray text("\xCF\xF0\xE8;\xE2\xE5\xF2\r\n\xCC\xE8\xF0;\xE4\xEE\xEC\r\n");
    ASSERT_TRUE(writeAll(path("in.txt"), text));
    stepped.onAsk = [](int asked) {
        if (asked == 2)
            changeFormat();
    };
    const auto restore = [] {
        PSettings s;
        s.setDefaults();
        settings.store(s);
    };

    openBase(kThreeColumns);
    stopAfter(-1);
    ASSERT_TRUE(list.convertSqlTableTextToBin("T", path("in.txt")));
    EXPECT_EQ(rowsOf(path("base.db"), "T"), texts({"1|При|вет|", "2|Мир|дом|"}));

    restore();
    makeV3(path("v3"), {{1, 3}, {1, 3}});
    stopAfter(-1);
    ASSERT_TRUE(list.convertTableV3TextToBin(path("in.txt"), path("v3")));
    EXPECT_EQ(readAll(path("v3.bin")), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2\xCC\xE8\xF0\xE4\xEE\xEC"));

    restore();
    makeV4(path("v4"), {{1}, {1}});
    stopAfter(-1);
    ASSERT_TRUE(list.convertTableTextToBin(path("in.txt"), path("v4")));
    EXPECT_EQ(readAll(path("v4.bin")).mid(70), QByteArray("\xCF\xF0\xE8\0\xE2\xE5\xF2\0\xCC\xE8\xF0\0\xE4\xEE\xEC\0", 16));

    restore();
    stopAfter(-1);
    ASSERT_TRUE(list.convertTableBinToText(path("v4"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), text);
}

TEST_F(SteppedConversion, TableFilesAreHeldWhileAConversionWritesThem)
{
    makeV3(path("v3"), {{1, 1}});
    makeV4(path("v4"), {{1}}, {QByteArray("a", 2)});
    ASSERT_TRUE(writeAll(path("in.txt"), "a\nb\n"));
    QStringList held;
    stepped.onAsk = [&](int) {
        for (const char *name : {"v3.bin", "v3.hdr", "v4.bin", "v4.ind", "out.txt"})
            if (platform::isHeldFile(path(name)) && !held.contains(name))
                held << name;
    };
    ASSERT_TRUE(list.convertTableV3TextToBin(path("in.txt"), path("v3")));
    ASSERT_TRUE(list.convertTableTextToBin(path("in.txt"), path("v4")));
    ASSERT_TRUE(list.convertTableBinToText(path("v4"), path("out.txt")));
    EXPECT_EQ(held, texts({"v3.bin", "v3.hdr", "v4.bin", "v4.ind", "out.txt"}));
    for (const char *name : {"v3.bin", "v3.hdr", "v4.bin", "v4.ind", "out.txt"})
        EXPECT_FALSE(platform::isHeldFile(path(name))) << name << " is let go at the end";
}

namespace {

bool makeSocketFile(const QString &path, int &fd)
{
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (fd < 0 || size_t(name.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

} // namespace

// A FIFO, socket or device is never opened: a read from it could wait for ever. Each refusal is
// at once, without the table open's tries.
TEST_F(Conversion, FilesThatAreNotRegularAreRefusedAtOnce)
{
    platform::setTableOpenRetryDelayForTesting(1000);
    openBase(kThreeColumns);
    makeV3(path("v3"), {{1, 1}});
    makeV4(path("v4"), {{1}}, {QByteArray("a", 2)});
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.txt")).constData(), 0600), 0);
    int socketFd = -1;
    ASSERT_TRUE(makeSocketFile(path("socket.txt"), socketFd));
    ASSERT_TRUE(QFile::link("/dev/zero", path("zero.txt")));
    ASSERT_TRUE(QFile::link("/dev/null", path("null.txt")));

    QElapsedTimer timer;
    timer.start();
    for (const char *input : {"fifo.txt", "socket.txt", "zero.txt"}) {
        EXPECT_FALSE(list.convertSqlTableTextToBin("T", path(input))) << input;
        EXPECT_FALSE(list.convertTableV3TextToBin(path(input), path("v3"))) << input;
        EXPECT_FALSE(list.convertTableTextToBin(path(input), path("v4"))) << input;
    }
    for (const char *output : {"fifo.txt", "socket.txt", "null.txt"})
        EXPECT_FALSE(list.convertTableBinToText(path("v4"), path(output))) << output;
    // A table whose record, layout or index file is a FIFO.
    ASSERT_TRUE(writeAll(path("in.txt"), "a\n"));
    for (const char *file : {"v3.bin", "v3.hdr", "v4.bin", "v4.ind"}) {
        const QString name = path(file);
        ASSERT_TRUE(QFile::rename(name, name + ".saved"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        const bool v3 = QByteArray(file).startsWith("v3");
        EXPECT_FALSE(v3 ? list.convertTableV3TextToBin(path("in.txt"), path("v3"))
                        : list.convertTableTextToBin(path("in.txt"), path("v4")))
            << file;
        if (!v3) {
            EXPECT_FALSE(list.convertTableBinToText(path("v4"), path("out.txt"))) << file;
        }
        ASSERT_TRUE(QFile::remove(name));
        ASSERT_TRUE(QFile::rename(name + ".saved", name));
    }
    EXPECT_LT(timer.elapsed(), 1000);
    ::close(socketFd);

    EXPECT_EQ(QFileInfo(path("null.txt")).symLinkTarget(), QStringLiteral("/dev/null"));
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(path("fifo.txt")).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO stays";
    EXPECT_TRUE(rowsOf(path("base.db"), "T").isEmpty());
    EXPECT_TRUE(reports().isEmpty()) << reports().join('\n').toStdString();
}

TEST_F(Conversion, V4IntoTextLeavesAnOutputThatASessionHoldsOpen)
{
    makeV4(path("t"), kExportFields, {record("a", 1, "x")});
    ASSERT_TRUE(writeAll(path("out.txt"), "held"));
    ASSERT_EQ(::link(QFile::encodeName(path("out.txt")).constData(), QFile::encodeName(path("other.txt")).constData()),
              0);
    {
        QFile held;
        platform::FileHold hold;
        ASSERT_TRUE(platform::openRegularFile(held, path("out.txt"), QIODevice::ReadWrite, &hold));
        EXPECT_FALSE(list.convertTableBinToText(path("t"), path("out.txt")));
        EXPECT_FALSE(list.convertTableBinToText(path("t"), path("other.txt"))) << "the same file by another name";
        EXPECT_EQ(readAll(path("out.txt")), QByteArray("held"));
        EXPECT_TRUE(reports().isEmpty());
    }
    EXPECT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("a;0.01;x\r\n"));
    EXPECT_EQ(readAll(path("other.txt")), QByteArray("held")) << "the old file was replaced, not written over";
}

TEST_F(Conversion, CyrillicTextRoundTripsThroughV4WithTheDefaultSettings)
{
    makeV4(path("t"), {{1}, {1}});
    const QByteArray text = QTextCodec::codecForName("CP1251")->fromUnicode(QString::fromUtf8("Молоко;Хлеб\r\n"));
    ASSERT_TRUE(writeAll(path("in.txt"), text));
    ASSERT_TRUE(list.convertTableTextToBin(path("in.txt"), path("t")));
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), text);
}

TEST_F(Conversion, V4RecordsWrittenInUtf8ReadAsBefore)
{
    const QByteArray milk = QString::fromUtf8("Молоко").toUtf8();
    makeV4(path("t"), {{1}, {1}}, {milk + '\0' + "1" + '\0'});
    ASSERT_TRUE(list.convertTableBinToText(path("t"), path("out.txt")));
    EXPECT_EQ(readAll(path("out.txt")), QByteArray("\xCC\xEE\xEB\xEE\xEA\xEE;1\r\n"));
}
