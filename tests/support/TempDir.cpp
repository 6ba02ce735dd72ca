#include "TempDir.h"

#include <QDir>
#include <QFile>

TempDir::TempDir(bool enter)
{
    if (enter) {
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
}

TempDir::~TempDir()
{
    if (!previous.isEmpty())
        QDir::setCurrent(previous);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
