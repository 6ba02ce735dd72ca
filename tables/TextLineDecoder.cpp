#include "TextLineDecoder.h"

#include "CodecLookup.h"

#include <QTextCodec>

namespace {

// Code pages (by MIB number) whose decoder holds no state once a line has ended: single-byte
// ones, and multi-byte ones whose characters never take a line-end byte inside. The stateful
// ones (ISO-2022, HZ, UTF-7, ...) carry their shift state from line to line, and Qt's own
// codecs (UTF-8, UTF-16, Latin-1) strip a byte-order mark at every line when decoded alone;
// those, and any code page not named here, are decoded line by line without a kept decoder.
bool keepsNoStateAtLineEnd(const QTextCodec *codec)
{
    const int mib = codec->mibEnum();
    return isSingleByteCodePage(codec)
        || mib == 17 || mib == 18 || mib == 38 // Shift_JIS, EUC-JP, EUC-KR
        || mib == 113 || mib == 114 || mib == 2025 || mib == 2026; // GBK, GB18030, GB2312, Big5
}

} // namespace

TextLineDecoder::TextLineDecoder() = default;
TextLineDecoder::~TextLineDecoder() = default;

void TextLineDecoder::use(QTextCodec *codec)
{
    if (codec == current)
        return;
    current = codec;
    stateless = !keepsNoStateAtLineEnd(codec);
    decoder.reset(stateless ? nullptr : codec->makeDecoder());
    delimiterKnown = false;
}

QString TextLineDecoder::decode(QTextCodec *codec, const QByteArray &line)
{
    use(codec);
    if (stateless)
        return codec->toUnicode(line);
    QString text = decoder->toUnicode(line);
    // Bytes held back for a character that never ends must not reach the next line.
    if (decoder->needsMoreData()) {
        decoder.reset(codec->makeDecoder());
        text = codec->toUnicode(line);
    }
    return text;
}

QChar TextLineDecoder::delimiter(QTextCodec *codec, char byte)
{
    use(codec);
    if (!delimiterKnown || byte != delimiterByte) {
        const QString decoded = codec->toUnicode(&byte, 1);
        delimiterChar = decoded.size() == 1 && decoded.at(0) != QChar(QChar::ReplacementCharacter)
            ? decoded.at(0)
            : QChar::fromLatin1(byte);
        delimiterByte = byte;
        delimiterKnown = true;
    }
    return delimiterChar;
}
