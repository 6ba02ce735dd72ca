#pragma once

#include "FileGuard.h"
#include "TableFileIO.h"
#include "TextFieldEncoder.h"
#include "TextLineDecoder.h"

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
// Records go out and come in by blocks: a conversion costs a few system calls per block rather
// than several per record.
class PTableV4
{
public:
    static constexpr int kMaxFields = 35;
    static constexpr int kMaxTextBytes = 100; // a text field reads back as at most this many bytes

    PTableV4() { clear(); }
    ~PTableV4() { close(); }
    PTableV4(const PTableV4 &) = delete;
    PTableV4 &operator=(const PTableV4 &) = delete;

    // The data and index files of the table `name`, matched ignoring case.
    static TableFileNames fileNames(const QString &name);

    void clear();
    // Opens the table's files as already named, with `codec` as the code page of its text
    // fields for as long as it is open (null: text fields cannot be encoded, and read as UTF-8).
    // Opened to write, a file another conversion writes is waited for as a busy one is; `stop`
    // ends the wait. Opened to read (read-only files too), other readers and a writer do not
    // count.
    bool open(const QString &name, const TableFileNames &files, QTextCodec *codec, const StopCheck &stop = {},
              TableUse use = TableUse::Write);
    // False only when the table has no terminal codec.
    bool encodeRecord(QByteArray &target, const PRow &row) const;
    // Appends an encoded record. Records gather into a block that is written, its data before its
    // index entries, once it is full, and at the close: a failed write or a crash leaves whole
    // records with their entries. Each block goes to the data file's end as it is then, after
    // whatever another handle (a terminal's OpenFile) appended meanwhile. The records of a block
    // count (recordCount, readRecord) once it is written. On false the block failed and both
    // files are as they were before it.
    bool appendRecord(const QByteArray &record);
    bool readRecord(qint64 n, PRow &row);
    // A text field reads as UTF-8 when its bytes are valid UTF-8, as terminals write it; otherwise
    // in the terminal code page, as the server writes it.
    bool decodeRecord(const QByteArray &bytes, PRow &row) const;
    // The fields flagged for import (export), packed from position 0 in field order.
    void importFields(const PRow &source, PRow &target) const;
    void exportFields(const PRow &source, PRow &target) const;
    // Writes the records still in a block first. False when that, or closing a file, failed; the
    // table is closed either way.
    bool close();
    // Takes back every record appended since the open, as a stopped upload must, and closes the
    // table: the index gets its bytes from the open again, and the data file its length, except
    // that bytes another handle appended stay (with any records of this table before them, which
    // no entry names any more). False when a file could not be put back or closed.
    bool closeDiscarding();
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
    bool writeBlock();
    void dropBlock();
    // Cuts the index back to its whole entries up to indEnd, and puts the stray tail after them
    // back; false when that failed.
    bool restoreIndex();
    const char *indexEntry(qint64 n);
    const char *recordBytes(qint64 offset, qint64 length);

    // The code page's encoder and decoder, kept from one field to the next.
    mutable TextFieldEncoder textEncoder;
    mutable TextLineDecoder textDecoder;

    // A reader's end of the data file: its size at the open. A writer's: the end of the last
    // block it wrote there (its size at the open before the first).
    qint64 binEnd;
    // The end of the index's whole entries: the writer is the only one of its table, so nobody
    // else moves it. A stray partial entry that was at the end of the index at the open, until
    // the first block's entries take its place.
    qint64 indEnd;
    QByteArray indTail;
    // What a stopped upload puts back: the whole entries and the data file's length at the open,
    // and how much of the data file is not the writer's to cut (what another handle appended).
    qint64 openIndEnd;
    QByteArray openIndTail;
    qint64 keptBinEnd;
    // The block being gathered: its records' bytes, their index entries (offsets from the start
    // of the block until it is written), how many, and how many it takes. It starts at one record
    // and doubles up to its size in bytes: a block that fails never takes more records with it
    // than the blocks before it stored.
    QByteArray blockData;
    QByteArray blockIndex;
    int blockRecords;
    int blockLimit;
    // Read ahead: index entries from entry `indexAheadFirst` on, data from byte `dataAheadStart` on.
    QByteArray indexAhead;
    qint64 indexAheadFirst;
    QByteArray dataAhead;
    qint64 dataAheadStart;

    // Another session cannot remove or replace the files while records go into them, and no other
    // conversion writes them meanwhile.
    platform::FileHold binHold;
    platform::FileHold indHold;
};
