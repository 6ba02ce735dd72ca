#include "Request.h"

#include "Helpers.h"

Request::Request(const char *name)
{
    payload.append(name);
    payload.append('\0');
}

Request &Request::str(const QByteArray &text)
{
    payload.append(text);
    payload.append('\0');
    return *this;
}

Request &Request::word(quint32 value)
{
    char bytes[4];
    writeUInt32BE(bytes, value);
    payload.append(bytes, 4);
    return *this;
}

Request &Request::raw(const QByteArray &bytes)
{
    payload.append(bytes);
    return *this;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QString terminalPath(const QString &localPath)
{
    return QStringLiteral("C:") + QString(localPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}
