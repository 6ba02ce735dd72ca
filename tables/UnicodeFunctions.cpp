#include "UnicodeFunctions.h"

#include "UnicodeTable.h"

#include <sqlite3.h>

#include <cstring>

namespace {

constexpr int kMaxLikePatternBytes = 50000;
const LikeInfo likeInfo = {'%', '_', 0, 1};

quint16 mapUnit(const UnicodeTable &table, quint16 c)
{
    int length = 0;
    const quint16 *run = table.lookup(c, length);
    return (length == 1 && run[0] != kUnicodeUnchanged) ? run[0] : c;
}

// End of a LIKE operand: its length, or its first NUL byte when that comes earlier.
const unsigned char *operandEnd(const unsigned char *text, int bytes)
{
    if (bytes <= 0)
        return text;
    const void *nul = std::memchr(text, 0, static_cast<size_t>(bytes));
    return nul ? static_cast<const unsigned char *>(nul) : text + bytes;
}

enum class TokenKind { End, EscapeAtEnd, Any, One, Literal };

struct Token
{
    TokenKind kind;
    quint32 key;               // Literal only
    const unsigned char *next; // pattern position after the token
};

Token readToken(const unsigned char *p, const unsigned char *end, const LikeInfo &info, quint32 escape)
{
    if (p >= end)
        return {TokenKind::End, 0, p};
    const quint32 c = readUtf8Char(p, end);
    if (c == static_cast<quint32>(info.matchAll))
        return {TokenKind::Any, 0, p};
    if (c == static_cast<quint32>(info.matchOne))
        return {TokenKind::One, 0, p};
    if (escape != 0 && c == escape) {
        if (p >= end)
            return {TokenKind::EscapeAtEnd, 0, p};
        const quint32 literal = readUtf8Char(p, end);
        return {TokenKind::Literal, info.noCase ? matchKey(literal) : literal, p};
    }
    return {TokenKind::Literal, info.noCase ? matchKey(c) : c, p};
}

// An escape that ends the pattern is ignored, except right after a run of "%" and "_": there the
// pattern can never match.
bool hasDeadEscape(const unsigned char *p, const unsigned char *end, const LikeInfo &info, quint32 escape)
{
    bool afterAny = false;
    for (;;) {
        const Token t = readToken(p, end, info, escape);
        switch (t.kind) {
        case TokenKind::End:
            return false;
        case TokenKind::EscapeAtEnd:
            return afterAny;
        case TokenKind::Any:
            afterAny = true;
            break;
        case TokenKind::One:
            break;
        case TokenKind::Literal:
            afterAny = false;
            break;
        }
        p = t.next;
    }
}

quint32 keyAt(const unsigned char *&p, const unsigned char *end, const LikeInfo &info)
{
    const quint32 c = readUtf8Char(p, end);
    return info.noCase ? matchKey(c) : c;
}

// SQL functions -------------------------------------------------------------------------------

void unicodeVersionFunction(sqlite3_context *context, int, sqlite3_value **)
{
    sqlite3_result_text(context, "5.1.0.12", -1, SQLITE_STATIC);
}

void likeFunction(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    const unsigned char *pattern = sqlite3_value_text(argv[0]);
    const int patternBytes = sqlite3_value_bytes(argv[0]);
    const unsigned char *text = sqlite3_value_text(argv[1]);
    const int textBytes = sqlite3_value_bytes(argv[1]);
    if (patternBytes > kMaxLikePatternBytes) {
        sqlite3_result_error(context, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    quint32 escape = 0;
    if (argc == 3) {
        const unsigned char *e = sqlite3_value_text(argv[2]);
        if (!e)
            return;
        const unsigned char *end = e + sqlite3_value_bytes(argv[2]);
        const unsigned char *p = e;
        if (p < end)
            escape = readUtf8Char(p, end);
        if (e == end || p != end) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
    }
    if (!pattern || !text)
        return;
    const LikeInfo *info = static_cast<const LikeInfo *>(sqlite3_user_data(context));
    sqlite3_result_int(context, likeMatch(pattern, patternBytes, text, textBytes, *info, escape));
}

// fold, lower, upper, title: the user data is the table. The whole value is mapped, embedded NUL
// units included, so no data after a NUL is lost.
void caseMapFunction(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    const void *text = sqlite3_value_text16(argv[0]);
    if (!text) {
        sqlite3_result_error_nomem(context);
        return;
    }
    const int bytes = sqlite3_value_bytes16(argv[0]);
    auto *out = static_cast<quint16 *>(sqlite3_malloc64(static_cast<sqlite3_uint64>(bytes) + 2));
    if (!out) {
        sqlite3_result_error_nomem(context);
        return;
    }
    std::memcpy(out, text, static_cast<size_t>(bytes));
    const int units = bytes / 2;
    out[units] = 0;
    const auto *table = static_cast<const UnicodeTable *>(sqlite3_user_data(context));
    for (int i = 0; i < units; ++i)
        out[i] = mapUnit(*table, out[i]);
    sqlite3_result_text16(context, out, units * 2, sqlite3_free);
}

// The result length is known before anything is allocated, so a value that would outgrow
// SQLite's length limit is refused instead of overflowing a counter.
void unaccentFunction(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    const void *text = sqlite3_value_text16(argv[0]);
    if (!text) {
        sqlite3_result_error_nomem(context);
        return;
    }
    const int units = sqlite3_value_bytes16(argv[0]) / 2;
    const auto *in = static_cast<const unsigned char *>(text);
    auto unitAt = [in](int i) {
        quint16 u;
        std::memcpy(&u, in + 2 * i, 2);
        return u;
    };

    quint64 outUnits = 0;
    for (int i = 0; i < units; ++i) {
        int length = 0;
        const quint16 *run = unaccentTable.lookup(unitAt(i), length);
        outUnits += (length == 1 && run[0] == kUnicodeUnchanged) ? 1 : static_cast<quint64>(length);
    }
    const quint64 limit = static_cast<quint64>(sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LENGTH, -1));
    if (outUnits * 2 > limit) {
        sqlite3_result_error_toobig(context);
        return;
    }
    auto *out = static_cast<quint16 *>(sqlite3_malloc64(outUnits * 2 + 2));
    if (!out) {
        sqlite3_result_error_nomem(context);
        return;
    }
    quint64 w = 0;
    for (int i = 0; i < units; ++i) {
        const quint16 u = unitAt(i);
        int length = 0;
        const quint16 *run = unaccentTable.lookup(u, length);
        if (length == 1 && run[0] == kUnicodeUnchanged) {
            out[w++] = u;
        } else {
            std::memcpy(out + w, run, static_cast<size_t>(length) * 2);
            w += static_cast<quint64>(length);
        }
    }
    out[w] = 0;
    sqlite3_result_text16(context, out, static_cast<int>(w * 2), sqlite3_free);
}

int nocaseCollate(void *encoding, int aBytes, const void *a, int bBytes, const void *b)
{
    const auto kind = reinterpret_cast<quintptr>(encoding);
    if (kind == SQLITE_UTF8)
        return nocaseCompareUtf8(a, aBytes, b, bBytes);
    if (kind == SQLITE_UTF16)
        return nocaseCompareUtf16(a, aBytes, b, bBytes);
    return (aBytes > bBytes) - (aBytes < bBytes);
}

} // namespace

quint32 readUtf8Char(const unsigned char *&p, const unsigned char *end)
{
    quint32 c = *p++;
    if (c < 0xC0)
        return c;
    if (c < 0xE0)
        c &= 0x1F;
    else if (c < 0xF0)
        c &= 0x0F;
    else if (c < 0xF8)
        c &= 0x07;
    else if (c < 0xFC)
        c &= 0x03;
    else if (c < 0xFE)
        c &= 0x01;
    else
        c = 0;
    while (p < end && (*p & 0xC0) == 0x80)
        c = (c << 6) + (*p++ & 0x3F);
    if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF)
        c = 0xFFFD;
    return c;
}

quint16 foldChar(quint16 c) { return mapUnit(foldTable, c); }
quint16 lowerChar(quint16 c) { return mapUnit(lowerTable, c); }
quint16 upperChar(quint16 c) { return mapUnit(upperTable, c); }
quint16 titleChar(quint16 c) { return mapUnit(titleTable, c); }

quint16 unaccentFirstChar(quint16 c)
{
    if (c < 0x80)
        return c;
    int length = 0;
    const quint16 *run = unaccentTable.lookup(c, length);
    return (length == 0 || run[0] == kUnicodeUnchanged) ? c : run[0];
}

quint32 matchKey(quint32 c)
{
    if (c > 0xFFFF)
        return c;
    return foldChar(unaccentFirstChar(static_cast<quint16>(c)));
}

// Wildcard matching that backtracks only to the most recent "%": any match that an earlier "%"
// could find, the latest one finds too, so one pass per text start of the latest "%" suffices.
int likeMatch(const unsigned char *pattern, int patternBytes, const unsigned char *text, int textBytes,
              const LikeInfo &info, quint32 escape)
{
    const unsigned char *pEnd = operandEnd(pattern, patternBytes);
    const unsigned char *tEnd = operandEnd(text, textBytes);
    if (hasDeadEscape(pattern, pEnd, info, escape))
        return 0;

    const unsigned char *p = pattern;
    const unsigned char *t = text;
    const unsigned char *starPattern = nullptr; // pattern after the latest "%"
    const unsigned char *starText = nullptr;    // where that "%" stopped matching for now
    for (;;) {
        const Token token = readToken(p, pEnd, info, escape);
        if (token.kind == TokenKind::End || token.kind == TokenKind::EscapeAtEnd) {
            if (t == tEnd)
                return 1;
        } else if (token.kind == TokenKind::Any) {
            p = token.next;
            if (p == pEnd)
                return 1;
            starPattern = p;
            starText = t;
            continue;
        } else if (t < tEnd) {
            const unsigned char *after = t;
            const quint32 key = keyAt(after, tEnd, info);
            if (token.kind == TokenKind::One || key == token.key) {
                p = token.next;
                t = after;
                continue;
            }
        }
        // Mismatch: let the latest "%" take one more character, or give up.
        if (!starPattern || starText >= tEnd)
            return 0;
        readUtf8Char(starText, tEnd);
        p = starPattern;
        t = starText;
    }
}

int nocaseCompareUtf8(const void *a, int aBytes, const void *b, int bBytes)
{
    const auto *p = static_cast<const unsigned char *>(a);
    const auto *q = static_cast<const unsigned char *>(b);
    const unsigned char *pEnd = p + (aBytes > 0 ? aBytes : 0);
    const unsigned char *qEnd = q + (bBytes > 0 ? bBytes : 0);
    while (p < pEnd && q < qEnd) {
        const quint32 k1 = matchKey(readUtf8Char(p, pEnd));
        const quint32 k2 = matchKey(readUtf8Char(q, qEnd));
        if (k1 != k2)
            return k1 < k2 ? -1 : 1;
    }
    return (p < pEnd) - (q < qEnd);
}

int nocaseCompareUtf16(const void *a, int aBytes, const void *b, int bBytes)
{
    const auto *p = static_cast<const unsigned char *>(a);
    const auto *q = static_cast<const unsigned char *>(b);
    const int aUnits = aBytes > 0 ? aBytes / 2 : 0;
    const int bUnits = bBytes > 0 ? bBytes / 2 : 0;
    for (int i = 0; i < aUnits && i < bUnits; ++i) {
        quint16 u1, u2;
        std::memcpy(&u1, p + 2 * i, 2);
        std::memcpy(&u2, q + 2 * i, 2);
        const quint32 k1 = matchKey(u1);
        const quint32 k2 = matchKey(u2);
        if (k1 != k2)
            return k1 < k2 ? -1 : 1;
    }
    return (aUnits > bUnits) - (aUnits < bUnits);
}

int registerUnicodeFunctions(sqlite3 *db)
{
    using Body = void (*)(sqlite3_context *, int, sqlite3_value **);
    struct Entry
    {
        const char *name;
        int args;
        const void *userData;
        Body body;
    };
    const Entry entries[] = {
        {"unicode_version", 0, nullptr, unicodeVersionFunction},
        {"like", 2, &likeInfo, likeFunction},
        {"like", 3, &likeInfo, likeFunction},
        {"fold", 1, &foldTable, caseMapFunction},
        {"lower", 1, &lowerTable, caseMapFunction},
        {"upper", 1, &upperTable, caseMapFunction},
        {"title", 1, &titleTable, caseMapFunction},
        {"unaccent", 1, nullptr, unaccentFunction},
    };
    // Deterministic and innocuous: SQLite refuses a schema whose index expressions or views use
    // a function without these flags, which would make such a database unusable.
    const int flags = SQLITE_ANY | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int result = SQLITE_OK;
    for (const Entry &e : entries) {
        result = sqlite3_create_function(db, e.name, e.args, flags, const_cast<void *>(e.userData), e.body,
                                         nullptr, nullptr);
        if (result != SQLITE_OK)
            break;
    }
    const int utf8 = sqlite3_create_collation(db, "NOCASE", SQLITE_UTF8, reinterpret_cast<void *>(quintptr(SQLITE_UTF8)),
                                              nocaseCollate);
    const int utf16 = sqlite3_create_collation(db, "NOCASE", SQLITE_UTF16,
                                               reinterpret_cast<void *>(quintptr(SQLITE_UTF16)), nocaseCollate);
    if (result == SQLITE_OK)
        result = utf8 != SQLITE_OK ? utf8 : utf16;
    return result;
}
