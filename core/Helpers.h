#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Byte, hex and number-text helpers shared by the framing, the command handlers, the table files
// and the log lines. None of them fails: malformed input gives a defined value.

// Writes 2 x count upper-case hex characters (high nibble first); nothing for count <= 0; no NUL.
void hexEncode(char *out, const char *in, int count);
// Reads 2 x count characters into count bytes; only '0'-'9' and 'A'-'F' count, every other
// character is 0.
void hexDecode(char *out, const char *in, int count);

quint32 readUInt32BE(const void *bytes);
void writeUInt32BE(void *bytes, quint32 value);
// 00 00 00 01 when flag is exactly 1, else 00 00 00 00.
void writeBoolBE(void *bytes, quint8 flag);

// out = in cut or blank-padded to exactly width bytes (width <= 0 gives an empty field).
void padField(QByteArray &out, const QByteArray &in, int width);

// Large enough for every text formatScaled makes: a sign, ten digits, a point, nine decimals, NUL.
constexpr int kScaledTextSize = 24;
// value / 10^decimals as text with exactly `decimals` fraction digits; decimals 0 prints the value
// as a signed 32-bit number (the form stored files and terminals have seen). Decimals outside 0..9
// count as the nearest of them. Writes at most size bytes including the NUL; returns out.
char *formatScaled(quint32 value, char *out, int decimals, int size = kScaledTextSize);

// A decimal text into hundredths, in the C locale: the first ',' becomes '.' in place; negative
// gives 0, above 40000000 counts as 40000001; the result saturates at 2147483647.
qint32 textToHundredths(char *text);

// decimals 0: the text as an unsigned integer (0 when invalid); otherwise the text's exact decimal
// value times 10^decimals cut toward zero, read in the C locale (0 for a non-number, NaN,
// infinity or a product outside 64 bits). Callers keep the low 32 bits.
qint64 textToScaled(const QString &text, int decimals);

QString numberToString(qint32 value);
QString int64ToString(qint64 value);
