#include "PRow.h"
#include "PSqlList.h"
#include "PTableV4.h"
#include "TableTestSupport.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

struct Field
{
    int kind;
    int decimals = 0;
    int exportFlag = 1;
    int importFlag = 1;
};

QByteArray descriptor(const Field &f)
{
    QByteArray out(21, '\x11'); // the terminal's own bytes: never interpreted here
    out += bytesOf({f.kind, f.decimals, f.exportFlag, f.importFlag});
    return out;
}

// Data file header: "PLDB", word2, header length, field count, word5, then the descriptors.
QByteArray header(const QList<Field> &fields, quint32 word5 = 0, quint32 word2 = 100)
{
    QByteArray out("PLDB");
    out += wordBE(word2) + wordBE(20 + 25 * fields.size()) + wordBE(fields.size()) + wordBE(word5);
    for (const Field &f : fields)
        out += descriptor(f);
    return out;
}

QByteArray entry(quint32 offset, quint32 length)
{
    return wordBE(offset) + wordBE(length);
}

PRow rowOf(std::initializer_list<const char *> texts)
{
    PRow row;
    int i = 0;
    for (const char *t : texts)
        row.setText(i++, QString::fromUtf8(t));
    return row;
}

QStringList textsOf(const PRow &row)
{
    QStringList out;
    for (int i = 0; i < row.count(); ++i)
        out << row.text(i);
    return out;
}

class PTableV4Test : public ::testing::Test
{
protected:
    QString base() const { return dir.file(QStringLiteral("t")); }
    void makeTable(const QByteArray &bin, const QByteArray &ind = QByteArray())
    {
        ASSERT_TRUE(writeAll(base() + ".bin", bin));
        ASSERT_TRUE(writeAll(base() + ".ind", ind));
    }
    // A table whose records are given as bytes; the index points at each in turn.
    void makeTableWithRecords(const QList<Field> &fields, const QList<QByteArray> &records)
    {
        QByteArray bin = header(fields);
        QByteArray ind;
        for (const QByteArray &r : records) {
            ind += entry(bin.size(), r.size());
            bin += r;
        }
        makeTable(bin, ind);
    }
    QByteArray bin() const { return readAll(base() + ".bin"); }
    QByteArray ind() const { return readAll(base() + ".ind"); }
    // Appends the lines of a CP1251 text (default settings) as a terminal's conversion does.
    bool convert(const QByteArray &text)
    {
        PSqlList list;
        return writeAll(dir.file(QStringLiteral("in.txt")), text)
            && list.convertTableTextToBin(dir.file(QStringLiteral("in.txt")), base());
    }

    TableFilesEnvironment env;
    TempDir dir;
    PTableV4 table;
};

// ---- header checks ----

struct HeaderRow
{
    const char *name;
    QByteArray bin;
    bool opens;
};

void PrintTo(const HeaderRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Header : public PTableV4Test, public ::testing::WithParamInterface<HeaderRow>
{
};

TEST_P(PTableV4Header, OpensOnlyAValidHeader)
{
    makeTable(GetParam().bin);
    EXPECT_EQ(openTable(table, base()), GetParam().opens);
    EXPECT_EQ(table.isOpen, GetParam().opens);
    if (!GetParam().opens) {
        EXPECT_FALSE(table.binFile.isOpen()) << "a refused data file is closed again";
        EXPECT_FALSE(table.indFile.isOpen());
    }
}

QByteArray withWord(QByteArray bin, int at, quint32 value)
{
    bin.replace(at, 4, wordBE(value));
    return bin;
}

QByteArray manyFieldsHeader(int n)
{
    QList<Field> fields;
    for (int i = 0; i < n; ++i)
        fields.append(Field{1});
    return header(fields);
}

const HeaderRow kHeaderRows[] = {
    {"TwoFields", bytesOf({0x50, 0x4C, 0x44, 0x42, 0, 0, 0, 0x64, 0, 0, 0, 0x46, 0, 0, 0, 2, 0, 0, 0, 0})
                      + descriptor({1}) + descriptor({3}),
     true},
    {"NoFields", header({}), true},
    {"ThirtyFiveFields", manyFieldsHeader(35), true},
    {"Word2Large", header({{1}}, 0, 0xFFFFFFFF), true},
    {"Word2Is99", header({{1}}, 0, 99), false},
    {"WrongMagic", QByteArray("PLDC") + header({{1}}).mid(4), false},
    {"ThirtySixFields", manyFieldsHeader(36), false},
    {"HeaderLengthOneShort", withWord(header({{1}}), 8, 44), false},
    {"HeaderLengthOneLong", withWord(header({{1}}), 8, 46), false},
    // 25 x count + 20 wraps to 20 in 32 bits for this count; the count check must come first.
    {"FieldCountWrapsHeaderLength", withWord(withWord(header({}), 12, 0x51EB851Fu * 8u), 8, 20), false},
    {"NineteenBytes", header({}).left(19), false},
    {"EmptyFile", QByteArray(), false},
    {"ShortDescriptor", header({{1}, {2}}).left(20 + 25 + 24), false},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Header, ::testing::ValuesIn(kHeaderRows),
                         [](const ::testing::TestParamInfo<HeaderRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(PTableV4Test, HeaderWordsAndDescriptorsAreRead)
{
    makeTable(header({{2, 0, 1, 0}, {3, 2, 0, 1}}, 7, 300));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.magic, 0x504C4442u);
    EXPECT_EQ(table.word2, 300u);
    EXPECT_EQ(table.headerLength, 70u);
    EXPECT_EQ(table.fieldCount, 2u);
    EXPECT_EQ(table.word5, 7u);
    EXPECT_EQ(table.descriptors[1].kind, 3);
    EXPECT_EQ(table.descriptors[1].decimals, 2);
    EXPECT_EQ(table.descriptors[1].exportFlag, 0);
    EXPECT_EQ(table.descriptors[1].importFlag, 1);
    EXPECT_EQ(table.descriptors[0].reserved[20], 0x11);
    EXPECT_EQ(table.descriptors[2].kind, 0) << "descriptors past the field count are zero";
    EXPECT_EQ(table.name(), base());
    ASSERT_TRUE(table.close());
    EXPECT_EQ(table.fieldCount, 0u);
    EXPECT_TRUE(table.name().isEmpty());
}

TEST_F(PTableV4Test, MissingIndexIsRefusedAtOnce)
{
    ASSERT_TRUE(writeAll(base() + ".bin", header({{1}})));
    EXPECT_FALSE(tableV4Exists(base()));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(openTable(table, base()));
    EXPECT_LT(timer.elapsed(), 10 * TableFilesEnvironment::kFastRetryMs);
    EXPECT_FALSE(QFile::exists(base() + ".ind")) << "opening must not create the index";
}

TEST_F(PTableV4Test, UnopenableIndexIsTriedTenTimes)
{
    ASSERT_TRUE(writeAll(base() + ".bin", header({{1}})));
    ASSERT_TRUE(writeAll(base() + ".ind", QByteArray()));
    ASSERT_TRUE(QFile::setPermissions(base() + ".ind", QFileDevice::Permissions()));
    qint64 elapsed = -1;
    ASSERT_TRUE(runWithoutFileRights([&]() {
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(openTable(table, base()));
        elapsed = timer.elapsed();
    }));
    EXPECT_GE(elapsed, kTableOpenTries * TableFilesEnvironment::kFastRetryMs);
    EXPECT_FALSE(table.binFile.isOpen());
}

TEST_F(PTableV4Test, IndexThatIsNoRegularFileIsRefusedAtOnce)
{
    ASSERT_TRUE(writeAll(base() + ".bin", header({{1}})));
    platform::setTableOpenRetryDelayForTesting(1000);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("t.ind")));
    EXPECT_FALSE(openTable(table, base())) << "a folder";
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("t.ind")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(base() + ".ind").constData(), 0600), 0);
    EXPECT_FALSE(openTable(table, base())) << "a FIFO";
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(table.binFile.isOpen());
}

// One conversion writes a table at a time: a second open fails its tries while the first has the
// table open, and a stop ends that wait at once rather than at the next try.
TEST_F(PTableV4Test, ASecondWriterWaitsUntilAStopEndsTheWaitReadersDoNotWait)
{
    ASSERT_TRUE(writeAll(base() + ".bin", header({{1}})));
    ASSERT_TRUE(writeAll(base() + ".ind", QByteArray()));
    platform::setTableOpenRetryDelayForTesting(1000);
    ASSERT_TRUE(openTable(table, base()));
    const auto noWait = [] { return true; };
    PTableV4 readers[2];
    for (PTableV4 &reader : readers)
        EXPECT_TRUE(reader.open(base(), PTableV4::fileNames(base()), nullptr, noWait, TableUse::Read));
    PTableV4 second;
    QElapsedTimer timer;
    timer.start();
    const auto stopSoon = [&timer] { return timer.elapsed() >= 100; };
    EXPECT_FALSE(second.open(base(), PTableV4::fileNames(base()), nullptr, stopSoon));
    EXPECT_GE(timer.elapsed(), 100);
    EXPECT_LT(timer.elapsed(), 600) << "the stop, not the next try, ends the wait";
    table.close();
    EXPECT_TRUE(second.open(base(), PTableV4::fileNames(base()), nullptr, stopSoon));
}

// ---- record count ----

struct CountRow
{
    const char *name;
    int indexBytes;
    quint32 word5;
    qint64 records;
};

void PrintTo(const CountRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Count : public PTableV4Test, public ::testing::WithParamInterface<CountRow>
{
};

TEST_P(PTableV4Count, FollowsTheWord5Rule)
{
    makeTable(header({{1}}, GetParam().word5), QByteArray(GetParam().indexBytes, '\0'));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.recordCount, GetParam().records);
}

const CountRow kCountRows[] = {
    {"TwoEntriesNoneLeftOut", 20, 0, 2},
    {"TwoEntriesOneLeftOut", 20, 1, 1},
    {"Word5EqualsEntries", 16, 2, 2},
    {"Word5AboveEntries", 20, 5, 2},
    {"EmptyIndex", 0, 0, 0},
    {"Word5Huge", 80, 0xFFFFFFFF, 10},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Count, ::testing::ValuesIn(kCountRows),
                         [](const ::testing::TestParamInfo<CountRow> &info) {
                             return std::string(info.param.name);
                         });

// ---- encoding and appending ----

struct EncodeRow
{
    const char *name;
    Field field;
    const char *text;
    QByteArray stored;
};

void PrintTo(const EncodeRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Encode : public PTableV4Test, public ::testing::WithParamInterface<EncodeRow>
{
};

TEST_P(PTableV4Encode, StoresTheFieldBytes)
{
    makeTable(header({GetParam().field}));
    ASSERT_TRUE(openTable(table, base()));
    QByteArray record;
    ASSERT_TRUE(table.encodeRecord(record, rowOf({GetParam().text})));
    EXPECT_EQ(record, GetParam().stored);
}

const EncodeRow kEncodeRows[] = {
    {"DecimalHalf", {2}, "12.5", bytesOf({0, 0, 0, 0x0C, 0x1D, 0xCD, 0x65, 0x00})},
    {"DecimalOfLettersIsZero", {2}, "abc", QByteArray(8, '\0')},
    {"IntegerInHundredthsWithTwoDecimals", {3, 2}, "12.5", bytesOf({0, 0, 0x04, 0xE2})},
    {"IntegerInHundredthsWithNoDecimals", {3, 0}, "12.5", bytesOf({0, 0, 0x04, 0xE2})},
    {"IntegerCommaIsPoint", {3, 5}, "1,5", bytesOf({0, 0, 0, 150})},
    {"TextWithNul", {1}, "AB", bytesOf({0x41, 0x42, 0x00})},
    {"TextInTerminalCodePage", {0}, "\xD0\x96", bytesOf({0xC6, 0x00})},
    {"EmptyTextIsLoneNul", {9}, "", bytesOf({0x00})},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Encode, ::testing::ValuesIn(kEncodeRows),
                         [](const ::testing::TestParamInfo<EncodeRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(PTableV4Test, TextIsCutAtItsNul)
{
    makeTable(header({{1}, {3}}));
    ASSERT_TRUE(openTable(table, base()));
    PRow row;
    row.setText(0, QStringLiteral("AB") + QChar(0) + QStringLiteral("CD"));
    row.setText(1, QStringLiteral("1"));
    QByteArray record;
    ASSERT_TRUE(table.encodeRecord(record, row));
    EXPECT_EQ(record, bytesOf({0x41, 0x42, 0x00, 0, 0, 0, 100})) << "the number stays in its place";
}

TEST_F(PTableV4Test, RecordLengthFollowsTheRow)
{
    makeTable(header({{1}, {3}}));
    ASSERT_TRUE(openTable(table, base()));
    QByteArray record;
    ASSERT_TRUE(table.encodeRecord(record, rowOf({"a"})));
    EXPECT_EQ(record, QByteArray("a", 2)) << "a short row gives a short record";
    ASSERT_TRUE(table.encodeRecord(record, rowOf({"a", "1", "surplus"})));
    EXPECT_EQ(record, QByteArray("a", 2) + wordBE(100)) << "fields past the table are left out";
    ASSERT_TRUE(table.encodeRecord(record, PRow()));
    EXPECT_TRUE(record.isEmpty());
}

TEST_F(PTableV4Test, UnknownCodePageWritesNothing)
{
    makeTable(header({{3}, {1}}));
    ASSERT_TRUE(openTable(table, base(), "NoSuchCodePage"));
    QByteArray record;
    EXPECT_FALSE(table.encodeRecord(record, rowOf({"1", "a"})));
    EXPECT_TRUE(record.isEmpty());
    table.close();
    setTerminalCharset(QStringLiteral("NoSuchCodePage"));
    EXPECT_FALSE(convert("1;a\n"));
    EXPECT_EQ(bin(), header({{3}, {1}}));
    EXPECT_TRUE(ind().isEmpty());
}

TEST_F(PTableV4Test, AppendsRecordAtEndAndEntryAfterLast)
{
    QByteArray data = header({{1}, {3}});
    data += QByteArray(1000 - data.size(), 'z');
    makeTable(data, entry(70, 930));
    ASSERT_TRUE(convert("AB;12.5\n"));
    EXPECT_EQ(ind(), entry(70, 930) + bytesOf({0x00, 0x00, 0x03, 0xE8, 0, 0, 0, 7}));
    EXPECT_EQ(bin(), data + bytesOf({0x41, 0x42, 0x00, 0x00, 0x00, 0x04, 0xE2}));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.recordCount, 2);
}

TEST_F(PTableV4Test, StrayIndexTailDoesNotShiftTheNewEntry)
{
    makeTable(header({{1}}) + QByteArray("x", 2), entry(70, 2) + bytesOf({9, 9, 9}));
    ASSERT_TRUE(convert("new\n"));
    ASSERT_TRUE(openTable(table, base()));
    ASSERT_EQ(table.recordCount, 2);
    PRow row;
    ASSERT_TRUE(table.readRecord(1, row));
    EXPECT_EQ(textsOf(row), QStringList{QStringLiteral("new")});
    EXPECT_EQ(ind().size(), 16);
}

TEST_F(PTableV4Test, ClosedTableNeitherReadsNorWrites)
{
    makeTableWithRecords({{1}}, {QByteArray("a", 2)});
    PRow row = rowOf({"kept"});
    EXPECT_FALSE(table.appendRecord(QByteArray("b", 2)));
    EXPECT_FALSE(table.readRecord(0, row));
    EXPECT_EQ(textsOf(row), QStringList{QStringLiteral("kept")});
    EXPECT_TRUE(table.close());
}

// ---- reading back ----

TEST_F(PTableV4Test, RoundTripByKind)
{
    makeTable(header({{2}, {3, 2}, {1}, {3, 0}}));
    ASSERT_TRUE(convert("12.5;12.5;\xC6x;12.5\n0.000000123;-4;;40000001\n"));

    ASSERT_TRUE(openTable(table, base()));
    ASSERT_EQ(table.recordCount, 2);
    PRow row;
    ASSERT_TRUE(table.readRecord(0, row));
    // Written in CP1251, which is no valid UTF-8: read back in CP1251.
    EXPECT_EQ(textsOf(row), (QStringList{"12.5", "12.50", QString::fromUtf8("\xD0\x96x"), "1250"}));
    ASSERT_TRUE(table.readRecord(1, row));
    EXPECT_EQ(textsOf(row), (QStringList{"0.000000123", "0.00", "", "2147483647"}));
}

TEST_F(PTableV4Test, TextIsReadAsUtf8AndCappedAt100Bytes)
{
    const QByteArray longText(150, 'q');
    // 101 bytes whose 100th opens a two-byte letter: the field, judged whole, is UTF-8, and the
    // cut half-letter is all that is lost.
    const QByteArray cutInside = QByteArray(99, 'a') + QByteArray("\xD0\x96", 2);
    makeTableWithRecords({{1}, {1}, {1}}, {longText + '\0' + QByteArray("\xD0\x96", 2) + '\0' + cutInside + '\0'});
    ASSERT_TRUE(openTable(table, base()));
    PRow row;
    ASSERT_TRUE(table.readRecord(0, row));
    ASSERT_EQ(row.count(), 3);
    EXPECT_EQ(row.text(0), QString(100, QLatin1Char('q')));
    EXPECT_EQ(row.text(1), QString(QChar(0x0416)));
    EXPECT_EQ(row.text(2), QString(99, QLatin1Char('a')) + QChar(0xFFFD));
}

// Terminals write their text fields in UTF-8 and those read exactly as before; what is not UTF-8
// was written in the terminal code page, by this server or a terminal that uses it.
TEST_F(PTableV4Test, TextThatIsNotUtf8ReadsInTheTerminalCodePage)
{
    makeTableWithRecords({{1}, {1}, {1}},
                         {QByteArray("\xCC\xEE\xEB\xEE\xEA\xEE\0\xEF\xBB\xBFok\0\xED\xA0\x80\0", 17)});
    ASSERT_TRUE(openTable(table, base()));
    PRow row;
    ASSERT_TRUE(table.readRecord(0, row));
    EXPECT_EQ(textsOf(row), (QStringList{QString::fromUtf8("Молоко"), "ok",
                                         QString::fromUtf8("\xD0\xBD\xC2\xA0\xD0\x82")}))
        << "a UTF-8 byte-order mark reads as before; an encoded surrogate is no UTF-8";
    table.close();
    ASSERT_TRUE(openTable(table, base(), "KOI8-R"));
    ASSERT_TRUE(table.readRecord(0, row));
    EXPECT_EQ(row.text(0), QString::fromUtf8("лНКНЙН"));
}

struct DecodeRow
{
    const char *name;
    QList<Field> fields;
    QByteArray record;
    bool ok;
    QStringList texts;
};

void PrintTo(const DecodeRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Decode : public PTableV4Test, public ::testing::WithParamInterface<DecodeRow>
{
};

TEST_P(PTableV4Decode, GivesTheFieldsThatFit)
{
    makeTable(header(GetParam().fields));
    ASSERT_TRUE(openTable(table, base()));
    PRow row = rowOf({"stale"});
    EXPECT_EQ(table.decodeRecord(GetParam().record, row), GetParam().ok);
    EXPECT_EQ(textsOf(row), GetParam().texts);
}

const DecodeRow kDecodeRows[] = {
    {"EmptyRecordFails", {{1}}, QByteArray(), false, {"stale"}},
    {"NoFieldsGivesEmptyRow", {}, QByteArray("abc"), true, {}},
    {"LastTextWithoutNul", {{1}, {1}}, QByteArray("a\0bc", 4), true, {"a"}},
    {"CutInsideDecimal", {{3}, {2}}, wordBE(5) + QByteArray(7, '\0'), true, {"5"}},
    {"CutInsideInteger", {{2}, {3}}, QByteArray(8, '\0') + QByteArray(3, '\0'), true, {"0"}},
    {"RecordEndsAfterField", {{3, 1}, {1}}, wordBE(12), true, {"1.2"}},
    {"DecimalWordOutOfRange", {{2}}, wordBE(0xFFFFFFFF) + wordBE(7), true, {"0"}},
    // A decimals byte past 9 reads as 9: a defined text, never a division by zero.
    {"FortyDecimalsReadAsNine", {{3, 40}}, wordBE(1250), true, {"0.000001250"}},
    {"TwoHundredFiftyFiveDecimals", {{3, 255}}, wordBE(0xFFFFFFFF), true, {"4.294967295"}},
    {"BytesBeyondFieldsIgnored", {{3}}, wordBE(7) + QByteArray("junk"), true, {"7"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Decode, ::testing::ValuesIn(kDecodeRows),
                         [](const ::testing::TestParamInfo<DecodeRow> &info) {
                             return std::string(info.param.name);
                         });

// ---- index entries from the terminal's side ----

struct IndexRow
{
    const char *name;
    QByteArray entry;
    qint64 record;
    bool ok;
    const char *text = "";
};

void PrintTo(const IndexRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Index : public PTableV4Test, public ::testing::WithParamInterface<IndexRow>
{
};

TEST_P(PTableV4Index, RefusesEntriesOutsideTheDataFile)
{
    // Data file: the 45-byte header of one text field, then "ab\0" at 45..47.
    makeTable(header({{1}}) + QByteArray("ab", 3), GetParam().entry);
    ASSERT_TRUE(openTable(table, base()));
    PRow row = rowOf({"stale"});
    EXPECT_EQ(table.readRecord(GetParam().record, row), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(textsOf(row), QStringList{QString::fromLatin1(GetParam().text)});
    }
}

const IndexRow kIndexRows[] = {
    {"WholeRecord", entry(45, 3), 0, true, "ab"},
    {"LastByteOnly", entry(47, 1), 0, true, ""},
    {"OffsetAtEnd", entry(48, 1), 0, false},
    {"OffsetFarOut", entry(0xFFFFFFF0, 4), 0, false},
    {"LengthOneTooMany", entry(45, 4), 0, false},
    {"LengthHuge", entry(45, 0xFFFFFFFF), 0, false},
    {"OffsetPlusLengthWraps32Bits", entry(0xFFFFFFF0, 0x20), 0, false},
    {"ZeroLength", entry(45, 0), 0, false},
    {"ShortEntry", entry(45, 3).left(7), 0, false},
    {"NumberAtCount", entry(45, 3), 1, false},
    {"NegativeNumber", entry(45, 3), -1, false},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Index, ::testing::ValuesIn(kIndexRows),
                         [](const ::testing::TestParamInfo<IndexRow> &info) {
                             return std::string(info.param.name);
                         });

// ---- field selection ----

TEST_F(PTableV4Test, ImportPacksFlaggedFieldsIntoLeadingPositions)
{
    makeTable(header({{1, 0, 0, 1}, {3, 0, 0, 0}, {2, 0, 0, 1}}));
    ASSERT_TRUE(openTable(table, base()));
    PRow packed;
    table.importFields(rowOf({" a ", "b", "c", "beyond"}), packed);
    EXPECT_EQ(textsOf(packed), (QStringList{"a", "c"})) << "flagged fields, trimmed, in field order";
    table.close();
    ASSERT_TRUE(convert(" a ;b;c;beyond\n"));
    // Packed field 1 is encoded with descriptor 1 (an integer): "c" reads as 0 hundredths.
    EXPECT_EQ(bin().mid(95), QByteArray("a", 2) + wordBE(0));
}

TEST_F(PTableV4Test, ExportGivesTheFlaggedFieldsOfEachRecord)
{
    makeTableWithRecords({{1, 0, 0}, {3, 1, 1}, {1, 0, 0}},
                         {QByteArray("x", 2) + wordBE(25) + QByteArray("y", 2), QByteArray("z", 2) + wordBE(7)});
    ASSERT_TRUE(openTable(table, base()));
    PRow row;
    PRow packed = rowOf({"stale", "stale"});
    ASSERT_TRUE(table.readRecord(0, row));
    table.exportFields(row, packed);
    EXPECT_EQ(textsOf(packed), QStringList{QStringLiteral("2.5")});
    ASSERT_TRUE(table.readRecord(1, row));
    table.exportFields(row, packed);
    EXPECT_EQ(textsOf(packed), QStringList{QStringLiteral("0.7")});
}

// ---- write failures leave both files as they were ----

struct FaultRow
{
    const char *name;
    int failingWrite;  // 1: the record, 2: its index entry
    qint64 bytesFirst; // bytes put down before the failure
    QByteArray strayIndexTail; // a part of an entry after the last whole one
};

void PrintTo(const FaultRow &row, std::ostream *os) { *os << row.name; }

class PTableV4Fault : public PTableV4Test, public ::testing::WithParamInterface<FaultRow>
{
};

TEST_P(PTableV4Fault, RestoresBothFiles)
{
    makeTableWithRecords({{1}, {3}}, {QByteArray("a", 2) + wordBE(1)});
    ASSERT_TRUE(convert("b;2\n"));
    ASSERT_TRUE(writeAll(base() + ".ind", ind() + GetParam().strayIndexTail));
    const QByteArray binBefore = bin();
    const QByteArray indBefore = ind();

    platform::armWriteFaultForTesting(GetParam().failingWrite, GetParam().bytesFirst);
    EXPECT_FALSE(convert("longer text;3\n"));
    EXPECT_EQ(bin(), binBefore);
    EXPECT_EQ(ind(), indBefore);

    ASSERT_TRUE(convert("c;4\n")) << "the table goes on after the failure";
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.recordCount, 3);
    PRow row;
    ASSERT_TRUE(table.readRecord(2, row));
    EXPECT_EQ(textsOf(row), (QStringList{"c", "400"}));
}

const FaultRow kFaultRows[] = {
    {"RecordNothingWritten", 1, 0, {}},
    {"RecordPartWritten", 1, 5, {}},
    {"EntryNothingWritten", 2, 0, {}},
    {"EntryPartWritten", 2, 4, {}},
    {"EntryPartWrittenOverAStrayTail", 2, 5, bytesOf({7, 7, 7})},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV4Fault, ::testing::ValuesIn(kFaultRows),
                         [](const ::testing::TestParamInfo<FaultRow> &info) {
                             return std::string(info.param.name);
                         });

// A terminal may hold the data file open (OpenFile) and append to it while an upload writes the
// table. Its bytes stay: each block goes after them, and a stopped upload takes back only what
// lies after them.
TEST_F(PTableV4Test, BytesAnotherHandleAppendsStay)
{
    const QByteArray start = header({{1}});
    makeTable(start);
    QFile other(base() + ".bin");
    ASSERT_TRUE(other.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered));
    const auto append = [&](const char *text) {
        QByteArray record;
        return table.encodeRecord(record, rowOf({text})) && table.appendRecord(record);
    };

    ASSERT_TRUE(openTable(table, base()));
    // The first block is one record: it is written at once.
    ASSERT_TRUE(append("first"));
    ASSERT_EQ(other.write("FOREIGN"), 7);
    ASSERT_TRUE(append("second"));
    ASSERT_TRUE(table.close());
    const QByteArray kept = start + QByteArray("first\0FOREIGN", 13) + QByteArray("second", 7);
    EXPECT_EQ(bin(), kept);
    EXPECT_EQ(ind(), entry(start.size(), 6) + entry(start.size() + 13, 7));

    const QByteArray indBefore = ind();
    ASSERT_TRUE(openTable(table, base()));
    ASSERT_TRUE(append("third"));
    ASSERT_EQ(other.write("MORE"), 4);
    ASSERT_TRUE(append("fourth"));
    ASSERT_TRUE(append("fifth"));
    ASSERT_TRUE(table.closeDiscarding());
    EXPECT_EQ(ind(), indBefore) << "the upload is taken back";
    EXPECT_EQ(bin(), kept + QByteArray("third\0MORE", 10)) << "all up to the other handle's bytes stays";

    ASSERT_TRUE(openTable(table, base()));
    ASSERT_TRUE(append("sixth"));
    ASSERT_TRUE(table.closeDiscarding());
    EXPECT_EQ(ind(), indBefore);
    EXPECT_EQ(bin(), kept + QByteArray("third\0MORE", 10)) << "with nobody else's bytes, all is taken back";
}

TEST_F(PTableV4Test, OffsetPast4GiBIsRefused)
{
    makeTable(header({{1}}));
    QFile data(base() + ".bin");
    if (!data.resize(qint64(0x100000000LL)))
        GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    EXPECT_FALSE(convert("a\n"));
    EXPECT_EQ(QFileInfo(base() + ".bin").size(), qint64(0x100000000LL));
    EXPECT_TRUE(ind().isEmpty());
}

// A real full disk: a small tmpfs mounted for this test alone.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &path)
        : where(QFile::encodeName(path))
    {
        mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") == 0;
        reason = mounted ? QByteArray() : QByteArray(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (mounted)
            ::umount2(where.constData(), MNT_DETACH);
    }
    QByteArray where;
    QByteArray reason;
    bool mounted = false;
};

TEST_F(PTableV4Test, FullDiskDuringEntryRestoresTheRecord)
{
    const QString mountPoint = dir.file(QStringLiteral("small"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("small")));
    TmpfsMount small(mountPoint);
    if (!small.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << small.reason.constData();

    // The index fills its last page exactly, so its next entry needs a page the disk has no
    // more of, while the data file still has room in its own last page.
    const QString name = mountPoint + QStringLiteral("/t");
    ASSERT_TRUE(writeAll(name + ".bin", header({{1}})));
    ASSERT_TRUE(writeAll(name + ".ind", QByteArray(4096, '\0')));
    {
        QFile filler(mountPoint + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray page(4096, 'f');
        while (filler.write(page) == page.size()) {
        }
    }
    const QByteArray binBefore = readAll(name + ".bin");
    const QByteArray indBefore = readAll(name + ".ind");

    PSqlList list;
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("in.txt")), "abc\n"));
    EXPECT_FALSE(list.convertTableTextToBin(dir.file(QStringLiteral("in.txt")), name));
    EXPECT_EQ(readAll(name + ".bin"), binBefore);
    EXPECT_EQ(readAll(name + ".ind"), indBefore);
}

} // namespace
