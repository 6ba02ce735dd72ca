#pragma once

#include "FileGuard.h"
#include "TableFileIO.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

class QTextCodec;
struct PRow;

// One 25-byte field descriptor of a V4 data file header, as stored.
struct PFieldV4
{
    quint8 reserved[21]; // the terminal application's; not interpreted here
    quint8 kind;         // 2 decimal (8 bytes), 3 integer (4 bytes), anything else text
    quint8 decimals;     // kind 3: decimals shown on reading (above 9 counts as 9)
    quint8 exportFlag;   // non-zero: written out by table-to-text
    quint8 importFlag;   // non-zero: filled by text-to-table
};
static_assert(sizeof(PFieldV4) == 25, "a V4 descriptor is 25 bytes on disk");

// True when both the data file (name + ".bin") and the index file (name + ".ind") exist.
bool tableV4Exists(const QString &name);

// A V4 table: a data file with a "PLDB" header and variable-length records, and an index of
// 8-byte entries {offset, length}, both big-endian. Tables are made elsewhere; this class checks
// the header, appends records and reads them back. The fields below are for reading only.
class PTableV4
{
public:
    static constexpr int kMaxFields = 35;
    static constexpr int kMaxTextBytes = 100; // a text field reads back as at most this many bytes

    PTableV4() { clear(); }
    PTableV4(const PTableV4 &) = delete;
    PTableV4 &operator=(const PTableV4 &) = delete;

    // The data and index files of the table `name`, matched ignoring case.
    static TableFileNames fileNames(const QString &name);

    void clear();
    // Opens the table's files as already named, with `codec` as the code page of its text
    // fields for as long as it is open (null: text fields cannot be encoded, and read as UTF-8).
    // Opened to write, a file another conversion writes is waited for as a busy one is; `stop`
    // ends the wait. Opened to read, other readers and a writer do not count.
    bool open(const QString &name, const TableFileNames &files, QTextCodec *codec, const StopCheck &stop = {},
              TableUse use = TableUse::Write);
    // False only when the table has no terminal codec.
    bool encodeRecord(QByteArray &target, const PRow &row) const;
    // Appends an encoded record, then its index entry. On false both files have their old sizes
    // again.
    bool appendRecord(const QByteArray &record);
    bool readRecord(qint64 n, PRow &row);
    // A text field reads as UTF-8 when its bytes are valid UTF-8, as terminals write it; otherwise
    // in the terminal code page, as the server writes it.
    bool decodeRecord(const QByteArray &bytes, PRow &row) const;
    // The fields flagged for import (export), packed from position 0 in field order.
    void importFields(const PRow &source, PRow &target) const;
    void exportFields(const PRow &source, PRow &target) const;
    // False when closing a file reported an error; the table is closed either way.
    bool close();
    QString name() const { return tableName; }

    quint32 magic;
    quint32 word2;
    quint32 headerLength;
    quint32 fieldCount;
    quint32 word5;
    PFieldV4 descriptors[kMaxFields];
    QFile binFile;
    QFile indFile;
    bool isOpen;
    qint64 recordCount;
    QString tableName;
    // The code page of the text fields, taken when the table was opened.
    QTextCodec *terminalCodec;

private:
    void packFields(const PRow &source, PRow &target, bool import) const;
    QString decodeText(const char *bytes, int length) const;

    // Another session cannot remove or replace the files while records go into them, and no other
    // conversion writes them meanwhile.
    platform::FileHold binHold;
    platform::FileHold indHold;
};
