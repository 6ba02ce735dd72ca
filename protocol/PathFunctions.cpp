#include "PathFunctions.h"

#include "FileGuard.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

bool createFile(const QString &path)
{
    // Windows refuses to remove a read-only file or one that is held open, and the terminals
    // count on that; nor does it make a file in place of a device. The file guard keeps those
    // rules, and empties nothing that another session made and holds meanwhile.
    QFile file;
    return platform::replaceRegularFile(file, path, QIODevice::ReadWrite);
}

bool fileDateText(const QString &path, QString &text)
{
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    text = QFileInfo(path).lastModified().toString(QStringLiteral("hh:mm:ss dd.MM.yyyy"));
    return true;
}
