#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTextCodec;
class QTextEncoder;

// Encodes the texts of one conversion, field after field, with the codec of each. An encode on its
// own makes ICU build a converter for every call, which costs more than the rest of a record's
// road; for the single-byte code pages this keeps one encoder instead. Their encoder holds nothing
// from one text to the next but a lone high surrogate at a text's end, so such a text is encoded
// on its own: the bytes are always those an encode on its own gives. A text of printable ASCII
// alone goes through no converter at all where the code page keeps those characters as they are.
class TextFieldEncoder
{
public:
    TextFieldEncoder();
    ~TextFieldEncoder();
    TextFieldEncoder(const TextFieldEncoder &) = delete;
    TextFieldEncoder &operator=(const TextFieldEncoder &) = delete;

    // Appends the encoded text to `target`.
    void append(QByteArray &target, QTextCodec *codec, const QString &text);

private:
    QTextCodec *current = nullptr;
    std::unique_ptr<QTextEncoder> encoder;
    bool keepsAscii = false;
};
