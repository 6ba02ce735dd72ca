#include "TextFieldEncoder.h"

#include "CodecLookup.h"

#include <QTextCodec>

namespace {

QString printableAscii()
{
    QString text;
    for (char c = ' '; c < 0x7F; ++c)
        text += QLatin1Char(c);
    return text;
}

} // namespace

TextFieldEncoder::TextFieldEncoder() = default;
TextFieldEncoder::~TextFieldEncoder() = default;

void TextFieldEncoder::append(QByteArray &target, QTextCodec *codec, const QString &text)
{
    if (codec != current) {
        current = codec;
        encoder.reset(isSingleByteCodePage(codec) ? codec->makeEncoder(QTextCodec::IgnoreHeader) : nullptr);
        // Asked of the code page itself: some keep control characters in other places.
        static const QString ascii = printableAscii();
        keepsAscii = encoder && codec->fromUnicode(ascii) == ascii.toLatin1();
    }
    const int start = target.size();
    if (keepsAscii) {
        target.resize(start + text.size());
        char *out = target.data() + start;
        int i = 0;
        for (const QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
                break;
            out[i++] = char(c.unicode());
        }
        if (i == text.size())
            return;
        target.resize(start);
    }
    if (!encoder || (!text.isEmpty() && text.back().isHighSurrogate()))
        target.append(codec->fromUnicode(text));
    else
        target.append(encoder->fromUnicode(text));
}
