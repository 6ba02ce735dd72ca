#include "PathFunctions.h"

#include "TerminalPath.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

bool createFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (QFile::exists(path)) {
        // Windows refuses to remove a read-only file; the terminals count on that.
        if (platform::isReadOnlyFile(path) || !QFile::remove(path))
            return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    file.close();
    return true;
}

bool fileDateText(const QString &path, QString &text)
{
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    text = QFileInfo(path).lastModified().toString(QStringLiteral("hh:mm:ss dd.MM.yyyy"));
    return true;
}
