#pragma once

#include "PRow.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class PSqlBase;
struct sqlite3_stmt;

// One table of a PSqlBase: its name, the names of its columns after the key column N, and its row
// count. Tables made here begin with N INTEGER PRIMARY KEY AUTOINCREMENT. The base is not owned;
// every operation is false when no base is attached.
class PSqlTable
{
public:
    QString tableName;
    PRow columns;
    PSqlBase *base = nullptr;
    // Rows when attached or created, plus one per insert through this object.
    qint64 recordCount = 0;
    // Highest key N when attached or created, plus one per insert; the next row gets lastKey + 1.
    qint64 lastKey = 0;

    struct StatementEnd
    {
        void operator()(sqlite3_stmt *statement) const;
    };
    // The text of an insert up to its first value, as UTF-8, for the table name and the first
    // `count` columns it was made with; PSqlBase::insert makes it again when they differ. The
    // conversions' INSERT with bound values (PSqlBase::insertBound) is prepared from it once and
    // kept with it, so it lives as long as the conversion's table and no longer.
    struct InsertHead
    {
        QString table;
        PRow columns;
        int count = -1;
        QByteArray text;
        std::unique_ptr<sqlite3_stmt, StatementEnd> statement;
    };
    InsertHead insertHead;

    // Always true; reads count, last key and columns when the table exists.
    bool attach(PSqlBase &sqlBase, const QString &name);
    bool exists() const;
    // Re-creates the table (dropping an existing one) and re-reads count and columns.
    bool create(const QString &columnDefinitions);
    // An index on the first column whose name equals columnName, ignoring ASCII letter case.
    bool createIndexes(const QString &columnName, const QString &stem);
    bool insert(PRow &row);
    bool select(const QString &sql, PRow &row);
    bool next(PRow &row);
    bool beginTransaction();
    bool commit();
};
