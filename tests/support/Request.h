#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A request as a terminal packs it: the name, NUL, then the arguments.
class Request
{
public:
    explicit Request(const char *name);
    Request &str(const QByteArray &text);
    Request &str(const QString &text) { return str(text.toLatin1()); }
    Request &str(const char *text) { return str(QByteArray(text)); }
    Request &word(quint32 value);
    Request &raw(const QByteArray &bytes);
    const QByteArray &bytes() const { return payload; }
    operator QByteArray() const { return payload; }

private:
    QByteArray payload;
};

// Bytes from hex text; blanks are for reading and are skipped.
QByteArray hex(const char *text);
// "/tmp/x/a.txt" as a terminal writes it: "C:\tmp\x\a.txt".
QString terminalPath(const QString &localPath);
