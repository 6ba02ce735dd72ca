#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class PProgressSink;
class PSqlBase;
class PSqlTable;
class PTableV3;
class PTableV4;
class QFile;
class QTextCodec;
class TextFieldEncoder;
class TextLineDecoder;
struct PRow;
struct TableFileNames;

// One SQL base a terminal opened, with the number it knows it by.
struct PSqlEntry
{
    std::unique_ptr<PSqlBase> base;
    qint32 handle = 0;
};

// The SQL bases a session has open, and the four conversions between delimited text files and
// tables: text into a table of the current base, into a V3 table (sorted on the first field when
// the session asks), into a V4 table, and a V4 table back into text. Used by one session thread.
// A conversion tells why it failed to nobody: it answers false and leaves no message behind.
// Each conversion takes its code pages and delimiter from the settings once, when it starts, so
// that a change in the setup dialog never leaves one file or table in two formats. When the
// session is told to stop, a conversion ends at its next line or record and answers false: an
// SQL conversion and an upload into a V3 or V4 table store nothing (the table's files are as they
// were before it), a text file keeps its whole lines. A write that fails ends a conversion too:
// then a table keeps the whole records written before, and a text file the whole lines.
class PSqlList : public QObject
{
    Q_OBJECT

public:
    // The longest line of a text table file, its line end included: a longer one fails the
    // conversion rather than the memory of the server.
    static constexpr qint64 kMaxLineBytes = 16 * 1024 * 1024;
    // How long a statement on an opened base waits for another session's lock before it fails.
    static constexpr int kBusyTimeoutMs = 5000;
    // Far above what a terminal keeps open; each base costs descriptors and memory.
    static constexpr int kMaxOpenBases = 64;
    // What the page caches of one session's bases may take together.
    static constexpr int kCacheBudgetKiB = 16 * 1024;

    PSqlList();
    // Closes nothing: the end of the session does that through closeAll.
    ~PSqlList() override;
    PSqlList(const PSqlList &) = delete;
    PSqlList &operator=(const PSqlList &) = delete;

    // The file must exist. A number is taken before the open and stays used if the open fails;
    // on success the new base becomes the current one and `handle` gets its number. Past
    // kMaxOpenBases open bases the open is refused before a number is taken.
    bool openSqlBase(const QString &fileName, qint32 &handle);
    // The most recently opened of the remaining bases becomes current when the current one goes.
    bool closeSqlBase(qint32 handle);
    void closeAll();
    int indexOf(qint32 handle) const;
    int count() const { return int(entries.size()); }
    PSqlBase *current() const { return currentBase; }

    bool convertSqlTableTextToBin(const QString &tableName, const QString &fileName);
    bool convertTableV3TextToBin(const QString &fileName, const QString &tableName);
    bool convertTableTextToBin(const QString &fileName, const QString &tableName);
    bool convertTableBinToText(const QString &tableName, const QString &fileName);

    // Where progress and messages go; null when nobody listens. Never owned.
    PProgressSink *session = nullptr;
    // The session's V3 sort flag, handed over by the command layer before a V3 conversion.
    bool sortV3Table = false;
    // Given to each base opened from now on; tests shorten it.
    int busyTimeoutMs = kBusyTimeoutMs;

private:
    // The format of one conversion, taken from the settings when it starts.
    struct Format
    {
        QTextCodec *tableCodec = nullptr; // null when the setting names no code page
        QTextCodec *terminalCodec = nullptr;
        char delimiter = ';';
    };
    // How a reading loop ended.
    enum class Rows { Done, Failed, Stopped };

    static Format currentFormat();
    // The common reading loop of the text-to-table workers: each line split into at most
    // fieldCount fields and handed to `store`. Emits the percentages, not the message nor the
    // closing 100.
    template <typename Store>
    Rows readRows(QFile &file, int fieldCount, const Format &format, Store store);
    // One raw line (its line end may still be there) into at most fieldCount trimmed fields.
    static void splitLine(const QByteArray &line, PRow &row, int fieldCount, const Format &format,
                          TextLineDecoder &decoder);
    // The row's fields joined by the delimiter byte, ended by "\n".
    static void joinLine(QByteArray &line, const PRow &row, const Format &format, TextFieldEncoder &encoder);
    // Text into a V3 or V4 table: the checks, the opens and the close around its worker.
    template <typename Table>
    bool textToTable(const QString &fileName, const QString &tableName,
                     Rows (PSqlList::*worker)(Table &, QFile &, const QString &, const Format &));

    // The file names travel beside the files: a file opened as a regular file has no name.
    Rows textToSqlTable(PSqlTable &table, QFile &file, const QString &fileName, const Format &format);
    Rows textToTableV3(PTableV3 &table, QFile &file, const QString &fileName, const Format &format);
    Rows textToTableV3Sorted(PTableV3 &table, QFile &file, const QString &fileName, const Format &format);
    Rows textToTableV4(PTableV4 &table, QFile &file, const QString &fileName, const Format &format);
    bool tableV4ToText(PTableV4 &table, QFile &file, const QString &fileName, const Format &format);

    // True when the file is one of the open bases' files.
    bool isBaseFile(const QString &fileName) const;
    // True once the session is told to stop; asked at each line or record.
    bool stopping() const;
    // A phase of a worker: its message and 0, then each new whole percentage, then 100.
    void beginPhase(const QString &message);
    void showProgress(qint64 done, qint64 total);
    void showIndicator(int value);

    std::vector<PSqlEntry> entries;
    qint32 lastHandle = 0;
    PSqlBase *currentBase = nullptr;
    int lastPercent = 0;
};
