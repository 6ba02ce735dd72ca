#include "PSqlTable.h"

#include "PSqlBase.h"

#include <sqlite3.h>

namespace {

// Equal when the names match character for character, ASCII letters in either case.
bool sameNameIgnoringAsciiCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        ushort x = a.at(i).unicode(), y = b.at(i).unicode();
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

void PSqlTable::StatementEnd::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

bool PSqlTable::attach(PSqlBase &sqlBase, const QString &name)
{
    // A kept insert belongs to the connection it was prepared on.
    insertHead.statement.reset();
    base = &sqlBase;
    tableName = name;
    if (base->tableExists(*this)) {
        recordCount = base->countRows(*this);
        // A table with gaps in its keys (rows deleted) has its highest key above its count.
        const qint64 highest = base->maxKey(*this);
        lastKey = highest >= 0 ? highest : recordCount;
        base->tableInfo(*this);
    } else {
        recordCount = 0;
        lastKey = 0;
        columns.clear();
    }
    return true;
}

bool PSqlTable::exists() const
{
    return base && base->tableExists(*this);
}

bool PSqlTable::create(const QString &columnDefinitions)
{
    if (!base || !base->createTable(*this, columnDefinitions))
        return false;
    recordCount = base->countRows(*this);
    lastKey = recordCount;
    base->tableInfo(*this);
    return true;
}

bool PSqlTable::createIndexes(const QString &columnName, const QString &stem)
{
    if (!base)
        return false;
    for (int i = 0; i < columns.count(); ++i)
        if (sameNameIgnoringAsciiCase(columns.text(i), columnName))
            return base->createIndex(*this, i, stem);
    return false;
}

bool PSqlTable::insert(PRow &row)
{
    return base && base->insert(*this, row);
}

bool PSqlTable::select(const QString &sql, PRow &row)
{
    return base && base->select(sql, row);
}

bool PSqlTable::next(PRow &row)
{
    return base && base->nextRow(row);
}

bool PSqlTable::beginTransaction()
{
    return base && base->exec(QStringLiteral("BEGIN TRANSACTION"));
}

bool PSqlTable::commit()
{
    return base && base->exec(QStringLiteral("COMMIT"));
}
