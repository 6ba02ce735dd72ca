#include "PRow.h"
#include "PSqlBase.h"
#include "PSqlTable.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <sqlite3.h>

#include <memory>

namespace {

// Records the text of every statement the connection runs.
int traceStatement(unsigned type, void *context, void *, void *sql)
{
    if (type == SQLITE_TRACE_STMT)
        static_cast<QStringList *>(context)->append(QString::fromUtf8(static_cast<const char *>(sql)));
    return 0;
}

QStringList texts(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *s : list)
        out << QString::fromUtf8(s);
    return out;
}

QStringList fields(const PRow &row)
{
    return QStringList(row.fields.begin(), row.fields.end());
}

class SqlBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(base.open(QStringLiteral(":memory:")));
        sqlite3_trace_v2(base.connection(), SQLITE_TRACE_STMT, traceStatement, &sent);
    }

    // Runs setup SQL without recording it.
    void prepare(const char *sql)
    {
        ASSERT_EQ(sqlite3_exec(base.connection(), sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
        sent.clear();
    }

    PSqlBase base;
    QStringList sent;
};

TEST_F(SqlBase, CreateTableSendsTheTableTextAndDropsAnExistingOne)
{
    PSqlTable table;
    table.attach(base, QStringLiteral("List"));
    sent.clear();
    ASSERT_TRUE(table.create(QStringLiteral("Item_1 TEXT,Item_2 TEXT")));
    EXPECT_EQ(sent.mid(0, 2), texts({"select * from sqlite_master where type='table' and name='List'",
                                     "CREATE TABLE List(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT,Item_2 TEXT)"}));
    EXPECT_EQ(fields(table.columns), texts({"Item_1", "Item_2"}));

    sent.clear();
    ASSERT_TRUE(base.createTable(table, QStringLiteral("Item_1 TEXT,Item_2 TEXT")));
    EXPECT_EQ(sent, texts({"select * from sqlite_master where type='table' and name='List'", "DROP TABLE List",
                           "CREATE TABLE List(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT,Item_2 TEXT)"}));
}

TEST_F(SqlBase, CreateIndexesFindsTheColumnInAnyCase)
{
    PSqlTable table;
    table.attach(base, QStringLiteral("List"));
    ASSERT_TRUE(table.create(QStringLiteral("Item_1 TEXT,Item_2 TEXT")));

    sent.clear();
    EXPECT_TRUE(table.createIndexes(QStringLiteral("item_1"), QString()));
    EXPECT_TRUE(table.createIndexes(QStringLiteral("ITEM_1"), QStringLiteral("idx")));
    EXPECT_FALSE(table.createIndexes(QStringLiteral("Item_3"), QString()));
    EXPECT_FALSE(base.createIndex(table, 2, QString()));
    EXPECT_FALSE(base.createIndex(table, -1, QString()));
    EXPECT_EQ(sent, texts({"CREATE INDEX Item_1_index_List ON List (Item_1)", "CREATE INDEX idx_index_List ON List (Item_1)"}));
}

TEST_F(SqlBase, InsertQuotesNamesAndValuesAndCountsUp)
{
    prepare("create table T(N INTEGER PRIMARY KEY AUTOINCREMENT, a, b)");
    PSqlTable table;
    table.attach(base, QStringLiteral("T"));
    ASSERT_EQ(table.recordCount, 0);

    PRow row;
    row.setText(0, QStringLiteral("x"));
    row.setText(1, QStringLiteral("O'Brien"));
    sent.clear();
    ASSERT_TRUE(table.insert(row));
    EXPECT_EQ(table.recordCount, 1);
    EXPECT_EQ(row.text(1), QStringLiteral("O''Brien")); // the caller's row carries the doubled quote

    PRow one;
    one.setText(0, QStringLiteral("y"));
    ASSERT_TRUE(table.insert(one));
    PRow three;
    for (int i = 0; i < 3; ++i)
        three.setText(i, QString::number(i));
    ASSERT_TRUE(table.insert(three));
    EXPECT_EQ(table.recordCount, 3);
    EXPECT_EQ(sent, texts({"INSERT INTO 'T' ('N', 'a','b') VALUES (1, 'x','O''Brien')",
                           "INSERT INTO 'T' ('N', 'a') VALUES (2, 'y')",
                           "INSERT INTO 'T' ('N', 'a','b') VALUES (3, '0','1')"}));

    PRow back;
    ASSERT_TRUE(table.select(QStringLiteral("select * from T where N = 1"), back));
    EXPECT_EQ(fields(back), texts({"x", "O'Brien"}));
}

TEST_F(SqlBase, InsertFollowsTheTableItIsAttachedTo)
{
    prepare("create table T(N INTEGER PRIMARY KEY AUTOINCREMENT, a, b);"
            "create table U(N INTEGER PRIMARY KEY AUTOINCREMENT, c, d)");
    PSqlTable table;
    table.attach(base, QStringLiteral("T"));
    PRow row;
    row.setText(0, QStringLiteral("x"));
    row.setText(1, QStringLiteral("y"));
    ASSERT_TRUE(table.insert(row));
    table.attach(base, QStringLiteral("U"));
    ASSERT_TRUE(table.insert(row));
    // Columns changed in place count as another table as well.
    table.columns.setText(1, QStringLiteral("e"));
    EXPECT_FALSE(table.insert(row));
    EXPECT_TRUE(base.errorText().contains(QStringLiteral("no column named e"))) << base.errorText().toStdString();
    EXPECT_TRUE(sent.contains(QStringLiteral("INSERT INTO 'T' ('N', 'a','b') VALUES (1, 'x','y')")));
    EXPECT_TRUE(sent.contains(QStringLiteral("INSERT INTO 'U' ('N', 'c','d') VALUES (1, 'x','y')")));
}

// Every column's stored value and type, in key order, as "N:type:value|...".
QStringList storedRows(PSqlBase &base, const char *table)
{
    QStringList rows;
    sqlite3_stmt *statement = nullptr;
    const QByteArray sql = QByteArray("SELECT * FROM ") + table + " ORDER BY N";
    if (sqlite3_prepare_v2(base.connection(), sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return {QStringLiteral("no table")};
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList columns;
        for (int c = 0; c < sqlite3_column_count(statement); ++c)
            columns << QStringLiteral("%1:%2").arg(sqlite3_column_type(statement, c))
                           .arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, c))));
        rows << columns.join(QLatin1Char('|'));
    }
    sqlite3_finalize(statement);
    return rows;
}

// The conversions' bound insert stores exactly what the INSERT text stores, row for row, with
// every column affinity, and fails where it fails.
TEST_F(SqlBase, BoundInsertStoresWhatTheInsertTextStores)
{
    const char *columns = "(N INTEGER PRIMARY KEY AUTOINCREMENT, t TEXT, i INTEGER, r REAL, m NUMERIC, b BLOB, "
                          "u UNIQUE)";
    prepare((QByteArray("create table A") + columns + "; create table B" + columns).constData());
    PSqlTable literal, bound;
    literal.attach(base, QStringLiteral("A"));
    bound.attach(base, QStringLiteral("B"));
    const QList<QStringList> rows = {
        {"O'Brien", "12", "1.50", " 7 ", "x''y", "1"},
        {QString::fromUtf8("Молоко"), "abc", "1e3", "0012", "", "2"},
        {"short"},
        {"", "", "", "", "", ""},
        {"1", "2", "3", "4", "5", "1"}, // a second "1" in the unique column fails
        {"after", "9"},
        {QStringLiteral("a") + QChar(0) + QStringLiteral("b")}, // the text ends at the NUL
    };
    for (const QStringList &texts : rows) {
        PRow row;
        for (int i = 0; i < texts.size(); ++i)
            row.setText(i, texts.at(i));
        PRow copy = row;
        const bool insertedLiteral = literal.insert(copy);
        const int literalError = base.errorCode();
        const PRow before = row;
        EXPECT_EQ(base.insertBound(bound, row), insertedLiteral) << texts.join('|').toStdString();
        EXPECT_EQ(base.errorCode(), literalError);
        EXPECT_EQ(row.fields, before.fields) << "the row is not changed";
    }
    EXPECT_EQ(bound.recordCount, literal.recordCount);
    EXPECT_EQ(bound.lastKey, literal.lastKey);
    EXPECT_EQ(storedRows(base, "B"), storedRows(base, "A"));
    EXPECT_EQ(storedRows(base, "B").size(), 5);
}

TEST_F(SqlBase, BoundInsertLivesAsLongAsItsTableAndKeepsNoValues)
{
    prepare("create table T(N INTEGER PRIMARY KEY AUTOINCREMENT, a); create table U(N INTEGER PRIMARY KEY, b)");
    {
        PSqlTable t, u;
        t.attach(base, QStringLiteral("T"));
        u.attach(base, QStringLiteral("U"));
        PRow row;
        row.setText(0, QStringLiteral("x"));
        ASSERT_TRUE(base.insertBound(t, row));
        ASSERT_TRUE(base.insertBound(u, row)) << "another table, another statement";
        ASSERT_TRUE(base.insertBound(t, row));
        ASSERT_TRUE(base.exec(QStringLiteral("DROP TABLE T")));
        EXPECT_FALSE(base.insertBound(t, row));
        EXPECT_TRUE(base.errorText().contains(QStringLiteral("no such table"))) << base.errorText().toStdString();
        ASSERT_TRUE(base.insertBound(u, row));
        // The texts were bound from the insert's own buffers: none may stay bound past it.
        for (sqlite3_stmt *kept = sqlite3_next_stmt(base.connection(), nullptr); kept;
             kept = sqlite3_next_stmt(base.connection(), kept)) {
            char *sql = sqlite3_expanded_sql(kept);
            EXPECT_TRUE(QByteArray(sql).endsWith("VALUES (NULL, NULL)")) << sql;
            sqlite3_free(sql);
        }
    }
    EXPECT_TRUE(base.close()) << "the kept inserts ended with their tables";
}

TEST_F(SqlBase, InsertWithoutColumnsIsRefused)
{
    PSqlTable table;
    table.attach(base, QStringLiteral("Missing"));
    PRow row;
    row.setText(0, QStringLiteral("x"));
    sent.clear();
    EXPECT_FALSE(table.insert(row));
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(SqlBase, NewKeysFollowTheHighestKeyWhenRowsWereDeleted)
{
    prepare("create table T(N INTEGER PRIMARY KEY AUTOINCREMENT, a);"
            "insert into T values (1,'a'),(2,'b'),(3,'c'); delete from T where N = 2");
    PSqlTable table;
    table.attach(base, QStringLiteral("T"));
    EXPECT_EQ(table.recordCount, 2);
    EXPECT_EQ(table.lastKey, 3);
    PRow row;
    row.setText(0, QStringLiteral("d"));
    EXPECT_TRUE(table.insert(row)) << base.errorText().toStdString();
    EXPECT_EQ(base.countRows(table), 3);
    EXPECT_EQ(table.recordCount, 3);
}

TEST_F(SqlBase, FetchedRowsAreTrimmedAndSkipTheKey)
{
    prepare("create table R(N INTEGER PRIMARY KEY, a, b, c, d);"
            "insert into R values (7, ' a ', NULL, ' b ', NULL), (8, NULL, 'x', NULL, NULL), (9, NULL, NULL, NULL, NULL)");
    PRow row;
    ASSERT_TRUE(base.select(QStringLiteral("select * from R order by N"), row));
    EXPECT_EQ(fields(row), texts({"a", "", "b"}));
    ASSERT_TRUE(base.nextRow(row));
    EXPECT_EQ(fields(row), texts({"", "x"}));
    ASSERT_TRUE(base.nextRow(row));
    EXPECT_EQ(row.count(), 0);
    EXPECT_FALSE(base.nextRow(row));
    EXPECT_FALSE(base.nextRow(row)); // no query running any more
}

TEST_F(SqlBase, RowsAndColumnListsStopAt160Columns)
{
    QStringList definitions;
    for (int i = 1; i <= 170; ++i)
        definitions << QStringLiteral("c%1 TEXT").arg(i);
    PSqlTable table;
    table.attach(base, QStringLiteral("Wide"));
    ASSERT_TRUE(table.create(definitions.join(QLatin1Char(','))));
    ASSERT_EQ(table.columns.count(), 160);
    EXPECT_EQ(table.columns.text(159), QStringLiteral("c160"));

    QStringList values;
    for (int i = 1; i <= 170; ++i)
        values << QStringLiteral("'v%1'").arg(i);
    ASSERT_TRUE(base.exec(QStringLiteral("insert into Wide values (1, %1)").arg(values.join(QLatin1Char(',')))));
    PRow row;
    ASSERT_TRUE(table.select(QStringLiteral("select * from Wide"), row));
    ASSERT_EQ(row.count(), 160);
    EXPECT_EQ(row.text(159), QStringLiteral("v160"));
}

TEST_F(SqlBase, TableInfoListsColumnsAfterTheKey)
{
    prepare("create table List(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT, Item_2 TEXT)");
    PSqlTable table;
    table.tableName = QStringLiteral("List");
    ASSERT_TRUE(base.tableInfo(table));
    EXPECT_EQ(fields(table.columns), texts({"Item_1", "Item_2"}));
    EXPECT_EQ(sent, texts({"PRAGMA table_info(List)"}));

    table.tableName = QStringLiteral("Nothing");
    EXPECT_FALSE(base.tableInfo(table));
    EXPECT_EQ(table.columns.count(), 0);
}

TEST_F(SqlBase, TableExistsWithAnEmptyNameSendsNothing)
{
    PSqlTable table;
    EXPECT_FALSE(base.tableExists(table));
    EXPECT_TRUE(sent.isEmpty());
}

// Names come from terminals: quotes in them stay inside the name.
TEST_F(SqlBase, NamesWithQuotesCannotChangeAStatement)
{
    prepare("create table List(N INTEGER PRIMARY KEY, a)");
    PSqlTable probe;
    probe.tableName = QStringLiteral("x' or name<>'");
    EXPECT_FALSE(base.tableExists(probe));
    EXPECT_EQ(sent, texts({"select * from sqlite_master where type='table' and name='x'' or name<>'''"}));

    PSqlTable odd;
    odd.attach(base, QStringLiteral("a'b \"c\"; drop table List"));
    sent.clear();
    ASSERT_TRUE(odd.create(QStringLiteral("v TEXT")));
    EXPECT_EQ(sent.at(1),
              QStringLiteral("CREATE TABLE \"a'b \"\"c\"\"; drop table List\"(N INTEGER PRIMARY KEY AUTOINCREMENT, v TEXT)"));
    PRow row;
    row.setText(0, QStringLiteral("it's"));
    ASSERT_TRUE(odd.insert(row)) << base.errorText().toStdString();
    ASSERT_TRUE(odd.createIndexes(QStringLiteral("v"), QString())) << base.errorText().toStdString();
    EXPECT_EQ(base.countRows(odd), 1);
    PSqlTable list;
    list.tableName = QStringLiteral("List");
    EXPECT_TRUE(base.tableExists(list));
}

TEST_F(SqlBase, SelectReportsNoRowsQuietlyAndSyntaxErrorsWithTheMessage)
{
    prepare("create table E(N INTEGER PRIMARY KEY, a)");
    PRow row;
    row.setText(0, QStringLiteral("stale"));
    EXPECT_FALSE(base.select(QStringLiteral("select * from E"), row));
    EXPECT_TRUE(base.errorText().isEmpty());
    EXPECT_EQ(base.errorCode(), 0);
    EXPECT_EQ(row.count(), 0);

    EXPECT_FALSE(base.select(QStringLiteral("selec * from E"), row));
    EXPECT_EQ(base.errorText(), QStringLiteral("near \"selec\": syntax error"));
    EXPECT_EQ(base.errorCode(), SQLITE_ERROR);

    EXPECT_TRUE(base.exec(QStringLiteral("select 1 where 0")));
    EXPECT_TRUE(base.errorText().isEmpty());
}

TEST_F(SqlBase, ExecRefusesAStatementThatGivesARow)
{
    EXPECT_FALSE(base.exec(QStringLiteral("select 1")));
    EXPECT_TRUE(base.exec(QStringLiteral("  -- nothing to run")));
}

TEST_F(SqlBase, CountRowsAndJournalMode)
{
    prepare("create table C(N INTEGER PRIMARY KEY, a); insert into C(a) values (1),(2),(3)");
    PSqlTable table;
    table.tableName = QStringLiteral("C");
    EXPECT_EQ(base.countRows(table), 3);
    table.tableName = QStringLiteral("Missing");
    EXPECT_EQ(base.countRows(table), 0);
    EXPECT_FALSE(base.errorText().isEmpty());

    sent.clear();
    EXPECT_TRUE(base.setJournalMode(QStringLiteral("OFF")));
    EXPECT_EQ(sent, texts({"PRAGMA journal_mode = OFF"}));
}

TEST_F(SqlBase, TransactionWrapsInserts)
{
    PSqlTable table;
    table.attach(base, QStringLiteral("List"));
    ASSERT_TRUE(table.create(QStringLiteral("Item_1 TEXT")));
    sent.clear();
    ASSERT_TRUE(table.beginTransaction());
    PRow row;
    row.setText(0, QStringLiteral("x"));
    ASSERT_TRUE(table.insert(row));
    ASSERT_TRUE(table.commit());
    EXPECT_EQ(sent.first(), QStringLiteral("BEGIN TRANSACTION"));
    EXPECT_EQ(sent.last(), QStringLiteral("COMMIT"));

    PSqlTable again;
    again.attach(base, QStringLiteral("List"));
    EXPECT_EQ(again.recordCount, 1);
    EXPECT_EQ(again.lastKey, 1);
}

TEST(SqlBaseLifetime, CloseIsRefusedWhileASelectRuns)
{
    PSqlBase base;
    ASSERT_TRUE(base.open(QStringLiteral(":memory:")));
    ASSERT_TRUE(base.exec(QStringLiteral("create table T(N INTEGER PRIMARY KEY, a)")));
    ASSERT_TRUE(base.exec(QStringLiteral("insert into T(a) values ('x'),('y')")));
    PRow row;
    ASSERT_TRUE(base.select(QStringLiteral("select * from T"), row));
    EXPECT_FALSE(base.close());
    EXPECT_TRUE(base.isOpen());
    EXPECT_EQ(base.errorCode(), SQLITE_BUSY);
    EXPECT_FALSE(base.errorText().isEmpty());

    while (base.nextRow(row)) {
    }
    EXPECT_TRUE(base.close());
    EXPECT_FALSE(base.isOpen());
    EXPECT_TRUE(base.fileName().isEmpty());
    EXPECT_FALSE(base.exec(QStringLiteral("select 1")));
}

// Leaving a select running and the base open must not leak the connection (checked under ASan).
TEST(SqlBaseLifetime, DestructorFinalizesAndCloses)
{
    auto base = std::make_unique<PSqlBase>();
    ASSERT_TRUE(base->open(QStringLiteral(":memory:")));
    PRow row;
    ASSERT_TRUE(base->select(QStringLiteral("select 1, 2"), row));
    EXPECT_EQ(fields(row), texts({"2"}));
    base.reset();
    PSqlBase never;
    EXPECT_TRUE(never.close());
}

TEST(SqlBaseLifetime, OpenCreatesAMissingFileAndReportsFailures)
{
    TempDir dir;
    const QString name = dir.file(QStringLiteral("bäse.db"));
    {
        PSqlBase base;
        ASSERT_TRUE(base.open(name));
        EXPECT_EQ(base.fileName(), name);
        ASSERT_TRUE(base.exec(QStringLiteral("create table T(a)")));
        EXPECT_TRUE(base.close());
    }
    EXPECT_TRUE(QFile::exists(name));

    PSqlBase broken;
    EXPECT_FALSE(broken.open(dir.file(QStringLiteral("no/such/folder/x.db"))));
    EXPECT_FALSE(broken.isOpen());
    EXPECT_EQ(broken.errorCode(), SQLITE_CANTOPEN);
    EXPECT_FALSE(broken.errorText().isEmpty());
    EXPECT_EQ(broken.connection(), nullptr);
}

} // namespace
