#pragma once

#include <QString>

class QTextCodec;

// The codec a setting names (tableCharset, terminalCharset), or null when there is none. The
// conversions look the name up for every line and field, so that a code page changed in the
// setup dialog applies at once; Qt asks ICU to normalise the name at every lookup, which costs
// more than decoding the line. The answer for a name never changes, so the last name and its
// codec are kept per thread and the setting is still read each time.
QTextCodec *lookUpCodec(const QString &name);
