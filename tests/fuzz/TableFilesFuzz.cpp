// The V3 and V4 table readers on arbitrary files, and the conversions that read and write them.
// An input is: one byte of choices, then the data file, the second file (".ind" or ".hdr") and a
// delimited text file, separated by fuzz::kSeparator.

#include "FuzzSupport.h"

#include "PRow.h"
#include "PSqlList.h"
#include "PTableV3.h"
#include "PTableV4.h"

#include <QTextCodec>

namespace {

// Bounds the work of one input; an index of zeros may claim very many records.
constexpr qint64 kMaxRecords = 4096;

enum Choice : std::uint8_t {
    V3 = 0x01,         // the files are a V3 table, else a V4 table
    SortedV3 = 0x02,   // the V3 conversion sorts on the first field
    TextToTable = 0x04 // convert the text file into the table
};

// Opened as a conversion opens it, with the default terminal code page.
template <typename Table>
bool openTable(Table &table, const QString &name)
{
    return table.open(name, Table::fileNames(name), QTextCodec::codecForName("CP1251"));
}

void readV4Records(PTableV4 &table)
{
    const qint64 count = qMin(table.recordCount, kMaxRecords);
    PRow row, exported;
    QByteArray encoded;
    for (qint64 n = 0; n < count; ++n) {
        if (!table.readRecord(n, row))
            continue;
        table.exportFields(row, exported);
        // What was read can be written the same way again.
        fuzz::check(table.encodeRecord(encoded, row), "a record read back encodes");
    }
}

void v4Table(const QString &name, bool textToTable)
{
    PTableV4 table;
    qint64 entriesBefore = -1;
    quint32 word5 = 0;
    if (openTable(table, name)) {
        entriesBefore = table.indFile.size() / 8;
        word5 = table.word5;
        readV4Records(table);
        fuzz::check(table.close(), "a V4 table closes");
    }
    PSqlList list;
    list.convertTableBinToText(name, fuzz::scratchFile(QStringLiteral("OUT.TXT")));
    if (!textToTable)
        return;
    const bool converted = list.convertTableTextToBin(fuzz::scratchFile(QStringLiteral("LINES.TXT")), name);
    if (!converted || entriesBefore < 0 || word5 != 0)
        return;
    // Every record the conversion appended reads back.
    fuzz::check(openTable(table, name), "a converted V4 table opens again");
    for (qint64 n = entriesBefore; n < qMin(table.recordCount, entriesBefore + kMaxRecords); ++n) {
        PRow row;
        fuzz::check(table.readRecord(n, row), "an appended record reads back");
    }
    table.close();
}

void v3Table(const QString &name, bool sorted, bool textToTable)
{
    PTableV3 table;
    if (openTable(table, name)) {
        fuzz::check(table.recordLength > 0, "an open V3 table has a record length");
        PRow row;
        row.setText(0, QStringLiteral("kiwi"));
        row.setText(1, QStringLiteral("1.25"));
        row.setText(2, QStringLiteral("3"));
        const qint64 before = table.binFile.size();
        if (!table.writeRecord(row))
            fuzz::check(table.binFile.size() == before, "a failed V3 write leaves the file as it was");
        table.close();
    }
    if (!textToTable)
        return;
    PSqlList list;
    list.sortV3Table = sorted;
    list.convertTableV3TextToBin(fuzz::scratchFile(QStringLiteral("LINES.TXT")), name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t choices = data[0];
    const std::vector<QByteArray> parts = fuzz::splitInput(data + 1, size - 1, 3);
    auto part = [&parts](std::size_t i) { return i < parts.size() ? parts[i] : QByteArray(); };
    fuzz::emptyScratch();
    const bool isV3 = choices & V3;
    const bool written = fuzz::writeFile(QStringLiteral("TABLE.bin"), part(0))
        && fuzz::writeFile(isV3 ? QStringLiteral("TABLE.hdr") : QStringLiteral("TABLE.ind"), part(1))
        && fuzz::writeFile(QStringLiteral("LINES.TXT"), part(2));
    fuzz::check(written, "the input files could be written");
    const QString name = fuzz::scratchFile(QStringLiteral("TABLE"));
    if (isV3)
        v3Table(name, choices & SortedV3, choices & TextToTable);
    else
        v4Table(name, choices & TextToTable);
    return 0;
}
