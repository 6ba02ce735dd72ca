#pragma once

#include <QString>

class QTextCodec;

// The codec a setting names (tableCharset, terminalCharset), or null when there is none. Qt asks
// ICU to normalise the name at every lookup, which costs more than decoding a line; the answer
// for a name never changes, so the last name and its codec are kept per thread.
QTextCodec *lookUpCodec(const QString &name);
