#include "PDecimal.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr quint32 kPartLimit = 999999999;
constexpr int kMaxTextLength = 19;
constexpr int kFractionDigits = 9;

// Reads a part as the C library's atol does (an optional '-', then digits up to the first
// character that is none), but never overflows: a part is taken only when it is 0..999999999.
// "-0" and an empty or digitless part read as 0; any other negative part is refused.
bool readPart(const char *begin, const char *end, quint32 &value)
{
    value = 0;
    const char *p = begin;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    quint64 v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + quint64(*p - '0');
        if (v > kPartLimit)
            return false;
    }
    if (negative && v != 0)
        return false;
    value = quint32(v);
    return true;
}

} // namespace

quint32 swapBytes32(quint32 value)
{
    return qbswap(value);
}

void PDecimal::clear()
{
    whole = 0;
    fraction = 0;
}

void PDecimal::swapBytes()
{
    whole = swapBytes32(whole);
    fraction = swapBytes32(fraction);
}

QByteArray PDecimal::toText(char separator)
{
    if (whole > kPartLimit || fraction > kPartLimit)
        clear();
    QByteArray out = QByteArray::number(whole);
    if (fraction == 0)
        return out;
    if (separator != '\0')
        out.append(separator);
    QByteArray digits = QByteArray::number(fraction).rightJustified(kFractionDigits, '0');
    int length = digits.size();
    while (length > 0 && digits.at(length - 1) == '0')
        --length;
    out.append(digits.constData(), length);
    return out;
}

bool PDecimal::parse(const char *text)
{
    clear();
    if (!text)
        return true;
    const size_t length = std::strlen(text);
    if (length > size_t(kMaxTextLength))
        return false;
    const char *end = text + length;
    const char *point = nullptr;
    for (const char *p = text; p < end; ++p) {
        if (*p == '.') {
            if (point)
                return false;
            point = p;
        } else if (*p != '-' && (*p < '0' || *p > '9')) {
            return false;
        }
    }

    quint32 w = 0;
    if (!readPart(text, point ? point : end, w))
        return false;
    if (!point) {
        whole = w;
        return true;
    }

    // Only nine fraction digits fit; further ones are dropped rather than letting the text's
    // length scale the value wrongly.
    const char *fractionBegin = point + 1;
    const int digits = qMin(int(end - fractionBegin), kFractionDigits);
    quint32 f = 0;
    if (!readPart(fractionBegin, fractionBegin + digits, f))
        return false;
    for (int k = digits; k < kFractionDigits; ++k)
        f *= 10;
    whole = w;
    fraction = f;
    return true;
}

bool PDecimal::fromText(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    return parse(bytes.constData());
}
