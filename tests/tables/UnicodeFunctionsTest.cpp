#include "PSqlBase.h"
#include "TempDir.h"
#include "UnicodeFunctions.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include <sqlite3.h>

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using Units = std::vector<quint16>;

// One scalar result of a statement on a connection: its text (UTF-8), NULL, or the error message.
struct Scalar
{
    bool isNull = false;
    bool failed = false;
    std::string text;
};

Scalar scalar(sqlite3 *db, const std::string &sql, const std::function<void(sqlite3_stmt *)> &bind = {})
{
    Scalar r;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        r.failed = true;
        r.text = sqlite3_errmsg(db);
        return r;
    }
    if (bind)
        bind(st);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        r.isNull = sqlite3_column_type(st, 0) == SQLITE_NULL;
        const unsigned char *t = sqlite3_column_text(st, 0);
        if (t)
            r.text.assign(reinterpret_cast<const char *>(t), static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    } else {
        r.failed = true;
        r.text = sqlite3_errmsg(db);
    }
    sqlite3_finalize(st);
    return r;
}

Units unitsOf(const QString &s)
{
    return Units(s.utf16(), s.utf16() + s.size());
}

class UnicodeSql : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(base.open(QStringLiteral(":memory:"))); }
    sqlite3 *db() { return base.connection(); }

    // f(x) of one UTF-16 text, bound as UTF-16, read back as UTF-16.
    Units apply(const char *function, const Units &in)
    {
        const std::string sql = std::string("select ") + function + "(?)";
        sqlite3_stmt *st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db(), sql.c_str(), -1, &st, nullptr), SQLITE_OK);
        sqlite3_bind_text16(st, 1, in.data(), static_cast<int>(in.size() * 2), SQLITE_TRANSIENT);
        Units out;
        if (sqlite3_step(st) == SQLITE_ROW) {
            const auto *t = static_cast<const quint16 *>(sqlite3_column_text16(st, 0));
            out.assign(t, t + sqlite3_column_bytes16(st, 0) / 2);
        }
        sqlite3_finalize(st);
        return out;
    }

    PSqlBase base;
};

// --- single-unit mappers -------------------------------------------------------------------

struct MapCase
{
    const char *name;
    quint16 (*map)(quint16);
    quint16 in;
    quint16 out;
};

void PrintTo(const MapCase &c, std::ostream *os)
{
    *os << c.name;
}

class UnitMapping : public ::testing::TestWithParam<MapCase>
{
};

TEST_P(UnitMapping, MapsAsTheCharacterDataSays)
{
    EXPECT_EQ(GetParam().map(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, UnitMapping,
    ::testing::Values(MapCase{"UpperSharpSHasNoOneUnitUppercase", upperChar, 0x00DF, 0x00DF},
                      MapCase{"LowerDottedCapitalI", lowerChar, 0x0130, 0x0069},
                      MapCase{"FoldCapitalSharpS", foldChar, 0x1E9E, 0x00DF},
                      MapCase{"TitleOfLowerDz", titleChar, 0x01C6, 0x01C5},
                      MapCase{"FoldAsciiToLower", foldChar, 'Q', 'q'},
                      MapCase{"UpperCyrillic", upperChar, 0x0436, 0x0416},
                      MapCase{"SurrogateUnchanged", lowerChar, 0xD801, 0xD801},
                      MapCase{"GeorgianUpperAddedAfter51Left", upperChar, 0x10D0, 0x10D0},
                      MapCase{"UnaccentFirstOfLigature", unaccentFirstChar, 0xFB01, 'f'},
                      MapCase{"UnaccentFirstKeepsAscii", unaccentFirstChar, 'A', 'A'}),
    [](const auto &info) { return std::string(info.param.name); });

struct UnaccentCase
{
    const char *name;
    quint16 in;
    Units out;
};

void PrintTo(const UnaccentCase &c, std::ostream *os)
{
    *os << c.name;
}

class Unaccent : public UnicodeSql, public ::testing::WithParamInterface<UnaccentCase>
{
};

TEST_P(Unaccent, OneCharacter)
{
    EXPECT_EQ(apply("unaccent", {GetParam().in}), GetParam().out);
}

const Units kFdfa = {0x0635, 0x0644, 0x0649, 0x0020, 0x0627, 0x0644, 0x0644, 0x0647, 0x0020,
                     0x0639, 0x0644, 0x064A, 0x0647, 0x0020, 0x0648, 0x0633, 0x0644, 0x0645};

INSTANTIATE_TEST_SUITE_P(
    Unicode, Unaccent,
    ::testing::Values(UnaccentCase{"EAcute", 0x00E9, {0x0065}},
                      UnaccentCase{"CapitalACircumflexAcuteTwoLevels", 0x1EA4, {0x0041}},
                      UnaccentCase{"FiLigature", 0xFB01, {0x0066, 0x0069}},
                      UnaccentCase{"OneHalf", 0x00BD, {0x0031, 0x2044, 0x0032}},
                      UnaccentCase{"CircledOne", 0x2460, {0x0031}},
                      UnaccentCase{"OhmSign", 0x2126, {0x03A9}},
                      UnaccentCase{"SquareApaatoMappedPartLast", 0x3300, {0x30A2, 0x30FC, 0x30C8, 0x30CF}},
                      UnaccentCase{"LongestMapping", 0xFDFA, kFdfa},
                      UnaccentCase{"OWithStroke", 0x00D8, {0x004F}},
                      UnaccentCase{"LWithStroke", 0x0141, {0x004C}},
                      UnaccentCase{"DWithStroke", 0x0111, {0x0064}},
                      UnaccentCase{"CyrillicGheWithStroke", 0x0492, {0x0413}},
                      UnaccentCase{"OWithStrokeAndAcute", 0x01FE, {0x004F}},
                      UnaccentCase{"CapitalAE", 0x00C6, {0x0041, 0x0045}},
                      UnaccentCase{"SmallAE", 0x00E6, {0x0061, 0x0065}},
                      UnaccentCase{"CapitalOE", 0x0152, {0x004F, 0x0045}},
                      UnaccentCase{"SmallOE", 0x0153, {0x006F, 0x0065}},
                      UnaccentCase{"SharpSUnchanged", 0x00DF, {0x00DF}},
                      UnaccentCase{"DotlessIUnchanged", 0x0131, {0x0131}},
                      UnaccentCase{"HangulSyllableUnchanged", 0xAC00, {0xAC00}},
                      UnaccentCase{"LoneCombiningAccentUnchanged", 0x0301, {0x0301}},
                      UnaccentCase{"HalfwidthVoicedMarkUnchanged", 0xFF9E, {0xFF9E}},
                      UnaccentCase{"IdeographOutsideBmpUnchanged", 0xFACF, {0xFACF}},
                      UnaccentCase{"UnassignedIn51Unchanged", 0x0524, {0x0524}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(UnicodeSql, CaseFunctionsMapEveryUnitByItself)
{
    EXPECT_EQ(apply("upper", unitsOf(QStringLiteral("straße"))), unitsOf(QStringLiteral("STRAßE")));
    EXPECT_EQ(apply("lower", unitsOf(QStringLiteral("ÀÉÎ İ"))), unitsOf(QStringLiteral("àéî i")));
    EXPECT_EQ(apply("title", unitsOf(QStringLiteral("ǆemal word"))), unitsOf(QStringLiteral("ǅEMAL WORD")));
    EXPECT_EQ(apply("fold", unitsOf(QStringLiteral("ẞΣ"))), unitsOf(QStringLiteral("ßσ")));
    EXPECT_EQ(apply("unaccent", unitsOf(QStringLiteral("Ærøskøbing ½"))), unitsOf(QStringLiteral("AEroskobing 1⁄2")));
}

TEST_F(UnicodeSql, NullStaysNullAndTextAfterANulIsKept)
{
    for (const char *f : {"fold", "lower", "upper", "title", "unaccent"}) {
        SCOPED_TRACE(f);
        EXPECT_TRUE(scalar(db(), std::string("select ") + f + "(NULL)").isNull);
        EXPECT_EQ(apply(f, {'A', 0, 0x00C9}).size(), 3u);
    }
    EXPECT_EQ(apply("lower", {'A', 0, 0x00C9}), (Units{'a', 0, 0x00E9}));
}

TEST_F(UnicodeSql, UnicodeVersion)
{
    EXPECT_EQ(scalar(db(), "select unicode_version()").text, "5.1.0.12");
}

TEST_F(UnicodeSql, UnaccentRefusesAResultOverTheLengthLimit)
{
    sqlite3_limit(db(), SQLITE_LIMIT_LENGTH, 100);
    // 10 units, each becoming 18.
    const Scalar r = scalar(db(), "select unaccent(?)", [](sqlite3_stmt *st) {
        const Units in(10, 0xFDFA);
        sqlite3_bind_text16(st, 1, in.data(), 20, SQLITE_TRANSIENT);
    });
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.text, "string or blob too big");
}

// --- UTF-8 reading ---------------------------------------------------------------------------

struct Utf8Case
{
    const char *name;
    std::vector<unsigned char> bytes;
    quint32 value;
    size_t consumed;
};

void PrintTo(const Utf8Case &c, std::ostream *os)
{
    *os << c.name;
}

class ReadUtf8 : public ::testing::TestWithParam<Utf8Case>
{
};

// The bytes sit in a heap buffer of their exact size, so a read past them shows under ASan.
TEST_P(ReadUtf8, DecodesWithinTheBuffer)
{
    const std::vector<unsigned char> buffer = GetParam().bytes;
    const unsigned char *p = buffer.data();
    EXPECT_EQ(readUtf8Char(p, buffer.data() + buffer.size()), GetParam().value);
    EXPECT_EQ(static_cast<size_t>(p - buffer.data()), GetParam().consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, ReadUtf8,
    ::testing::Values(Utf8Case{"Ascii", {'A', 'B'}, 'A', 1},
                      Utf8Case{"TwoBytes", {0xC3, 0xA9}, 0xE9, 2},
                      Utf8Case{"ThreeBytes", {0xE2, 0x82, 0xAC}, 0x20AC, 3},
                      Utf8Case{"AboveBmp", {0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
                      Utf8Case{"StrayContinuation", {0x80, 0x80}, 0x80, 1},
                      Utf8Case{"OverLong", {0xC0, 0x80}, 0xFFFD, 2},
                      Utf8Case{"Surrogate", {0xED, 0xA0, 0x80}, 0xFFFD, 3},
                      Utf8Case{"NonCharacterFFFF", {0xEF, 0xBF, 0xBF}, 0xFFFD, 3},
                      Utf8Case{"CutAtTheEnd", {0xE2, 0x82}, 0x82, 2},
                      Utf8Case{"LeadByteAlone", {0xE2}, 0xFFFD, 1},
                      Utf8Case{"StopsAtNextLead", {0xC3, 0xA9, 0xC3}, 0xE9, 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MatchKey, IgnoresCaseAndAccentsAndKeepsCharactersAboveBmp)
{
    EXPECT_EQ(matchKey(0x00C9), matchKey('e'));
    EXPECT_EQ(matchKey(0x00E9), matchKey('E'));
    EXPECT_EQ(matchKey('E'), quint32('e'));
    EXPECT_EQ(matchKey(0x1F600), 0x1F600u);
    EXPECT_NE(matchKey(0x1F600), matchKey(0xF600));
    EXPECT_NE(matchKey(0x00DF), matchKey('s'));
}

// --- LIKE ------------------------------------------------------------------------------------

struct LikeCase
{
    const char *name;
    const char *sql;
    const char *result; // "1", "0", "NULL" or the error message
};

void PrintTo(const LikeCase &c, std::ostream *os)
{
    *os << c.name;
}

class LikeSql : public UnicodeSql, public ::testing::WithParamInterface<LikeCase>
{
};

TEST_P(LikeSql, Result)
{
    const Scalar r = scalar(db(), GetParam().sql);
    EXPECT_EQ(r.failed ? r.text : r.isNull ? std::string("NULL") : r.text, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, LikeSql,
    ::testing::Values(LikeCase{"AccentsAndCaseIgnored", "select 'ÉCOLE' LIKE 'ecole'", "1"},
                      LikeCase{"SharpSIsNotSS", "select 'Straße' LIKE 'STRASSE'", "0"},
                      LikeCase{"CyrillicCase", "select 'ПРИВЕТ мир' LIKE 'привет%'", "1"},
                      LikeCase{"OneMatchesOneCharacter", "select 'é' LIKE '_'", "1"},
                      LikeCase{"EscapedPercentIsLiteral", "select 'a%b' LIKE 'a\\%b' ESCAPE '\\'", "1"},
                      LikeCase{"EscapedPercentNotWildcard", "select 'axb' LIKE 'a\\%b' ESCAPE '\\'", "0"},
                      LikeCase{"EscapeAtTheEndIgnored", "select 'ab' LIKE 'ab\\' ESCAPE '\\'", "1"},
                      LikeCase{"EscapeAtTheEndAfterPercent", "select 'ab' LIKE 'a%\\' ESCAPE '\\'", "0"},
                      LikeCase{"MultiByteEscape", "select 'a_b' LIKE 'aé_b' ESCAPE 'é'", "1"},
                      LikeCase{"TwoCharacterEscape", "select 'a' LIKE 'a' ESCAPE 'ab'",
                               "ESCAPE expression must be a single character"},
                      LikeCase{"EmptyEscape", "select 'a' LIKE 'a' ESCAPE ''",
                               "ESCAPE expression must be a single character"},
                      LikeCase{"NullEscape", "select 'a' LIKE 'a' ESCAPE NULL", "NULL"},
                      LikeCase{"NullText", "select NULL LIKE 'a'", "NULL"},
                      LikeCase{"NullPattern", "select 'a' LIKE NULL", "NULL"},
                      LikeCase{"Pattern50000", "select 'a' LIKE ('%' || substr(hex(zeroblob(25000)), 2))", "0"},
                      LikeCase{"Pattern50001", "select 'a' LIKE ('%' || hex(zeroblob(25000)))",
                               "LIKE or GLOB pattern too complex"}),
    [](const auto &info) { return std::string(info.param.name); });

// The rules of the pattern matcher taken literally, recursion and all; small inputs only.
int referenceLike(const unsigned char *p, const unsigned char *pe, const unsigned char *t, const unsigned char *te,
                  quint32 esc)
{
    bool escaped = false;
    for (;;) {
        if (p >= pe)
            return t >= te ? 1 : 0;
        quint32 c = readUtf8Char(p, pe);
        if (!escaped && c == '%') {
            for (;;) {
                if (p >= pe)
                    return 1;
                const unsigned char *q = p;
                c = readUtf8Char(q, pe);
                if (c == '%') {
                    p = q;
                } else if (c == '_') {
                    p = q;
                    if (t >= te)
                        return 0;
                    readUtf8Char(t, te);
                } else {
                    break;
                }
            }
            c = readUtf8Char(p, pe);
            if (esc && c == esc) {
                if (p >= pe)
                    return 0;
                c = readUtf8Char(p, pe);
            }
            while (t < te) {
                const quint32 tc = readUtf8Char(t, te);
                if (matchKey(tc) == matchKey(c) && referenceLike(p, pe, t, te, esc))
                    return 1;
            }
            return 0;
        }
        if (!escaped && c == '_') {
            if (t >= te)
                return 0;
            readUtf8Char(t, te);
        } else if (!escaped && esc && c == esc) {
            escaped = true;
        } else {
            if (t >= te || matchKey(readUtf8Char(t, te)) != matchKey(c))
                return 0;
            escaped = false;
        }
    }
}

TEST(LikeMatch, AgreesWithTheRecursiveRulesOnRandomInputs)
{
    const LikeInfo info = {'%', '_', 0, 1};
    const std::vector<std::string> patternParts = {"a", "b", "é", "E", "%", "_", "\\", "%%"};
    const std::vector<std::string> textParts = {"a", "b", "e", "É", "%", "_", "\\"};
    std::mt19937 rng(20240607);
    int matches = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string pattern, text;
        const int pn = static_cast<int>(rng() % 7), tn = static_cast<int>(rng() % 8);
        for (int i = 0; i < pn; ++i)
            pattern += patternParts[rng() % patternParts.size()];
        for (int i = 0; i < tn; ++i)
            text += textParts[rng() % textParts.size()];
        const quint32 esc = (round % 2) ? '\\' : 0;
        const auto *p = reinterpret_cast<const unsigned char *>(pattern.data());
        const auto *t = reinterpret_cast<const unsigned char *>(text.data());
        const int expected = referenceLike(p, p + pattern.size(), t, t + text.size(), esc);
        matches += expected;
        ASSERT_EQ(likeMatch(p, static_cast<int>(pattern.size()), t, static_cast<int>(text.size()), info, esc), expected)
            << "pattern [" << pattern << "] text [" << text << "] escape " << esc;
    }
    EXPECT_GT(matches, 1000); // the sample exercises both outcomes
}

TEST_F(UnicodeSql, PathologicalPatternAnswersAtOnce)
{
    QElapsedTimer timer;
    timer.start();
    // Against the recursive rules this pattern costs about text^12 steps.
    const Scalar many = scalar(db(), "select replace(hex(zeroblob(20000)), '0', 'a') LIKE '%a%a%a%a%a%a%a%a%a%a%a%a%b'");
    const Scalar long_ = scalar(db(), "select replace(hex(zeroblob(20000)), '0', 'a') LIKE "
                                      "'%' || replace(hex(zeroblob(100)), '0', 'a') || 'b'");
    EXPECT_EQ(many.text, "0");
    EXPECT_EQ(long_.text, "0");
    // Linear work takes well under a second even under the sanitizers; the bound leaves room for a
    // loaded machine, while the exponential road would not end at all.
    EXPECT_LT(timer.elapsed(), 20000);
}

// --- NOCASE ----------------------------------------------------------------------------------

TEST(Nocase, IsAConsistentOrderInBothEncodings)
{
    const QStringList alphabet = {QStringLiteral("a"), QStringLiteral("e"), QStringLiteral("é"), QStringLiteral("É"),
                                  QStringLiteral("b")};
    QStringList texts = {QString()};
    for (int len = 1; len <= 3; ++len)
        for (const QString &prefix : QStringList(texts))
            if (prefix.size() == len - 1)
                for (const QString &c : alphabet)
                    texts << prefix + c;
    std::vector<QByteArray> utf8;
    std::vector<QString> utf16;
    for (const QString &t : texts) {
        utf8.push_back(t.toUtf8());
        utf16.push_back(t);
    }
    const int n = texts.size();
    auto cmp8 = [&](int i, int j) {
        return nocaseCompareUtf8(utf8[i].constData(), utf8[i].size(), utf8[j].constData(), utf8[j].size());
    };
    auto cmp16 = [&](int i, int j) {
        return nocaseCompareUtf16(utf16[i].utf16(), utf16[i].size() * 2, utf16[j].utf16(), utf16[j].size() * 2);
    };
    for (const auto &cmp : {std::function<int(int, int)>(cmp8), std::function<int(int, int)>(cmp16)}) {
        std::vector<int> table(static_cast<size_t>(n * n));
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                table[static_cast<size_t>(i * n + j)] = cmp(i, j);
        auto at = [&](int i, int j) { return table[static_cast<size_t>(i * n + j)]; };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                ASSERT_EQ(at(i, j), -at(j, i)) << texts[i].toStdString() << " / " << texts[j].toStdString();
                if (at(i, j) > 0)
                    continue;
                for (int k = 0; k < n; ++k) {
                    if (at(j, k) <= 0) {
                        ASSERT_LE(at(i, k), 0) << texts[i].toStdString() << " <= " << texts[j].toStdString()
                                               << " <= " << texts[k].toStdString();
                    }
                }
            }
    }
    const QByteArray e = QStringLiteral("é").toUtf8();
    EXPECT_LT(nocaseCompareUtf8(e.constData(), e.size(), "ea", 2), 0);
    EXPECT_LT(nocaseCompareUtf8(e.constData(), e.size(), "eb", 2), 0);
    EXPECT_LT(nocaseCompareUtf8("ea", 2, "eb", 2), 0);
}

TEST(Nocase, NulIsKeyZeroAndLengthsBoundTheOperands)
{
    EXPECT_GT(nocaseCompareUtf8("a\0b", 3, "a", 1), 0);
    EXPECT_LT(nocaseCompareUtf8("a\0", 2, "a\x01", 2), 0);
    // A lead byte at the very end of a heap buffer of exact size.
    const std::vector<char> cut = {'e', '\xC3'};
    EXPECT_NE(nocaseCompareUtf8(cut.data(), 2, "e", 1), 0);
}

class NocaseSql : public ::testing::TestWithParam<const char *>
{
};

TEST_P(NocaseSql, EqualityAndOrder)
{
    PSqlBase base;
    ASSERT_TRUE(base.open(QStringLiteral(":memory:")));
    ASSERT_TRUE(base.exec(QStringLiteral("PRAGMA encoding = '%1'").arg(QLatin1String(GetParam()))));
    sqlite3 *db = base.connection();
    EXPECT_EQ(scalar(db, "select 'ÉCOLE' = 'ecole' COLLATE NOCASE").text, "1");
    EXPECT_EQ(scalar(db, "select 'Ærø' = 'ærØ' COLLATE NOCASE").text, "1");
    EXPECT_EQ(scalar(db, "select 'abc' < 'ABCD' COLLATE NOCASE").text, "1");
    EXPECT_EQ(scalar(db, "select '' < 'a' COLLATE NOCASE").text, "1");

    ASSERT_TRUE(base.exec(QStringLiteral("create table t(x text collate nocase)")));
    ASSERT_TRUE(base.exec(QStringLiteral("create index tx on t(x)")));
    ASSERT_TRUE(base.exec(QStringLiteral("insert into t values ('eb'),('É'),('ea'),('B'),(''),('a'),('é')")));
    EXPECT_EQ(scalar(db, "select group_concat(x, '|') from (select x from t order by x, rowid)").text, "|a|B|É|é|ea|eb");
    EXPECT_EQ(scalar(db, "select count(*) from t where x = 'E'").text, "2");
    EXPECT_EQ(scalar(db, "PRAGMA integrity_check").text, "ok");
}

INSTANTIATE_TEST_SUITE_P(Unicode, NocaseSql, ::testing::Values("UTF-8", "UTF-16le"),
                         [](const auto &info) { return std::string(info.param[4] == '8' ? "Utf8" : "Utf16"); });

// An index on lower(x) made without these functions: the database still opens and works with them.
TEST(UnicodeRegistration, DatabaseWithAnIndexOnLowerOpensAndWorks)
{
    TempDir dir;
    const QByteArray path = dir.file(QStringLiteral("indexed.db")).toUtf8();
    sqlite3 *plain = nullptr;
    ASSERT_EQ(sqlite3_open(path.constData(), &plain), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(plain, "create table t(x text); create index tl on t(lower(x)); "
                                  "insert into t values ('Abc'), ('DEF');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(plain);

    PSqlBase base;
    ASSERT_TRUE(base.open(QString::fromUtf8(path)));
    EXPECT_TRUE(base.exec(QStringLiteral("insert into t values ('Ghi')"))) << base.errorText().toStdString();
    EXPECT_EQ(scalar(base.connection(), "select x from t where lower(x) = 'def'").text, "DEF");
    EXPECT_EQ(scalar(base.connection(), "select count(*) from t").text, "3");
}

} // namespace
