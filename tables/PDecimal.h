#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The byte order of a 32-bit word reversed: host order to big-endian and back on this machine.
quint32 swapBytes32(quint32 value);

// Fixed-point number of the V4 decimal fields: a whole part and nine fraction digits, each part
// 0..999999999. Stored in a table file as two big-endian words, whole first.
struct PDecimal
{
    quint32 whole = 0;
    quint32 fraction = 0; // units of 10^-9: 500000000 is one half

    void clear();
    // Reverses the byte order of both words in place (before writing to a file, after reading).
    void swapBytes();

    // The value as text: whole digits, then (when the fraction is not 0) the separator and the
    // nine fraction digits without their trailing zeros. A separator of 0 writes none. A part
    // above 999999999 (a word read from a file) first turns the whole value into 0.
    // The result is a copy the caller owns: at most 19 characters.
    QByteArray toText(char separator);
    QByteArray text() { return toText('.'); }

    // Reads a text of digits, at most one '.' and '-' signs. On false both parts are 0.
    bool parse(const char *text);
    bool fromText(const QString &text);
};
