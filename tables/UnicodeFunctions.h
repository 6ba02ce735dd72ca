#pragma once

#include <QtGlobal>

struct sqlite3;

// Unicode-aware SQL functions and the NOCASE collation that every connection of the server gets:
// unicode_version(), like() with two and three arguments, fold(), lower(), upper(), title(),
// unaccent(), and NOCASE for UTF-8 and UTF-16 text. All state is constant; safe on any thread.

// Registers the eight functions (stopping at the first that fails) and then both collations.
// Returns SQLITE_OK, or the first code that was not.
int registerUnicodeFunctions(sqlite3 *db);

// Reads one UTF-8 character at p and moves p past it; never reads at or past end (p < end).
// Over-long forms, surrogates, U+FFFE and U+FFFF come back as U+FFFD.
quint32 readUtf8Char(const unsigned char *&p, const unsigned char *end);

// One UTF-16 unit through a table; surrogates and unmapped units come back unchanged.
quint16 foldChar(quint16 c);
quint16 lowerChar(quint16 c);
quint16 upperChar(quint16 c);
quint16 titleChar(quint16 c);
// The first unit of the unaccent mapping; units below 0x80 unchanged.
quint16 unaccentFirstChar(quint16 c);

// Comparison key of LIKE and NOCASE: accent taken off (from 0x80 on), then case folded.
// A character above the Basic Multilingual Plane is its own key.
quint32 matchKey(quint32 c);

struct LikeInfo
{
    char matchAll;  // "%"
    char matchOne;  // "_"
    char matchSet;  // 0: no character sets
    char noCase;    // 1: compare match keys
};

// 1 when text matches pattern, else 0; escape 0 means none. Both texts end at their length or at
// their first NUL byte. Runs in O(pattern x text) time without recursion.
int likeMatch(const unsigned char *pattern, int patternBytes, const unsigned char *text, int textBytes,
              const LikeInfo &info, quint32 escape);

// NOCASE order: the sequences of match keys compared lexicographically, a shorter prefix first.
// Lengths are in bytes; a NUL is key 0 like any other character. Results are -1, 0 or 1.
int nocaseCompareUtf8(const void *a, int aBytes, const void *b, int bBytes);
int nocaseCompareUtf16(const void *a, int aBytes, const void *b, int bBytes);
