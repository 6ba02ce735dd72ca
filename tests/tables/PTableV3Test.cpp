#include "PRow.h"
#include "PTableV3.h"
#include "TableTestSupport.h"
#include "TempDir.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace {

// Layout file: N, then one 4-byte descriptor {kind, size, spare, spare} per field.
QByteArray layout(std::initializer_list<std::pair<int, int>> fields)
{
    QByteArray out = bytesOf({int(fields.size())});
    for (const auto &f : fields)
        out += bytesOf({f.first, f.second, 0xAA, 0x55});
    return out;
}

PRow rowOf(std::initializer_list<const char *> texts)
{
    PRow row;
    int i = 0;
    for (const char *t : texts)
        row.setText(i++, QString::fromUtf8(t));
    return row;
}

class PTableV3Test : public ::testing::Test
{
protected:
    QString base() const { return dir.file(QStringLiteral("t")); }
    void makeTable(const QByteArray &hdr, const QByteArray &bin = QByteArray())
    {
        ASSERT_TRUE(writeAll(base() + ".hdr", hdr));
        ASSERT_TRUE(writeAll(base() + ".bin", bin));
    }
    QByteArray bin() const { return readAll(base() + ".bin"); }

    TableFilesEnvironment env;
    TempDir dir;
    PTableV3 table;
};

// ---- layout checks ----

struct LayoutRow
{
    const char *name;
    QByteArray hdr;
    bool opens;
};

void PrintTo(const LayoutRow &row, std::ostream *os) { *os << row.name; }

class PTableV3Layout : public PTableV3Test, public ::testing::WithParamInterface<LayoutRow>
{
};

TEST_P(PTableV3Layout, OpensOnlyAValidLayout)
{
    makeTable(GetParam().hdr);
    EXPECT_EQ(openTable(table, base()), GetParam().opens);
    EXPECT_EQ(table.isOpen, GetParam().opens);
    if (!GetParam().opens) {
        EXPECT_FALSE(table.hdrFile.isOpen()) << "a refused layout file is closed again";
        EXPECT_FALSE(table.binFile.isOpen());
    }
}

QByteArray manyFields(int n)
{
    QByteArray out = bytesOf({n});
    for (int i = 0; i < n; ++i)
        out += bytesOf({1, 1, 0, 0});
    return out;
}

const LayoutRow kLayoutRows[] = {
    {"TextAndNumber", layout({{1, 10}, {2, 2}}), true},
    {"ThirtyFiveFields", manyFields(35), true},
    {"NumberWithNineDecimals", layout({{3, 9}}), true},
    {"Empty", QByteArray(), false},
    {"ZeroFields", bytesOf({0}), false},
    {"ThirtySixFields", manyFields(36), false},
    {"OneByteLonger", layout({{1, 10}, {2, 2}}) + bytesOf({0}), false},
    {"OneByteShorter", layout({{1, 10}, {2, 2}}).left(8), false},
    {"KindFour", layout({{1, 10}, {4, 2}}), false},
    {"KindZero", layout({{0, 1}}), false},
    {"NumberWithTenDecimals", layout({{3, 10}}), false},
    {"OnlyEmptyTextFields", layout({{1, 0}, {1, 0}}), false},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV3Layout, ::testing::ValuesIn(kLayoutRows),
                         [](const ::testing::TestParamInfo<LayoutRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(PTableV3Test, LayoutGivesFieldsAndRecordLength)
{
    makeTable(layout({{1, 10}, {2, 2}, {3, 0}}), QByteArray(50, 'x'));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.fieldCount, 3);
    ASSERT_EQ(table.descriptors.size(), 3);
    EXPECT_EQ(table.descriptors.at(0).spare1, 0xAA);
    EXPECT_EQ(table.descriptors.at(0).spare2, 0x55);
    EXPECT_EQ(table.recordLength, 18);
    EXPECT_EQ(table.recordCount, 2) << "50 bytes of 18-byte records: two whole records";
    EXPECT_EQ(table.name(), base());
}

TEST_F(PTableV3Test, ReadHeaderWorksOnAnyDevice)
{
    QByteArray bytes = layout({{1, 3}, {2, 1}});
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    ASSERT_TRUE(table.readHeader(buffer));
    EXPECT_EQ(table.computeRecordLength(), 7);
}

TEST_F(PTableV3Test, MissingFileRefusedAtOnce)
{
    ASSERT_TRUE(writeAll(base() + ".bin", QByteArray()));
    EXPECT_FALSE(tableV3Exists(base()));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(openTable(table, base()));
    EXPECT_LT(timer.elapsed(), 10 * TableFilesEnvironment::kFastRetryMs) << "no retries for a missing file";
    EXPECT_FALSE(QFile::exists(base() + ".hdr")) << "opening must not create the layout file";
}

TEST_F(PTableV3Test, UnopenableRecordFileIsTriedTenTimes)
{
    makeTable(layout({{1, 2}}));
    ASSERT_TRUE(QFile::setPermissions(base() + ".bin", QFileDevice::Permissions()));
    qint64 elapsed = -1;
    ASSERT_TRUE(runWithoutFileRights([&]() {
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(openTable(table, base()));
        elapsed = timer.elapsed();
    }));
    EXPECT_GE(elapsed, kTableOpenTries * TableFilesEnvironment::kFastRetryMs);
    EXPECT_FALSE(table.hdrFile.isOpen());
    EXPECT_FALSE(table.isOpen);
}

// Nothing that is not a regular file is waited for: a FIFO would never answer.
TEST_F(PTableV3Test, RecordFileThatIsNoRegularFileIsRefusedAtOnce)
{
    ASSERT_TRUE(writeAll(base() + ".hdr", layout({{1, 2}})));
    platform::setTableOpenRetryDelayForTesting(1000);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("t.bin")));
    EXPECT_FALSE(openTable(table, base())) << "a folder";
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("t.bin")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(base() + ".bin").constData(), 0600), 0);
    EXPECT_FALSE(openTable(table, base())) << "a FIFO";
    ASSERT_TRUE(QFile::remove(base() + ".bin"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), base() + ".bin"));
    EXPECT_FALSE(openTable(table, base())) << "a device";
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(table.hdrFile.isOpen());
    EXPECT_FALSE(table.isOpen);
}

// ---- record encoding ----

TEST_F(PTableV3Test, EncodesTextPaddedAndNumbersBigEndian)
{
    makeTable(layout({{1, 10}, {2, 2}}));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.recordLength, 14);
    ASSERT_TRUE(table.writeRecord(rowOf({"AB", "12.5"})));
    EXPECT_EQ(bin(), QByteArray("AB        ") + bytesOf({0x00, 0x00, 0x04, 0xE2}));
    EXPECT_EQ(table.recordCount, 1);
}

struct FieldRow
{
    const char *name;
    int kind;
    int size;
    const char *text;
    QByteArray stored;
};

void PrintTo(const FieldRow &row, std::ostream *os) { *os << row.name; }

class PTableV3Field : public PTableV3Test, public ::testing::WithParamInterface<FieldRow>
{
};

TEST_P(PTableV3Field, StoresTheFieldBytes)
{
    const FieldRow &r = GetParam();
    makeTable(layout({{r.kind, r.size}}));
    ASSERT_TRUE(openTable(table, base()));
    QByteArray record;
    ASSERT_TRUE(table.encodeRecord(record, rowOf({r.text})));
    EXPECT_EQ(record, r.stored);
}

const FieldRow kFieldRows[] = {
    {"TextCutToWidth", 1, 3, "ABCDEF", QByteArray("ABC")},
    {"EmptyTextIsBlanks", 1, 4, "", QByteArray("    ")},
    {"TextInTerminalCodePage", 1, 3, "\xD0\x96\xD0\xB0", bytesOf({0xC6, 0xE0, 0x20})},
    {"NoDecimalsNeedsWholeNumber", 2, 0, "12.5", bytesOf({0, 0, 0, 0})},
    {"NoDecimalsWholeNumber", 2, 0, "12", bytesOf({0, 0, 0, 12})},
    {"OneDecimalScalesWhole", 3, 1, "3", bytesOf({0, 0, 0, 30})},
    {"NegativeKeepsLowBits", 3, 1, "-1.5", bytesOf({0xFF, 0xFF, 0xFF, 0xF1})},
    {"NotANumberIsZero", 2, 2, "abc", bytesOf({0, 0, 0, 0})},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV3Field, ::testing::ValuesIn(kFieldRows),
                         [](const ::testing::TestParamInfo<FieldRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(PTableV3Test, ShortRowFillsMissingFields)
{
    makeTable(layout({{1, 2}, {2, 1}, {1, 3}}));
    ASSERT_TRUE(openTable(table, base()));
    ASSERT_TRUE(table.writeRecord(rowOf({"x"})));
    EXPECT_EQ(bin(), QByteArray("x ") + bytesOf({0, 0, 0, 0}) + QByteArray("   "));
}

TEST_F(PTableV3Test, CodePageIsTakenWhenTheTableOpens)
{
    makeTable(layout({{1, 1}}));
    ASSERT_TRUE(openTable(table, base()));
    const PRow row = rowOf({"\xD0\x96"});
    ASSERT_TRUE(table.writeRecord(row));
    ASSERT_TRUE(table.writeRecord(row));
    ASSERT_TRUE(table.close());
    ASSERT_TRUE(openTable(table, base(), "KOI8-R"));
    ASSERT_TRUE(table.writeRecord(row));
    // Reopened, the table writes from its first record again.
    EXPECT_EQ(bin(), bytesOf({0xF6, 0xC6}));
}

TEST_F(PTableV3Test, UnknownCodePageWritesNothing)
{
    makeTable(layout({{2, 0}, {1, 2}}));
    ASSERT_TRUE(openTable(table, base(), "NoSuchCodePage"));
    QByteArray record("stale");
    EXPECT_FALSE(table.encodeRecord(record, rowOf({"1", "a"})));
    EXPECT_FALSE(table.writeRecord(rowOf({"1", "a"})));
    EXPECT_TRUE(bin().isEmpty());
    EXPECT_EQ(table.recordCount, 0);
}

// ---- writing ----

TEST_F(PTableV3Test, WritesFromTheStartAndKeepsLaterRecords)
{
    QByteArray old;
    for (char c : {'1', '2', '3', '4', '5'})
        old += QByteArray(3, c);
    makeTable(layout({{1, 3}}), old);
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_EQ(table.recordCount, 5);
    for (const char *t : {"a", "b", "c"})
        ASSERT_TRUE(table.writeRecord(rowOf({t})));
    EXPECT_EQ(table.recordCount, 8);
    ASSERT_TRUE(table.close());
    EXPECT_EQ(bin(), QByteArray("a  b  c  444555"));
}

TEST_F(PTableV3Test, ClosedTableWritesNothing)
{
    makeTable(layout({{1, 3}}));
    EXPECT_FALSE(table.writeRecord(rowOf({"a"})));
    ASSERT_TRUE(openTable(table, base()));
    EXPECT_TRUE(table.close());
    EXPECT_FALSE(table.isOpen);
    EXPECT_FALSE(table.binFile.isOpen());
    EXPECT_FALSE(table.hdrFile.isOpen());
    EXPECT_TRUE(table.name().isEmpty());
    EXPECT_TRUE(table.close()) << "closing a closed table does nothing";
    EXPECT_FALSE(table.writeRecord(rowOf({"a"})));
    EXPECT_TRUE(bin().isEmpty());
}

struct PartWrittenRow
{
    const char *name;
    QByteArray old;
    QByteArray afterFailure;
    QByteArray afterNext;
};

void PrintTo(const PartWrittenRow &row, std::ostream *os) { *os << row.name; }

class PTableV3PartWritten : public PTableV3Test, public ::testing::WithParamInterface<PartWrittenRow>
{
};

// The two bytes put down are gone again: the table is not longer, and the old record the failed
// one was to replace is whole.
TEST_P(PTableV3PartWritten, RecordIsTakenBack)
{
    makeTable(layout({{1, 4}}), GetParam().old);
    ASSERT_TRUE(openTable(table, base()));
    const qint64 records = table.recordCount;
    ASSERT_TRUE(table.writeRecord(rowOf({"new1"})));
    platform::armWriteFaultForTesting(1, 2);
    EXPECT_FALSE(table.writeRecord(rowOf({"new2"})));
    EXPECT_EQ(table.recordCount, records + 1);
    EXPECT_EQ(bin(), GetParam().afterFailure);
    ASSERT_TRUE(table.writeRecord(rowOf({"new3"}))) << "the next record goes where the failed one was";
    EXPECT_EQ(bin(), GetParam().afterNext);
}

const PartWrittenRow kPartWrittenRows[] = {
    {"PastTheOldRecords", "old1", "new1", "new1new3"},
    {"OverAnOldRecord", "old1old2old3", "new1old2old3", "new1new3old3"},
};

INSTANTIATE_TEST_SUITE_P(Rows, PTableV3PartWritten, ::testing::ValuesIn(kPartWrittenRows),
                         [](const ::testing::TestParamInfo<PartWrittenRow> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
