#pragma once

#include "FileGuard.h"

#include <QString>
#include <QtGlobal>

#include <mutex>

struct sqlite3;
struct sqlite3_stmt;
struct PRow;
class PSqlTable;

// One SQLite connection: an SQL base a terminal opened, or ":memory:". Every SQL text the server
// sends is built here. Statements are prepared, stepped and finalized anew; at most one query runs
// at a time and any new statement ends it. Used by one session thread; open and close take the
// object's lock. Failures keep SQLite's message and code until the next statement, open or close.
class PSqlBase
{
public:
    // Column limit of fetched rows and of column lists.
    static constexpr int maxColumns = 160;

    PSqlBase();
    // Finalizes a running query and closes an open connection.
    ~PSqlBase();
    PSqlBase(const PSqlBase &) = delete;
    PSqlBase &operator=(const PSqlBase &) = delete;

    // Opens or creates the file (":memory:" gives a private database) and registers the Unicode
    // functions on it. On false no connection is left. While it is open the file is held as an SQL
    // base (neither removed nor replaced by any session, nor its journals); a read-only file opens
    // read-only, so nothing can be written into it.
    bool open(const QString &name);
    // Refused, leaving the connection open, while a query's rows are not fetched to the end.
    bool close();

    // One statement that must run to its end without giving a row.
    bool exec(const QString &sql);
    // The same for a text already in UTF-8.
    bool execUtf8(const char *sql);
    // True when the first row is there; the query then stays on it.
    bool query(const QString &sql);
    // The current row, columns after the first (the key), trimmed; NULL columns are empty texts.
    bool fetchRow(PRow &row);
    bool nextRow(PRow &row);
    bool select(const QString &sql, PRow &row);

    bool tableExists(const PSqlTable &table);
    // Drops an existing table of the name first.
    bool createTable(const PSqlTable &table, const QString &columnDefinitions);
    bool createIndex(const PSqlTable &table, int position, const QString &stem);
    // Doubles the single quotes in the row's texts (the row is changed) and inserts it with the key
    // table.lastKey + 1; on success the table's count and last key go up by one.
    bool insert(PSqlTable &table, PRow &row);
    // insert for the conversions, storing the same: one INSERT prepared once with its values
    // bound, kept by the table while rows come for the same columns, instead of a text compiled
    // for every row (which costs more than the rest of a conversion). The row is not changed.
    bool insertBound(PSqlTable &table, const PRow &row);
    qint64 countRows(const PSqlTable &table);
    // The highest key N of the table; 0 when it is empty, -1 when it cannot be read.
    qint64 maxKey(const PSqlTable &table);
    // Fills table.columns with the names of the columns after the first, at most maxColumns.
    bool tableInfo(PSqlTable &table);
    bool setJournalMode(const QString &mode);

    bool isOpen() const { return openFlag; }
    const QString &fileName() const { return openName; }
    const QString &errorText() const { return lastErrorText; }
    int errorCode() const { return lastErrorCode; }
    sqlite3 *connection() const { return db; }

private:
    // Ends the running query.
    void finalizeStatement();
    void clearError();
    void recordError();
    bool refuseClosed();
    // An open of a file that cannot be held: SQLite's own "cannot open" failure.
    bool refuseOpen();
    void release();

    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    std::mutex lock;
    platform::FileHold fileHold{platform::FileHold::Kind::Database};
    QString openName;
    QString lastErrorText;
    int lastErrorCode = 0;
    bool openFlag = false;
};
