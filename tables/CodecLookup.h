#pragma once

#include <QString>

class QTextCodec;

// The codec a setting names (tableCharset, terminalCharset), or null when there is none. Qt asks
// ICU to normalise the name at every lookup, which costs more than decoding a line; the answer
// for a name never changes, so the last name and its codec are kept per thread.
QTextCodec *lookUpCodec(const QString &name);

// True for the single-byte code pages (ISO-8859, windows-125x, KOI8, IBM866): their converters
// hold no state from one text to the next but a lone high surrogate at a text's end.
bool isSingleByteCodePage(const QTextCodec *codec);
