#include "Helpers.h"

#include "CNumber.h"

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
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0;
    const double product = std::trunc(v * double(powerOfTen(clampDecimals(decimals))));
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!(product > -9223372036854775808.0 && product < 9223372036854775808.0))
        return 0;
    return static_cast<qint64>(product);
}

QString numberToString(qint32 value)
{
    return QString::number(value);
}

QString int64ToString(qint64 value)
{
    return QString::number(value);
}
