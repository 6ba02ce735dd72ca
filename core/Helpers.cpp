#include "Helpers.h"

#include "CNumber.h"

#include <QByteArray>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

int clampDecimals(int decimals)
{
    return decimals < 0 ? 0 : (decimals > 9 ? 9 : decimals);
}

quint32 powerOfTen(int decimals)
{
    quint32 divisor = 1;
    for (int i = 0; i < decimals; ++i)
        divisor *= 10;
    return divisor;
}

// A decimal text as C-locale number reading takes it: a sign, digits with at most one '.', and an
// exponent. "nan" and "inf" are not read: they have no scaled value.
struct ScaledDigits
{
    bool negative = false;
    QByteArray digits;      // every mantissa digit, leading zeros dropped
    qint64 fractionDigits = 0;
    qint64 exponent = 0;
};

// More digits than this cannot be below 2^63.
constexpr int kMaxScaledDigits = 19;
// An exponent this large already puts every text of a QString out of range; larger ones stop
// growing here so that the arithmetic on it stays exact.
constexpr qint64 kExponentLimit = Q_INT64_C(10000000000);

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool readDecimalText(const QString &text, ScaledDigits &number)
{
    const int size = text.size();
    int i = 0;
    if (i < size && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        number.negative = text.at(i++) == QLatin1Char('-');
    int mantissaDigits = 0;
    bool point = false;
    for (; i < size; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.') && !point) {
            point = true;
            continue;
        }
        if (!isAsciiDigit(c))
            break;
        ++mantissaDigits;
        if (point)
            ++number.fractionDigits;
        if (c != QLatin1Char('0') || !number.digits.isEmpty())
            number.digits.append(char(c.unicode()));
    }
    if (mantissaDigits == 0)
        return false;
    if (i < size && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        bool negativeExponent = false;
        if (i < size && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            negativeExponent = text.at(i++) == QLatin1Char('-');
        int exponentDigits = 0;
        for (; i < size && isAsciiDigit(text.at(i)); ++i, ++exponentDigits)
            number.exponent = qMin(number.exponent * 10 + (text.at(i).unicode() - '0'), kExponentLimit);
        if (exponentDigits == 0)
            return false;
        if (negativeExponent)
            number.exponent = -number.exponent;
    }
    return i == size;
}

} // namespace

void hexEncode(char *out, const char *in, int count)
{
    for (int i = 0; i < count; ++i) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        out[2 * i] = kHexDigits[b >> 4];
        out[2 * i + 1] = kHexDigits[b & 0x0F];
    }
}

void hexDecode(char *out, const char *in, int count)
{
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<char>((hexValue(in[2 * i]) * 16 + hexValue(in[2 * i + 1])) & 0xFF);
}

quint32 readUInt32BE(const void *bytes)
{
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

void writeUInt32BE(void *bytes, quint32 value)
{
    unsigned char *p = static_cast<unsigned char *>(bytes);
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

void writeBoolBE(void *bytes, quint8 flag)
{
    writeUInt32BE(bytes, flag == 1 ? 1u : 0u);
}

void padField(QByteArray &out, const QByteArray &in, int width)
{
    out.clear();
    if (width <= 0)
        return;
    out = in.left(width);
    if (out.size() < width)
        out.append(QByteArray(width - out.size(), ' '));
}

char *formatScaled(quint32 value, char *out, int decimals, int size)
{
    if (!out || size <= 0)
        return out;
    decimals = clampDecimals(decimals);
    if (decimals == 0) {
        std::snprintf(out, size_t(size), "%d", static_cast<qint32>(value));
        return out;
    }
    const quint32 divisor = powerOfTen(decimals);
    std::snprintf(out, size_t(size), "%u.%0*u", value / divisor, decimals, value % divisor);
    return out;
}

qint32 textToHundredths(char *text)
{
    if (!text)
        return 0;
    if (char *comma = std::strchr(text, ','))
        *comma = '.';
    double value = platform::cStrtod(text);
    if (std::isnan(value))
        return 0;
    if (value < 0)
        value = 0;
    else if (value > 40000000.0)
        value = 40000001.0;
    // "%.0f" rounds to nearest with ties to even; nearbyint in the default mode does the same.
    const double hundredths = std::nearbyint(value * 100.0);
    if (hundredths > 2147483647.0)
        return 2147483647;
    return static_cast<qint32>(hundredths);
}

qint64 textToScaled(const QString &text, int decimals)
{
    if (decimals <= 0) {
        bool ok = false;
        const uint v = text.toUInt(&ok, 10);
        return ok ? qint64(v) : 0;
    }
    ScaledDigits number;
    if (!readDecimalText(text.trimmed(), number))
        return 0;
    // value x 10^decimals = digits x 10^shift, cut toward zero: by appending zeros or dropping
    // digits, never through a binary fraction ("0.29" must give 29, not 28).
    const qint64 shift = number.exponent - number.fractionDigits + clampDecimals(decimals);
    QByteArray digits = number.digits;
    if (shift < 0)
        digits.chop(int(qMin<qint64>(-shift, digits.size())));
    else if (!digits.isEmpty())
        digits.append(QByteArray(int(qMin<qint64>(shift, kMaxScaledDigits + 1)), '0'));
    if (digits.isEmpty())
        return 0;
    if (digits.size() > kMaxScaledDigits)
        return 0;
    quint64 value = 0;
    for (char c : digits)
        value = value * 10 + quint64(c - '0');
    // Beyond 63 bits the value has no signed 64-bit form.
    if (value >= (quint64(1) << 63))
        return 0;
    return number.negative ? -qint64(value) : qint64(value);
}

QString numberToString(qint32 value)
{
    return QString::number(value);
}

QString int64ToString(qint64 value)
{
    return QString::number(value);
}
