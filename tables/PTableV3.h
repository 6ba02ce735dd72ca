#pragma once

#include "FileGuard.h"
#include "TableFileIO.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>

class QIODevice;
class QTextCodec;
struct PRow;

// One field of a V3 layout file (".hdr"), four bytes as stored.
struct PFieldV3
{
    quint8 kind;   // 1 text; 2 or 3 number
    quint8 size;   // text: width in bytes; number: decimals 0..9
    quint8 spare1; // kept, not interpreted
    quint8 spare2;
};

// True when both the record file (name + ".bin") and the layout file (name + ".hdr") exist.
bool tableV3Exists(const QString &name);

// A V3 table: equal-length records from the first byte of the ".bin" file, laid out by the
// ".hdr" file. Records are written from offset 0 on; the file is never shortened, so records past
// the last one written keep their old contents. The bytes that records written over had at the
// open are kept aside, in a scratch file, until the table is closed: a stopped upload puts them
// back. The fields below are for reading only.
class PTableV3
{
public:
    PTableV3() = default;
    PTableV3(const PTableV3 &) = delete;
    PTableV3 &operator=(const PTableV3 &) = delete;

    // The record and layout files of the table `name`, matched ignoring case.
    static TableFileNames fileNames(const QString &name);

    // Closes the files and forgets the table and its layout.
    void clear();
    void clearLayout();
    // Opens the table's files as already named, with `codec` as the code page of its text
    // fields for as long as it is open (null: text fields cannot be encoded).
    // A file another conversion writes is waited for as a busy one is; `stop` ends the wait.
    bool open(const QString &name, const TableFileNames &files, QTextCodec *codec, const StopCheck &stop = {});
    bool readHeader(QIODevice &file);
    qint32 computeRecordLength() const;
    // False only when the table has no terminal codec; otherwise `target` holds recordLength bytes.
    bool encodeRecord(QByteArray &target, const PRow &row) const;
    // True only when the whole record was written. On false the file is as it was before this
    // record (also when the bytes it would have written over could not be kept aside).
    bool writeRecord(const PRow &row);
    // False when closing a file reported an error; the table is closed either way.
    bool close();
    // Puts the record file back as it was at the open, as a stopped upload must, and closes the
    // table. False when it could not be put back or a file not be closed.
    bool closeDiscarding();
    QString name() const { return tableName; }

    QString tableName;
    qint32 fieldCount = 0;
    QList<PFieldV3> descriptors;
    qint64 recordCount = 0;
    qint32 recordLength = 0;
    QFile binFile;
    QFile hdrFile;
    bool isOpen = false;
    // The code page of the text fields, taken when the table was opened.
    QTextCodec *terminalCodec = nullptr;

private:
    // Keeps aside the bytes from the open up to `end` that are not kept yet, and some more.
    bool keepOldBytes(qint64 end);
    // Writes the kept bytes between `from` and `to` back into the record file.
    bool putBackOldBytes(qint64 from, qint64 to);

    // The record file's size at the open, and how much of it is kept in `oldBytes`.
    qint64 openSize = 0;
    qint64 keptEnd = 0;
    QFile oldBytes;

    // Another session cannot remove or replace the files while records go into them, and no other
    // conversion writes them meanwhile.
    platform::FileHold binHold;
    platform::FileHold hdrHold;
};
