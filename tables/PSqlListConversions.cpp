// The conversions between delimited text files and tables. Each one checks everything it can
// before it touches a file, and closes every table, file and temporary base before it returns.

#include "PSqlList.h"

#include "CodecLookup.h"
#include "PRow.h"
#include "PSettings.h"
#include "PSqlBase.h"
#include "PSqlTable.h"
#include "PTableV3.h"
#include "PTableV4.h"
#include "TerminalPath.h"
#include "TextLineDecoder.h"
#include "TextTableFile.h"

#include <QFile>
#include <QStringList>
#include <QTextCodec>

namespace {

// Conversions look the code page up anew: the setup dialog may change it between two of them.
bool tableCodecKnown()
{
    return lookUpCodec(settings.snapshot().tableCharset) != nullptr;
}

bool isFileOfTable(const QString &fileName, const QString &tableName, const char *second)
{
    return isSameFile(fileName, platform::tableFilePath(tableName, ".bin"))
        || isSameFile(fileName, platform::tableFilePath(tableName, second));
}

} // namespace

bool PSqlList::splitLine(const QByteArray &line, PRow &row, int fieldCount) const
{
    TextLineDecoder decoder;
    return splitLine(line, row, fieldCount, decoder);
}

bool PSqlList::splitLine(const QByteArray &line, PRow &row, int fieldCount, TextLineDecoder &decoder) const
{
    const PSettings current = settings.snapshot();
    QTextCodec *codec = lookUpCodec(current.tableCharset);
    if (!codec)
        return false;
    const QString text = decoder.decode(codec, line);
    const QChar delimiter = decoder.delimiter(codec, char(current.tableDelimeter & 0xFF));
    row.clear();
    const QStringView rest(text);
    int start = 0;
    for (int i = 0; i < fieldCount && start < text.size(); ++i) {
        const int found = text.indexOf(delimiter, start);
        if (found < 0) {
            row.setText(i, rest.mid(start));
            break;
        }
        row.setText(i, rest.mid(start, found - start));
        start = found + 1;
    }
    return true;
}

bool PSqlList::joinLine(QByteArray &line, const PRow &row) const
{
    const PSettings current = settings.snapshot();
    QTextCodec *codec = lookUpCodec(current.tableCharset);
    if (!codec)
        return false;
    line.clear();
    for (int i = 0; i < row.count(); ++i) {
        if (i > 0)
            line.append(char(current.tableDelimeter & 0xFF));
        line.append(codec->fromUnicode(row.text(i)));
    }
    line.append('\n');
    return true;
}

template <typename Store>
bool PSqlList::readRows(QFile &file, int fieldCount, Store store)
{
    const qint64 size = file.size();
    QByteArray line;
    PRow row;
    TextLineDecoder decoder;
    for (;;) {
        const TextLineResult got = readTextLine(file, line, kMaxLineBytes);
        if (got == TextLineResult::TooLong)
            return false;
        if (got == TextLineResult::End) {
            // A read error ends the lines early: the rest of the file was never converted.
            return file.error() == QFileDevice::NoError;
        }
        showProgress(file.pos(), size);
        if (!splitLine(line, row, fieldCount, decoder) || !store(row))
            return false;
    }
}

bool PSqlList::convertSqlTableTextToBin(const QString &tableName, const QString &fileName)
{
    if (!currentBase || !QFile::exists(fileName) || !tableCodecKnown() || isBaseFile(fileName))
        return false;
    PSqlTable table;
    table.attach(*currentBase, tableName);
    if (!table.exists())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Without a transaction every insert would commit alone, and a failure could no longer be
    // told apart from what is stored.
    if (!table.beginTransaction())
        return false;
    bool ok = textToSqlTable(table, file);
    // Lines stored before a failure in the middle stay; a commit that does not happen must not be
    // reported as stored.
    if (!table.commit()) {
        currentBase->exec(QStringLiteral("ROLLBACK"));
        ok = false;
    }
    file.close();
    return ok;
}

bool PSqlList::textToSqlTable(PSqlTable &table, QFile &file)
{
    if (file.size() == 0)
        return false;
    beginPhase(tr("Convert file %1 to table %2").arg(file.fileName(), table.tableName));
    if (!readRows(file, table.columns.count(), [&table](PRow &row) { return table.insert(row); }))
        return false;
    showIndicator(100);
    return true;
}

bool PSqlList::convertTableV3TextToBin(const QString &fileName, const QString &tableName)
{
    if (!QFile::exists(fileName) || !tableCodecKnown() || !tableV3Exists(tableName))
        return false;
    if (isFileOfTable(fileName, tableName, ".hdr") || isBaseFile(fileName))
        return false;
    PTableV3 table;
    if (!table.open(tableName))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        table.close();
        return false;
    }
    const bool ok = sortV3Table ? textToTableV3Sorted(table, file) : textToTableV3(table, file);
    file.close();
    const bool closed = table.close();
    return ok && closed;
}

bool PSqlList::textToTableV3(PTableV3 &table, QFile &file)
{
    if (file.size() == 0)
        return false;
    beginPhase(tr("Convert file %1 to table V3 %2").arg(file.fileName(), table.name()));
    if (!readRows(file, table.fieldCount, [&table](PRow &row) { return table.writeRecord(row); }))
        return false;
    showIndicator(100);
    return true;
}

// Sorted on the first field as text, through a table of an in-memory base that lives for this
// call alone. Nothing reaches the V3 table before the whole file is read.
bool PSqlList::textToTableV3Sorted(PTableV3 &table, QFile &file)
{
    if (file.size() == 0)
        return false;
    const int fieldCount = table.fieldCount;
    PSqlBase memory;
    if (!memory.open(QStringLiteral(":memory:")))
        return false;
    memory.setJournalMode(QStringLiteral("OFF"));
    PSqlTable list;
    list.attach(memory, QStringLiteral("List"));
    QStringList columns;
    for (int i = 1; i <= fieldCount; ++i)
        columns << QStringLiteral("Item_%1 TEXT").arg(i);
    if (!list.create(columns.join(QLatin1Char(',')))
        || !list.createIndexes(QStringLiteral("Item_1"), QString()))
        return false;

    list.beginTransaction();
    beginPhase(tr("Part 1. Convert file %1 to temp table").arg(file.fileName()));
    if (!readRows(file, fieldCount, [&list](PRow &row) { return list.insert(row); }))
        return false;
    if (!list.commit())
        return false;
    showIndicator(100);

    beginPhase(tr("Part 2. Convert temp table to V3 table %2").arg(table.name()));
    const qint64 rows = list.recordCount;
    PRow row;
    qint64 written = 0;
    bool fetched = list.select(QStringLiteral("SELECT * FROM List ORDER BY Item_1"), row);
    while (fetched) {
        if (!table.writeRecord(row))
            return false;
        showProgress(++written, rows);
        fetched = list.next(row);
    }
    // The base's destructor ends the query and closes the connection on every way out.
    return true;
}

bool PSqlList::convertTableTextToBin(const QString &fileName, const QString &tableName)
{
    if (!QFile::exists(fileName) || !tableCodecKnown() || !tableV4Exists(tableName))
        return false;
    if (isFileOfTable(fileName, tableName, ".ind") || isBaseFile(fileName))
        return false;
    PTableV4 table;
    if (!table.open(tableName))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        table.close();
        return false;
    }
    const bool ok = textToTableV4(table, file);
    file.close();
    const bool closed = table.close();
    return ok && closed;
}

bool PSqlList::textToTableV4(PTableV4 &table, QFile &file)
{
    if (file.size() == 0)
        return false;
    beginPhase(tr("Convert file %1 to table V4 %2").arg(file.fileName(), table.name()));
    PRow imported;
    QByteArray probe;
    const bool ok = readRows(file, int(table.fieldCount), [&](PRow &row) {
        table.importFields(row, imported);
        // A record of no bytes reads back as a broken one and would stop every later export
        // of the table at it.
        if (table.encodeRecord(probe, imported) && probe.isEmpty())
            return true;
        return table.writeRecord(imported);
    });
    if (!ok)
        return false;
    showIndicator(100);
    return true;
}

bool PSqlList::convertTableBinToText(const QString &tableName, const QString &fileName)
{
    if (fileName.isEmpty() || !tableCodecKnown() || !tableV4Exists(tableName))
        return false;
    // The old file is removed below: it must not be the table itself or a base open under us.
    const bool exists = QFile::exists(fileName);
    if (exists && (isFileOfTable(fileName, tableName, ".ind") || isBaseFile(fileName)))
        return false;
    PTableV4 table;
    if (!table.open(tableName))
        return false;
    if (exists && !QFile::remove(fileName)) {
        table.close();
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        table.close();
        return false;
    }
    bool ok = tableV4ToText(table, file);
    file.close();
    if (file.error() != QFileDevice::NoError)
        ok = false;
    table.close();
    return ok;
}

bool PSqlList::tableV4ToText(PTableV4 &table, QFile &file)
{
    const qint64 count = table.recordCount;
    if (count <= 0)
        return false;
    beginPhase(tr("Convert table V4 %1 to file %2").arg(table.name(), file.fileName()));
    PRow row;
    PRow exported;
    QByteArray line;
    for (qint64 i = 0; i < count; ++i) {
        if (!table.readRecord(i, row))
            return false;
        table.exportFields(row, exported);
        if (!joinLine(line, exported))
            return false;
        if (line.isEmpty())
            continue;
        showProgress(i, count);
        if (!writeTextLine(file, line))
            return false;
    }
    // Buffered lines that cannot be written out are lines the terminal will not find.
    if (!file.flush())
        return false;
    showIndicator(100);
    return true;
}
