// The conversions between delimited text files and tables. Each one checks everything it can
// before it touches a file, and closes every table, file and temporary base before it returns.

#include "PSqlList.h"

#include "CodecLookup.h"
#include "FileGuard.h"
#include "PRow.h"
#include "PSettings.h"
#include "PSqlBase.h"
#include "PSqlTable.h"
#include "PTableV3.h"
#include "PTableV4.h"
#include "TextFieldEncoder.h"
#include "TextLineDecoder.h"
#include "TableFileIO.h"
#include "TextTableFile.h"

#include <QFile>
#include <QStringList>
#include <QTextCodec>

namespace {

// Lines go out to a text file this many bytes at a time.
constexpr int kLinesBlockBytes = 64 * 1024;

// Writes whole lines after the `stored` bytes of whole lines already in the file. When the write
// fails (a full disk), the file is cut back to the end of the last whole line it holds.
bool writeLines(QFile &file, QByteArray &lines, qint64 &stored)
{
    const bool written = lines.isEmpty() || writeTableBytes(file, lines);
    if (written) {
        stored += lines.size();
    } else {
        const qint64 reached = qBound<qint64>(0, file.size() - stored, lines.size());
        const int kept = reached > 0 ? lines.lastIndexOf('\n', int(reached) - 1) + 1 : 0;
        file.resize(stored + kept);
    }
    lines.resize(0); // keeps its room
    return written;
}

bool isFileOfTable(const QString &fileName, const TableFileNames &files)
{
    return isSameFile(fileName, files.data) || isSameFile(fileName, files.companion);
}

// Text files are read only when they are regular files: a FIFO or a device would hold the
// session in a read that never ends.
bool openTextFile(QFile &file, const QString &fileName)
{
    return platform::openRegularFile(file, fileName, QIODevice::ReadOnly);
}

} // namespace

PSqlList::Format PSqlList::currentFormat()
{
    const PSettings current = settings.snapshot();
    Format format;
    format.tableCodec = lookUpCodec(current.tableCharset);
    format.terminalCodec = lookUpCodec(current.terminalCharset);
    format.delimiter = char(current.tableDelimeter & 0xFF);
    return format;
}

void PSqlList::splitLine(const QByteArray &line, PRow &row, int fieldCount, const Format &format,
                         TextLineDecoder &decoder)
{
    const QString text = decoder.decode(format.tableCodec, line);
    const QChar delimiter = decoder.delimiter(format.tableCodec, format.delimiter);
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
}

void PSqlList::joinLine(QByteArray &line, const PRow &row, const Format &format, TextFieldEncoder &encoder)
{
    line.resize(0); // keeps the room the caller reserved
    for (int i = 0; i < row.count(); ++i) {
        if (i > 0)
            line.append(format.delimiter);
        encoder.append(line, format.tableCodec, row.fields.at(i));
    }
    line.append('\n');
}

template <typename Store>
PSqlList::Rows PSqlList::readRows(QFile &file, int fieldCount, const Format &format, Store store)
{
    const qint64 size = file.size();
    QByteArray line;
    PRow row;
    TextLineDecoder decoder;
    for (;;) {
        if (stopping())
            return Rows::Stopped;
        const TextLineResult got = readTextLine(file, line, kMaxLineBytes);
        if (got == TextLineResult::TooLong)
            return Rows::Failed;
        if (got == TextLineResult::End) {
            // A read error ends the lines early: the rest of the file was never converted.
            return file.error() == QFileDevice::NoError ? Rows::Done : Rows::Failed;
        }
        showProgress(file.pos(), size);
        splitLine(line, row, fieldCount, format, decoder);
        if (!store(row))
            return Rows::Failed;
    }
}

bool PSqlList::convertSqlTableTextToBin(const QString &tableName, const QString &fileName)
{
    const Format format = currentFormat();
    if (!currentBase || !format.tableCodec || !QFile::exists(fileName) || isBaseFile(fileName))
        return false;
    QFile file;
    if (!openTextFile(file, fileName))
        return false;
    // The write lock comes first and the next key is read under it: another session's upload
    // into the same table waits here (as long as the busy time-out allows) and then goes after
    // it, rather than colliding on a key both read before either wrote.
    if (!currentBase->exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    PSqlTable table;
    table.attach(*currentBase, tableName);
    if (!table.exists()) {
        currentBase->exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    const Rows end = textToSqlTable(table, file, fileName, format);
    // Lines stored before a failure in the middle stay; a stopped conversion stores nothing; a
    // commit that does not happen must not be reported as stored.
    if (end == Rows::Stopped || !table.commit()) {
        currentBase->exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return end == Rows::Done;
}

PSqlList::Rows PSqlList::textToSqlTable(PSqlTable &table, QFile &file, const QString &fileName,
                                        const Format &format)
{
    if (file.size() == 0)
        return Rows::Failed;
    beginPhase(tr("Convert file %1 to table %2").arg(fileName, table.tableName));
    const Rows end =
        readRows(file, table.columns.count(), format, [&table](PRow &row) { return table.base->insertBound(table, row); });
    if (end == Rows::Done)
        showIndicator(100);
    return end;
}

template <typename Table>
bool PSqlList::textToTable(const QString &fileName, const QString &tableName,
                           Rows (PSqlList::*worker)(Table &, QFile &, const QString &, const Format &))
{
    const Format format = currentFormat();
    const TableFileNames files = Table::fileNames(tableName);
    if (!format.tableCodec || !QFile::exists(fileName) || !tableFilesExist(files))
        return false;
    if (isFileOfTable(fileName, files) || isBaseFile(fileName))
        return false;
    Table table;
    if (!table.open(tableName, files, format.terminalCodec, [this] { return stopping(); }))
        return false;
    QFile file;
    if (!openTextFile(file, fileName)) {
        table.close();
        return false;
    }
    const Rows end = (this->*worker)(table, file, fileName, format);
    // A terminal that left, or a program that ends, gets nothing of its upload: sent again, it
    // must not find part of it in the table already. What a failed write left stays.
    const bool closed = end == Rows::Stopped ? table.closeDiscarding() : table.close();
    return end == Rows::Done && closed;
}

bool PSqlList::convertTableV3TextToBin(const QString &fileName, const QString &tableName)
{
    return textToTable(fileName, tableName, sortV3Table ? &PSqlList::textToTableV3Sorted : &PSqlList::textToTableV3);
}

PSqlList::Rows PSqlList::textToTableV3(PTableV3 &table, QFile &file, const QString &fileName, const Format &format)
{
    if (file.size() == 0)
        return Rows::Failed;
    beginPhase(tr("Convert file %1 to table V3 %2").arg(fileName, table.name()));
    const Rows end =
        readRows(file, table.fieldCount, format, [&table](PRow &row) { return table.writeRecord(row); });
    if (end == Rows::Done)
        showIndicator(100);
    return end;
}

// Sorted on the first field as text, through a table of a private temporary base that lives for
// this call alone. SQLite keeps that base in a file of its own that it deletes at the close, with
// only its page cache in memory: a text file of any size sorts within the session's memory
// bound. Nothing reaches the V3 table before the whole file is read.
PSqlList::Rows PSqlList::textToTableV3Sorted(PTableV3 &table, QFile &file, const QString &fileName,
                                             const Format &format)
{
    if (file.size() == 0)
        return Rows::Failed;
    const int fieldCount = table.fieldCount;
    PSqlBase sortBase;
    if (!sortBase.open(QString()))
        return Rows::Failed;
    sortBase.setJournalMode(QStringLiteral("OFF"));
    PSqlTable list;
    list.attach(sortBase, QStringLiteral("List"));
    QStringList columns;
    for (int i = 1; i <= fieldCount; ++i)
        columns << QStringLiteral("Item_%1 TEXT").arg(i);
    if (!list.create(columns.join(QLatin1Char(',')))
        || !list.createIndexes(QStringLiteral("Item_1"), QString()))
        return Rows::Failed;

    list.beginTransaction();
    beginPhase(tr("Part 1. Convert file %1 to temp table").arg(fileName));
    const Rows read = readRows(file, fieldCount, format, [&](PRow &row) { return sortBase.insertBound(list, row); });
    if (read != Rows::Done)
        return read;
    if (!list.commit())
        return Rows::Failed;
    showIndicator(100);

    beginPhase(tr("Part 2. Convert temp table to V3 table %2").arg(table.name()));
    const qint64 rows = list.recordCount;
    PRow row;
    qint64 written = 0;
    bool fetched = list.select(QStringLiteral("SELECT * FROM List ORDER BY Item_1"), row);
    while (fetched) {
        if (stopping())
            return Rows::Stopped;
        if (!table.writeRecord(row))
            return Rows::Failed;
        showProgress(++written, rows);
        fetched = list.next(row);
    }
    // The base's destructor ends the query and closes the connection on every way out.
    return Rows::Done;
}

bool PSqlList::convertTableTextToBin(const QString &fileName, const QString &tableName)
{
    return textToTable(fileName, tableName, &PSqlList::textToTableV4);
}

PSqlList::Rows PSqlList::textToTableV4(PTableV4 &table, QFile &file, const QString &fileName, const Format &format)
{
    if (file.size() == 0)
        return Rows::Failed;
    beginPhase(tr("Convert file %1 to table V4 %2").arg(fileName, table.name()));
    PRow imported;
    QByteArray record;
    const Rows end = readRows(file, int(table.fieldCount), format, [&](PRow &row) {
        table.importFields(row, imported);
        if (!table.encodeRecord(record, imported))
            return false;
        // A record of no bytes reads back as a broken one and would stop every later export
        // of the table at it.
        return record.isEmpty() || table.appendRecord(record);
    });
    if (end == Rows::Done)
        showIndicator(100);
    return end;
}

bool PSqlList::convertTableBinToText(const QString &tableName, const QString &fileName)
{
    const Format format = currentFormat();
    const TableFileNames files = PTableV4::fileNames(tableName);
    if (fileName.isEmpty() || !format.tableCodec || !tableFilesExist(files))
        return false;
    // Read only: exports of one table run side by side, and beside an upload that appends to it,
    // and a read-only table exports as any other. The file guard then refuses to replace an output
    // that is anything but a regular file, is read-only or is held: by this table, by an open file
    // or SQL base of any session, or by another conversion writing it.
    PTableV4 table;
    if (!table.open(tableName, files, format.terminalCodec, [this] { return stopping(); }, TableUse::Read))
        return false;
    QFile file;
    platform::FileHold hold;
    if (!platform::replaceRegularFile(file, fileName, QIODevice::ReadWrite | QIODevice::Unbuffered, &hold)) {
        table.close();
        return false;
    }
    bool ok = tableV4ToText(table, file, fileName, format);
    file.close();
    if (file.error() != QFileDevice::NoError)
        ok = false;
    table.close();
    return ok;
}

bool PSqlList::tableV4ToText(PTableV4 &table, QFile &file, const QString &fileName, const Format &format)
{
    const qint64 count = table.recordCount;
    if (count <= 0)
        return false;
    beginPhase(tr("Convert table V4 %1 to file %2").arg(table.name(), fileName));
    PRow row;
    PRow exported;
    QByteArray line;
    line.reserve(1024);
    QByteArray lines;
    lines.reserve(kLinesBlockBytes + 1024);
    qint64 stored = 0;
    TextFieldEncoder encoder;
    bool read = true;
    bool written = true;
    for (qint64 i = 0; i < count && read && written; ++i) {
        read = !stopping() && table.readRecord(i, row);
        if (read) {
            table.exportFields(row, exported);
            joinLine(line, exported, format, encoder);
            showProgress(i, count);
            appendTextLine(lines, line);
            if (lines.size() >= kLinesBlockBytes)
                written = writeLines(file, lines, stored);
        }
    }
    // A stopped conversion, or one whose record could not be read, still leaves the whole lines
    // before; a failed write the whole lines that reached the file.
    if (written)
        written = writeLines(file, lines, stored);
    if (!read || !written)
        return false;
    showIndicator(100);
    return true;
}
