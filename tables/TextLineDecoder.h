#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

#include <memory>

class QTextCodec;
class QTextDecoder;

// Decodes the lines of one text table file, and its delimiter byte, with the codec of each line.
// A decode on its own makes ICU build a converter for every call, which costs more than the rest
// of the line's road; for the common code pages this keeps one decoder for the whole file
// instead. Each line is whole (it ends with its line end, or the file does), and those code pages
// keep no state past a line end, so the text is the one a decode on its own gives.
class TextLineDecoder
{
public:
    TextLineDecoder();
    ~TextLineDecoder();
    TextLineDecoder(const TextLineDecoder &) = delete;
    TextLineDecoder &operator=(const TextLineDecoder &) = delete;

    QString decode(QTextCodec *codec, const QByteArray &line);
    // The delimiter as the text around it is read: the same character below 0x80, the code
    // page's own character above (0xB9 is "№" in CP1251); a byte the code page cannot read
    // alone keeps its Latin-1 meaning.
    QChar delimiter(QTextCodec *codec, char byte);

private:
    void use(QTextCodec *codec);

    QTextCodec *current = nullptr;
    std::unique_ptr<QTextDecoder> decoder;
    // The codec is used on its own for every line (see keepsNoStateAtLineEnd).
    bool stateless = false;
    char delimiterByte = 0;
    QChar delimiterChar;
    bool delimiterKnown = false;
};
