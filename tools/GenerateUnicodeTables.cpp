// Writes tables/UnicodeTableData.cpp: the five mapping tables (fold, lower, upper, title,
// unaccent) of the Basic Multilingual Plane as of Unicode 5.1.0, taken from ICU's character data.
//
//   GenerateUnicodeTables OUTPUT        write the source file
//   GenerateUnicodeTables --check FILE  exit 1 when FILE differs from what would be written
//
// ICU carries a newer Unicode release, so every character assigned after 5.1 (u_charAge) is left
// out, both as a source and as a mapping target; a character keeps no mapping that would name
// such a character.
//
// Case tables: ICU's simple mappings (u_foldCase with the default options is the simple case
// folding, statuses C and S; u_tolower, u_toupper, u_totitle are the simple one-character
// mappings). A character whose only mapping has several characters stays unchanged.
//
// Unaccent table, per character c:
//  1. c with a decomposition (canonical or compatibility, one level deep as in the character data)
//     maps to that decomposition less its marks (general category M); of the rest, characters
//     without a mapping of their own stay in order, and those with one are taken out and their
//     mappings appended at the end, in turn.
//  2. A Latin, Greek or Cyrillic letter without a decomposition whose name is "<name of another
//     letter of the same script> WITH <feature>" maps to that letter, mapped in turn. The letters
//     AE and the ligatures OE map to their two letters.
//  3. Unchanged: Hangul syllables, marks themselves (this wins over rule 1), characters not
//     assigned in 5.1, and everything neither rule reaches.
// Cases the rules leave open, decided here:
//  - a rule-1 result that is empty (U+FF9E, U+FF9F: their decomposition is a lone mark) leaves the
//    character unchanged;
//  - a decomposition that reaches outside the BMP (CJK compatibility ideographs) leaves the
//    character unchanged;
//  - a result equal to the character itself is stored as "unchanged".
//
// Layout of one table for block size B: an index of 65536 / B block numbers; per distinct block its
// list of units and B + 1 one-byte offsets into it; the single unit 0xFFFF means "unchanged".

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Units = std::vector<uint32_t>;
constexpr uint32_t kUnchanged = 0xFFFF;

bool assigned51(UChar32 c)
{
    if (u_charType(c) == U_UNASSIGNED)
        return false;
    UVersionInfo age;
    u_charAge(c, age);
    if (age[0] == 0 && age[1] == 0)
        return false;
    return age[0] < 5 || (age[0] == 5 && age[1] <= 1);
}

bool isMark(UChar32 c)
{
    return (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

bool isLetter(UChar32 c)
{
    return (U_GET_GC_MASK(c) & U_GC_L_MASK) != 0;
}

std::optional<uint32_t> simpleMapping(UChar32 c, UChar32 (*map)(UChar32))
{
    if (!assigned51(c))
        return std::nullopt;
    const UChar32 m = map(c);
    if (m == c || m > 0xFFFF || !assigned51(m))
        return std::nullopt;
    return static_cast<uint32_t>(m);
}

UChar32 foldDefault(UChar32 c)
{
    return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

std::string charName(UChar32 c)
{
    char buf[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = u_charName(c, U_UNICODE_CHAR_NAME, buf, sizeof buf, &status);
    if (U_FAILURE(status) || n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

class Unaccent
{
public:
    Unaccent()
    {
        UErrorCode status = U_ZERO_ERROR;
        nfkd = icu::Normalizer2::getNFKDInstance(status);
        if (U_FAILURE(status))
            nfkd = nullptr;
    }
    bool ok() const { return nfkd != nullptr; }

    // The mapping of c, or nothing when c stays unchanged.
    const std::optional<Units> &mapping(UChar32 c)
    {
        auto it = memo.find(c);
        if (it == memo.end())
            it = memo.emplace(c, compute(c)).first;
        return it->second;
    }

private:
    std::optional<Units> compute(UChar32 c)
    {
        if (!assigned51(c) || isMark(c) || (c >= 0xAC00 && c <= 0xD7A3))
            return std::nullopt;
        icu::UnicodeString raw;
        if (nfkd->getRawDecomposition(c, raw))
            return fromDecomposition(c, raw);
        return fromName(c);
    }

    std::optional<Units> fromDecomposition(UChar32 c, const icu::UnicodeString &raw)
    {
        Units kept, appended;
        for (int32_t i = 0; i < raw.length(); i = raw.moveIndex32(i, 1)) {
            const UChar32 x = raw.char32At(i);
            if (isMark(x))
                continue;
            const std::optional<Units> &own = mapping(x);
            if (own)
                appended.insert(appended.end(), own->begin(), own->end());
            else
                kept.push_back(static_cast<uint32_t>(x));
        }
        kept.insert(kept.end(), appended.begin(), appended.end());
        return finish(c, kept);
    }

    std::optional<Units> fromName(UChar32 c)
    {
        if (!isLetter(c))
            return std::nullopt;
        const std::string name = charName(c);
        if (name == "LATIN CAPITAL LETTER AE")
            return Units{0x41, 0x45};
        if (name == "LATIN SMALL LETTER AE")
            return Units{0x61, 0x65};
        if (name == "LATIN CAPITAL LIGATURE OE")
            return Units{0x4F, 0x45};
        if (name == "LATIN SMALL LIGATURE OE")
            return Units{0x6F, 0x65};

        const size_t with = name.find(" WITH ");
        if (with == std::string::npos)
            return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        const UChar32 base = u_charFromName(U_UNICODE_CHAR_NAME, name.substr(0, with).c_str(), &status);
        if (U_FAILURE(status) || base == c || !assigned51(base) || !isLetter(base))
            return std::nullopt;
        UErrorCode s1 = U_ZERO_ERROR, s2 = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(c, &s1);
        if (U_FAILURE(s1) || U_FAILURE(s2) || script != uscript_getScript(base, &s2)
            || (script != USCRIPT_LATIN && script != USCRIPT_GREEK && script != USCRIPT_CYRILLIC))
            return std::nullopt;
        const std::optional<Units> &own = mapping(base);
        return finish(c, own ? *own : Units{static_cast<uint32_t>(base)});
    }

    static std::optional<Units> finish(UChar32 c, const Units &units)
    {
        if (units.empty() || (units.size() == 1 && units[0] == static_cast<uint32_t>(c)))
            return std::nullopt;
        for (uint32_t u : units)
            if (u > 0xFFFF)
                return std::nullopt;
        return units;
    }

    const icu::Normalizer2 *nfkd = nullptr;
    std::map<UChar32, std::optional<Units>> memo;
};

struct Block
{
    Units units;
    std::vector<uint32_t> offsets;
    bool operator<(const Block &o) const
    {
        return units != o.units ? units < o.units : offsets < o.offsets;
    }
};

// Builds the two-level layout and appends its C++ definition to out. Returns false when a block
// does not fit its one-byte offsets.
template <typename MapFn>
bool emitTable(std::ostringstream &out, const char *name, int blockSize, MapFn mapOf)
{
    std::vector<Block> blocks;
    std::map<Block, uint32_t> seen;
    std::vector<uint32_t> index;
    for (uint32_t start = 0; start < 0x10000; start += static_cast<uint32_t>(blockSize)) {
        Block b;
        b.offsets.push_back(0);
        for (uint32_t u = start; u < start + static_cast<uint32_t>(blockSize); ++u) {
            const std::optional<Units> m = mapOf(static_cast<UChar32>(u));
            if (m)
                b.units.insert(b.units.end(), m->begin(), m->end());
            else
                b.units.push_back(kUnchanged);
            if (b.units.size() > 255) {
                std::fprintf(stderr, "%s: block at U+%04X needs more than 255 units\n", name, start);
                return false;
            }
            b.offsets.push_back(static_cast<uint32_t>(b.units.size()));
        }
        auto it = seen.find(b);
        if (it == seen.end()) {
            it = seen.emplace(b, static_cast<uint32_t>(blocks.size())).first;
            blocks.push_back(b);
        }
        index.push_back(it->second);
    }

    auto list = [&out](const auto &values, bool hex) {
        int column = 0;
        for (auto v : values) {
            if (column == 0)
                out << "   ";
            char buf[16];
            std::snprintf(buf, sizeof buf, hex ? " 0x%04X," : " %u,", static_cast<unsigned>(v));
            out << buf;
            if (++column == 12) {
                out << "\n";
                column = 0;
            }
        }
        if (column != 0)
            out << "\n";
    };

    std::vector<uint32_t> starts, offsets;
    Units units;
    for (const Block &b : blocks) {
        starts.push_back(static_cast<uint32_t>(units.size()));
        units.insert(units.end(), b.units.begin(), b.units.end());
        offsets.insert(offsets.end(), b.offsets.begin(), b.offsets.end());
    }

    out << "// " << name << ": block size " << blockSize << ", " << blocks.size() << " distinct blocks\n";
    out << "static const quint16 " << name << "Index[" << index.size() << "] = {\n";
    list(index, false);
    out << "};\nstatic const quint32 " << name << "Starts[" << starts.size() << "] = {\n";
    list(starts, false);
    out << "};\nstatic const quint8 " << name << "Offsets[" << offsets.size() << "] = {\n";
    list(offsets, false);
    out << "};\nstatic const quint16 " << name << "Units[" << units.size() << "] = {\n";
    list(units, true);
    out << "};\nconst UnicodeTable " << name << " = {" << (blockSize == 32 ? 5 : 6) << ", " << name << "Index, "
        << name << "Starts, " << name << "Offsets, " << name << "Units};\n\n";
    return true;
}

bool generate(std::string &text)
{
    Unaccent unaccent;
    if (!unaccent.ok()) {
        std::fprintf(stderr, "ICU has no NFKD data\n");
        return false;
    }
    auto simple = [](UChar32 (*fn)(UChar32)) {
        return [fn](UChar32 c) -> std::optional<Units> {
            const std::optional<uint32_t> m = simpleMapping(c, fn);
            return m ? std::optional<Units>(Units{*m}) : std::nullopt;
        };
    };

    std::ostringstream out;
    out << "// Generated by tools/GenerateUnicodeTables from the Unicode 5.1.0 character data; do not\n"
           "// edit. Rebuild with the target unicode_tables.\n\n"
           "#include \"UnicodeTable.h\"\n\n";
    const bool ok = emitTable(out, "foldTable", 32, simple(foldDefault))
        && emitTable(out, "lowerTable", 32, simple(u_tolower))
        && emitTable(out, "upperTable", 64, simple(u_toupper))
        && emitTable(out, "titleTable", 64, simple(u_totitle))
        && emitTable(out, "unaccentTable", 32, [&unaccent](UChar32 c) { return unaccent.mapping(c); });
    text = out.str();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: %s OUTPUT | --check FILE\n", argv[0]);
        return 2;
    }
    std::string text;
    if (!generate(text))
        return 1;
    const char *path = argv[argc - 1];
    if (check) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream current;
        current << in.rdbuf();
        if (!in.is_open() || current.str() != text) {
            std::fprintf(stderr, "%s does not match the generator's output; rebuild the target unicode_tables\n", path);
            return 1;
        }
        return 0;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    return 0;
}
