#include "PathFunctions.h"

#include "FileGuard.h"
#include "TerminalPath.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

bool createFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (QFile::exists(path)) {
        // Windows refuses to remove a read-only file or one that is held open; the terminals
        // count on that. Nor does it make a file in place of a device.
        if (!platform::isRegularFile(path) || platform::isReadOnlyFile(path)
            || !platform::removeUnheldFile(path))
            return false;
    }
    QFile file;
    return platform::openRegularFile(file, path, QIODevice::ReadWrite);
}

bool fileDateText(const QString &path, QString &text)
{
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    text = QFileInfo(path).lastModified().toString(QStringLiteral("hh:mm:ss dd.MM.yyyy"));
    return true;
}
