#include "CodecLookup.h"

#include <QTextCodec>

QTextCodec *lookUpCodec(const QString &name)
{
    struct Last
    {
        QString name;
        QTextCodec *codec = nullptr;
        bool known = false;
    };
    thread_local Last last;
    if (!last.known || last.name != name) {
        last.codec = QTextCodec::codecForName(name.toLatin1());
        last.name = name;
        last.known = true;
    }
    return last.codec;
}

bool isSingleByteCodePage(const QTextCodec *codec)
{
    const int mib = codec->mibEnum();
    return (mib >= 5 && mib <= 12)      // ISO-8859-2 to ISO-8859-9
        || (mib >= 109 && mib <= 112)   // ISO-8859-13 to ISO-8859-16
        || (mib >= 2250 && mib <= 2258) // windows-1250 to windows-1258
        || mib == 2084 || mib == 2088   // KOI8-R, KOI8-U
        || mib == 2086;                 // IBM866
}
