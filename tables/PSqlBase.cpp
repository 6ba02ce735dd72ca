#include "PSqlBase.h"

#include "PRow.h"
#include "PSqlTable.h"
#include "UnicodeFunctions.h"

#include <QFile>
#include <QStringList>
#include <QVarLengthArray>

#include <sqlite3.h>

namespace {

QString quoteDoubled(const QString &text, QChar quote)
{
    QString doubled = text;
    doubled.replace(quote, QString(2, quote));
    return doubled;
}

// Names from a terminal go into SQL texts. An ordinary name (letters, digits, "_" and anything
// beyond ASCII, not starting with a digit) stands as it is; any other is quoted with its quotes
// doubled, so no name can change the structure of a statement.
QString sqlName(const QString &name)
{
    bool ordinary = !name.isEmpty() && !(name.at(0) >= QLatin1Char('0') && name.at(0) <= QLatin1Char('9'));
    for (QChar c : name) {
        const ushort u = c.unicode();
        if (!(u >= 0x80 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_')) {
            ordinary = false;
            break;
        }
    }
    return ordinary ? name : QLatin1Char('"') + quoteDoubled(name, QLatin1Char('"')) + QLatin1Char('"');
}

QString singleQuoted(const QString &text)
{
    return QLatin1Char('\'') + quoteDoubled(text, QLatin1Char('\'')) + QLatin1Char('\'');
}

} // namespace

PSqlBase::PSqlBase() = default;

PSqlBase::~PSqlBase()
{
    release();
}

void PSqlBase::release()
{
    finalizeStatement();
    if (db) {
        // close_v2 never leaves the handle behind, whatever else still refers to it.
        sqlite3_close_v2(db);
        db = nullptr;
    }
    fileHold.release();
    openFlag = false;
    openName.clear();
}

void PSqlBase::finalizeStatement()
{
    sqlite3_finalize(statement);
    statement = nullptr;
}

void PSqlBase::clearError()
{
    lastErrorText.clear();
    lastErrorCode = 0;
}

// A statement on a closed base fails the way SQLite reports misuse, instead of reaching SQLite
// with no connection.
bool PSqlBase::refuseClosed()
{
    if (db)
        return false;
    lastErrorText = QString::fromUtf8(sqlite3_errstr(SQLITE_MISUSE));
    lastErrorCode = SQLITE_MISUSE;
    return true;
}

void PSqlBase::recordError()
{
    lastErrorText = QString::fromUtf8(sqlite3_errmsg(db));
    lastErrorCode = sqlite3_errcode(db);
}

// SQLite keeps its memory statistics under one process-wide lock, taken at every allocation,
// unless told otherwise before its first use; nothing here reads them, and a conversion's
// statement text per row makes dozens of allocations (a quarter of the time of each insert).
// Every use of SQLite in the programs starts with an open, so this comes first. When SQLite is in
// use already (a test that went to it directly), the call is refused and nothing changes.
static void configureSqliteOnce()
{
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    Q_UNUSED(configured);
}

bool PSqlBase::open(const QString &name)
{
    configureSqliteOnce();
    std::lock_guard<std::mutex> guard(lock);
    release();
    clearError();

    // An existing file is held before SQLite opens it by name, so that no session can put
    // another file in its place between the two; a new one as soon as SQLite has made it.
    const bool isFile = !name.isEmpty() && name != QLatin1String(":memory:");
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (isFile && QFile::exists(name)) {
        if (!platform::holdFile(name, fileHold))
            return refuseOpen();
        // As root SQLite would write it all the same.
        if (platform::isReadOnlyFile(name))
            flags = SQLITE_OPEN_READONLY;
    }
    const QByteArray encoded = QFile::encodeName(name);
    const int rc = sqlite3_open_v2(encoded.constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK && isFile && !fileHold.isHeld() && !platform::holdFile(name, fileHold)) {
        sqlite3_close(db);
        db = nullptr;
        return refuseOpen();
    }
    if (rc != SQLITE_OK) {
        fileHold.release();
        if (db) {
            recordError();
            sqlite3_close(db);
            db = nullptr;
        } else {
            lastErrorText = QString::fromUtf8(sqlite3_errstr(rc));
            lastErrorCode = rc;
        }
        return false;
    }
    registerUnicodeFunctions(db);
    sqlite3_extended_result_codes(db, 1);
    openFlag = true;
    openName = name;
    return true;
}

bool PSqlBase::close()
{
    std::lock_guard<std::mutex> guard(lock);
    clearError();
    if (sqlite3_close(db) != SQLITE_OK) {
        recordError();
        return false;
    }
    db = nullptr;
    statement = nullptr;
    fileHold.release();
    openFlag = false;
    openName.clear();
    return true;
}

bool PSqlBase::refuseOpen()
{
    fileHold.release();
    lastErrorText = QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN));
    lastErrorCode = SQLITE_CANTOPEN;
    return false;
}

bool PSqlBase::exec(const QString &sql)
{
    return execUtf8(sql.toUtf8().constData());
}

bool PSqlBase::execUtf8(const char *sql)
{
    clearError();
    finalizeStatement();
    if (refuseClosed())
        return false;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        recordError();
        finalizeStatement();
        return false;
    }
    // Only blanks or a comment: nothing to run, nothing failed.
    if (!statement)
        return true;
    if (sqlite3_step(statement) != SQLITE_DONE) {
        recordError();
        finalizeStatement();
        return false;
    }
    finalizeStatement();
    return true;
}

bool PSqlBase::query(const QString &sql)
{
    finalizeStatement();
    clearError();
    if (refuseClosed())
        return false;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare(db, text.constData(), -1, &statement, nullptr) != SQLITE_OK) {
        recordError();
        finalizeStatement();
        return false;
    }
    if (!statement)
        return false;
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        recordError();
    finalizeStatement();
    return false;
}

bool PSqlBase::fetchRow(PRow &row)
{
    row.clear();
    const int n = statement ? sqlite3_data_count(statement) : 0;
    if (n == 0) {
        finalizeStatement();
        return false;
    }
    for (int c = 1; c < n && c - 1 < maxColumns; ++c) {
        const unsigned char *text = sqlite3_column_text(statement, c);
        if (text)
            row.setText(c - 1, QString::fromUtf8(reinterpret_cast<const char *>(text)));
    }
    return true;
}

bool PSqlBase::nextRow(PRow &row)
{
    row.clear();
    if (!statement)
        return false;
    if (sqlite3_step(statement) == SQLITE_ROW)
        return fetchRow(row);
    finalizeStatement();
    return false;
}

bool PSqlBase::select(const QString &sql, PRow &row)
{
    row.clear();
    return query(sql) && fetchRow(row);
}

bool PSqlBase::tableExists(const PSqlTable &table)
{
    if (table.tableName.isEmpty())
        return false;
    const bool found = query(QStringLiteral("select * from sqlite_master where type='table' and name=")
                             + singleQuoted(table.tableName));
    finalizeStatement();
    return found;
}

bool PSqlBase::createTable(const PSqlTable &table, const QString &columnDefinitions)
{
    const QString name = sqlName(table.tableName);
    if (tableExists(table))
        exec(QStringLiteral("DROP TABLE ") + name);
    return exec(QStringLiteral("CREATE TABLE ") + name + QStringLiteral("(N INTEGER PRIMARY KEY AUTOINCREMENT, ")
                + columnDefinitions + QLatin1Char(')'));
}

bool PSqlBase::createIndex(const PSqlTable &table, int position, const QString &stem)
{
    if (position < 0 || position >= table.columns.count())
        return false;
    const QString column = table.columns.text(position);
    const QString indexName = (stem.isEmpty() ? column : stem) + QStringLiteral("_index_") + table.tableName;
    return exec(QStringLiteral("CREATE INDEX ") + sqlName(indexName) + QStringLiteral(" ON ") + sqlName(table.tableName)
                + QStringLiteral(" (") + sqlName(column) + QLatin1Char(')'));
}

namespace {

// A conversion inserts row after row into one table: the part of the text before the values is
// the same for all of them and is made once.
const QByteArray &insertHead(PSqlTable &table, int k)
{
    PSqlTable::InsertHead &head = table.insertHead;
    // Columns read once and copied stay shared, so comparing them costs nothing.
    if (head.count == k && head.table == table.tableName && head.columns.fields == table.columns.fields)
        return head.text;
    QString text = QStringLiteral("INSERT INTO ") + singleQuoted(table.tableName) + QStringLiteral(" ('N', ");
    for (int i = 0; i < k; ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        text += singleQuoted(table.columns.text(i));
    }
    text += QStringLiteral(") VALUES (");
    head.statement.reset();
    head.text = text.toUtf8();
    head.table = table.tableName;
    head.columns = table.columns;
    head.count = k;
    return head.text;
}

} // namespace

bool PSqlBase::insert(PSqlTable &table, PRow &row)
{
    if (table.columns.count() == 0)
        return false;
    for (QString &text : row.fields)
        if (text.contains(QLatin1Char('\'')))
            text.replace(QLatin1Char('\''), QLatin1String("''"));
    const int k = qMin(row.count(), table.columns.count());
    QString values = QString::number(table.lastKey + 1) + QStringLiteral(", ");
    for (int i = 0; i < k; ++i) {
        if (i > 0)
            values += QLatin1Char(',');
        values += QLatin1Char('\'');
        values += row.fields.at(i);
        values += QLatin1Char('\'');
    }
    values += QLatin1Char(')');
    const QByteArray sql = insertHead(table, k) + values.toUtf8();
    if (!execUtf8(sql.constData()))
        return false;
    ++table.recordCount;
    ++table.lastKey;
    return true;
}

bool PSqlBase::insertBound(PSqlTable &table, const PRow &row)
{
    const int k = qMin(row.count(), table.columns.count());
    // Where the INSERT text would not say the same as bound values: no value (the text is no
    // statement) or a NUL (the text ends there). insert gives those their own answer.
    bool literal = k == 0;
    for (int i = 0; i < k && !literal; ++i)
        literal = row.fields.at(i).contains(QChar(0));
    if (literal) {
        PRow copy = row;
        return insert(table, copy);
    }
    clearError();
    finalizeStatement();
    if (refuseClosed())
        return false;
    const QByteArray &head = insertHead(table, k);
    if (!table.insertHead.statement) {
        QByteArray sql = head + "?, ?";
        for (int i = 1; i < k; ++i)
            sql += ",?";
        sql += ')';
        sqlite3_stmt *prepared = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &prepared, nullptr) != SQLITE_OK || !prepared) {
            recordError();
            sqlite3_finalize(prepared);
            return false;
        }
        table.insertHead.statement.reset(prepared);
    }
    sqlite3_stmt *insert = table.insertHead.statement.get();
    QVarLengthArray<QByteArray, 16> values(k);
    sqlite3_bind_int64(insert, 1, table.lastKey + 1);
    for (int i = 0; i < k; ++i) {
        values[i] = row.fields.at(i).toUtf8();
        sqlite3_bind_text(insert, i + 2, values[i].constData(), values[i].size(), SQLITE_STATIC);
    }
    const bool done = sqlite3_step(insert) == SQLITE_DONE;
    if (!done)
        recordError();
    // The texts were bound without a copy, from `values`, which ends here.
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    if (!done)
        return false;
    ++table.recordCount;
    ++table.lastKey;
    return true;
}

qint64 PSqlBase::countRows(const PSqlTable &table)
{
    qint64 count = 0;
    if (query(QStringLiteral("select count(*) from ") + sqlName(table.tableName)))
        count = sqlite3_column_int64(statement, 0);
    finalizeStatement();
    return count;
}

qint64 PSqlBase::maxKey(const PSqlTable &table)
{
    qint64 key = -1;
    if (query(QStringLiteral("select max(N) from ") + sqlName(table.tableName)))
        key = sqlite3_column_int64(statement, 0);
    finalizeStatement();
    return key;
}

bool PSqlBase::tableInfo(PSqlTable &table)
{
    table.columns.clear();
    if (!query(QStringLiteral("PRAGMA table_info(") + sqlName(table.tableName) + QLatin1Char(')')))
        return false;
    // The first row is the key column N.
    for (int i = 0; i < maxColumns; ++i) {
        if (!statement)
            break;
        if (sqlite3_step(statement) != SQLITE_ROW) {
            finalizeStatement();
            break;
        }
        const unsigned char *name = sqlite3_column_text(statement, 1);
        if (name)
            table.columns.setText(i, reinterpret_cast<const char *>(name));
    }
    finalizeStatement();
    return true;
}

// The pragma answers with the mode now in force, so a row is the normal outcome; it succeeded when
// that mode is the one asked for.
bool PSqlBase::setJournalMode(const QString &mode)
{
    bool applied = false;
    if (query(QStringLiteral("PRAGMA journal_mode = ") + mode)) {
        const unsigned char *now = sqlite3_column_text(statement, 0);
        applied = now && QString::fromUtf8(reinterpret_cast<const char *>(now)).compare(mode, Qt::CaseInsensitive) == 0;
    }
    finalizeStatement();
    return applied;
}
