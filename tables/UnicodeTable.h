#pragma once

#include <QtGlobal>

// One constant mapping of the Basic Multilingual Plane: a UTF-16 unit to a run of units.
// Blocks of 2^blockShift units; equal blocks are stored once. The run of unit u is
// units[starts[b] + o[u mod B]] up to units[starts[b] + o[u mod B + 1]], where b = index[u / B] and
// o = offsets + b * (B + 1). A run that is the single unit 0xFFFF means "u stays as it is".
struct UnicodeTable
{
    int blockShift;
    const quint16 *index;
    const quint32 *starts;
    const quint8 *offsets;
    const quint16 *units;

    // The run of u; length 0 cannot occur in the generated tables.
    const quint16 *lookup(quint16 u, int &length) const
    {
        const int blockSize = 1 << blockShift;
        const int block = index[u >> blockShift];
        const quint8 *o = offsets + block * (blockSize + 1);
        const int i = u & (blockSize - 1);
        length = o[i + 1] - o[i];
        return units + starts[block] + o[i];
    }
};

constexpr quint16 kUnicodeUnchanged = 0xFFFF;

// Generated from the Unicode 5.1.0 data (UnicodeTableData.cpp).
extern const UnicodeTable foldTable;     // simple case folding
extern const UnicodeTable lowerTable;    // simple lowercase
extern const UnicodeTable upperTable;    // simple uppercase
extern const UnicodeTable titleTable;    // simple titlecase
extern const UnicodeTable unaccentTable; // accents, strokes and ligatures taken apart
