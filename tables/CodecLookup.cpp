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
