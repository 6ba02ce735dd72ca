// The Unicode SQL functions and the NOCASE collation on arbitrary bytes, both called directly and
// through SQLite on a UTF-8 and a UTF-16 database. An input is a pattern, a text and an escape,
// separated by fuzz::kSeparator.

#include "FuzzSupport.h"

#include "UnicodeFunctions.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>

namespace {

const LikeInfo kLike = {'%', '_', 0, 1};

struct Connection
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *like2 = nullptr;
    sqlite3_stmt *like3 = nullptr;
    sqlite3_stmt *maps = nullptr;
    sqlite3_stmt *nocase = nullptr;
    sqlite3_stmt *order = nullptr;
};

Connection utf8;
Connection utf16;

sqlite3_stmt *prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    fuzz::check(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK, sql);
    return statement;
}

void openConnection(Connection &c, const char *encoding)
{
    fuzz::check(sqlite3_open(":memory:", &c.db) == SQLITE_OK, "an in-memory base opens");
    sqlite3_exec(c.db, encoding, nullptr, nullptr, nullptr);
    fuzz::check(registerUnicodeFunctions(c.db) == SQLITE_OK, "the functions register");
    sqlite3_exec(c.db, "CREATE TABLE t(x TEXT)", nullptr, nullptr, nullptr);
    c.like2 = prepare(c.db, "SELECT ?2 LIKE ?1");
    c.like3 = prepare(c.db, "SELECT ?2 LIKE ?1 ESCAPE ?3");
    c.maps = prepare(c.db, "SELECT fold(?1), lower(?1), upper(?1), title(?1), unaccent(?1), length(?1)");
    c.nocase = prepare(c.db, "SELECT ?1 = ?2 COLLATE NOCASE, ?1 < ?2 COLLATE NOCASE");
    c.order = prepare(c.db, "SELECT x FROM (SELECT ?1 AS x UNION ALL SELECT ?2 UNION ALL SELECT ?3) "
                            "ORDER BY x COLLATE NOCASE");
}

void bindAll(sqlite3_stmt *statement, const QByteArray &a, const QByteArray &b, const QByteArray &c)
{
    sqlite3_reset(statement);
    const QByteArray *values[] = {&a, &b, &c};
    const int count = sqlite3_bind_parameter_count(statement);
    for (int i = 0; i < count && i < 3; ++i)
        sqlite3_bind_text(statement, i + 1, values[i]->constData(), values[i]->size(), SQLITE_TRANSIENT);
}

// The operand on the heap with nothing behind it: a read past it is a report.
std::unique_ptr<unsigned char[]> exactCopy(const QByteArray &bytes)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() ? size_t(bytes.size()) : 1]);
    std::memcpy(copy.get(), bytes.constData(), size_t(bytes.size()));
    return copy;
}

int likeDirect(const QByteArray &pattern, const QByteArray &text, quint32 escape)
{
    const auto p = exactCopy(pattern);
    const auto t = exactCopy(text);
    return likeMatch(p.get(), pattern.size(), t.get(), text.size(), kLike, escape);
}

int compareUtf8(const QByteArray &a, const QByteArray &b)
{
    const auto x = exactCopy(a);
    const auto y = exactCopy(b);
    return nocaseCompareUtf8(x.get(), a.size(), y.get(), b.size());
}

int compareUtf16(const QByteArray &a, const QByteArray &b)
{
    const auto x = exactCopy(a);
    const auto y = exactCopy(b);
    return nocaseCompareUtf16(x.get(), a.size(), y.get(), b.size());
}

void checkOrder(int (*compare)(const QByteArray &, const QByteArray &), const QByteArray &a, const QByteArray &b,
                const QByteArray &c)
{
    fuzz::check(compare(a, a) == 0, "NOCASE: a text equals itself");
    const int ab = compare(a, b);
    fuzz::check(ab == -compare(b, a), "NOCASE: swapping the sides swaps the order");
    const int bc = compare(b, c);
    if (ab <= 0 && bc <= 0)
        fuzz::check(compare(a, c) <= 0, "NOCASE: the order is transitive");
}

// The SQL paths: LIKE as the direct match has it, case maps that keep the length, and the
// collation in a comparison and in a sort.
void throughSql(Connection &c, const QByteArray &pattern, const QByteArray &text, const QByteArray &escape,
                bool hasEscape)
{
    bindAll(c.like2, pattern, text, escape);
    if (sqlite3_step(c.like2) == SQLITE_ROW && c.db == utf8.db)
        fuzz::check(sqlite3_column_int(c.like2, 0) == likeDirect(pattern, text, 0), "LIKE in SQL matches as directly");
    if (hasEscape) {
        bindAll(c.like3, pattern, text, escape);
        const bool row = sqlite3_step(c.like3) == SQLITE_ROW;
        if (row && c.db == utf8.db) {
            const unsigned char *e = reinterpret_cast<const unsigned char *>(escape.constData());
            const quint32 escapeChar = readUtf8Char(e, e + escape.size());
            fuzz::check(sqlite3_column_int(c.like3, 0) == likeDirect(pattern, text, escapeChar),
                        "LIKE ESCAPE in SQL matches as directly");
        }
    }

    bindAll(c.maps, text, text, text);
    if (sqlite3_step(c.maps) == SQLITE_ROW && sqlite3_column_type(c.maps, 0) != SQLITE_NULL) {
        // text16 first: the byte count then belongs to the UTF-16 form.
        sqlite3_column_text16(c.maps, 0);
        const int units = sqlite3_column_bytes16(c.maps, 0);
        for (int i = 1; i < 4; ++i) {
            sqlite3_column_text16(c.maps, i);
            fuzz::check(sqlite3_column_bytes16(c.maps, i) == units, "a case map keeps the length");
        }
        sqlite3_column_text16(c.maps, 4);
        fuzz::check(sqlite3_column_bytes16(c.maps, 4) <= 18 * units, "unaccent grows a unit to at most 18");
    }

    bindAll(c.nocase, pattern, text, escape);
    sqlite3_step(c.nocase);
    bindAll(c.order, pattern, text, escape);
    while (sqlite3_step(c.order) == SQLITE_ROW) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::initialize(argc, argv);
    openConnection(utf8, "PRAGMA encoding='UTF-8'");
    openConnection(utf16, "PRAGMA encoding='UTF-16le'");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<QByteArray> parts = fuzz::splitInput(data, size, 3);
    const QByteArray pattern = parts[0];
    const QByteArray text = parts.size() > 1 ? parts[1] : QByteArray();
    const QByteArray escape = parts.size() > 2 ? parts[2] : QByteArray();
    const bool hasEscape = parts.size() > 2;

    likeDirect(pattern, text, 0);
    if (!escape.isEmpty()) {
        const unsigned char *e = reinterpret_cast<const unsigned char *>(escape.constData());
        likeDirect(pattern, text, readUtf8Char(e, e + escape.size()));
    }
    checkOrder(compareUtf8, pattern, text, escape);
    checkOrder(compareUtf16, pattern, text, escape);
    for (const QByteArray &operand : parts) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(operand.constData());
        const unsigned char *end = p + operand.size();
        while (p < end) {
            const unsigned char *before = p;
            const quint32 c = readUtf8Char(p, end);
            fuzz::check(p > before && p <= end, "a character is read within its text");
            fuzz::check(c != 0xFFFE && c != 0xFFFF && !(c >= 0xD800 && c <= 0xDFFF), "no surrogate or non-character comes out");
            matchKey(c);
        }
    }

    throughSql(utf8, pattern, text, escape, hasEscape);
    throughSql(utf16, pattern, text, escape, hasEscape);
    return 0;
}
