// The commands that name files and folders by path, and the folder searches.

#include "VorelProtocol.h"

#include "FileGuard.h"
#include "Helpers.h"
#include "PDebugLog.h"
#include "PRequestReader.h"
#include "PathFunctions.h"
#include "ResourceLimits.h"
#include "TerminalPath.h"

#include <QDir>
#include <QFile>

namespace {

// Directory searches travel with this added, so that FindClose can tell them from file searches.
constexpr qint64 kDirHandleOffset = 100000;

QLatin1String flag(bool ok)
{
    return QLatin1String(ok ? "1" : "0");
}

bool existFile(const QString &path)
{
    return !path.isEmpty() && QFile::exists(path);
}

// An empty path names the working folder.
bool existDir(const QString &path)
{
    return QDir(path).exists();
}

bool deleteFile(const QString &path)
{
    // Windows refuses to remove a read-only file or one that is held open; the terminals count
    // on that, and the file guard keeps it.
    return !path.isEmpty() && platform::removeUnheldFile(path);
}

bool createDir(const QString &path)
{
    return !path.isEmpty() && QDir().mkdir(path);
}

bool deleteDir(const QString &path)
{
    return !path.isEmpty() && QDir().rmdir(path);
}

} // namespace

void VorelProtocol::pathCommand(const char *log, bool (*action)(const QString &path))
{
    PRequestReader in = arguments();
    const QString text = terminalText(in.string());
    QString path;
    const bool ok = platform::mapTerminalPath(text, path) && action(path);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String(log) + QLatin1String(" (") + text + QLatin1String(")\nresult = ")
               + flag(ok));
}

void VorelProtocol::ExistFile()
{
    pathCommand("ExistFile", existFile);
}

void VorelProtocol::ExistDir()
{
    pathCommand("ExistDir", existDir);
}

void VorelProtocol::CreateFile()
{
    pathCommand("CreateFile", [](const QString &path) {
        const platform::DescriptorClaim descriptor(1);
        return descriptor && createFile(path);
    });
}

void VorelProtocol::DeleteFile()
{
    pathCommand("DeleteFile", deleteFile);
}

void VorelProtocol::CreateDir()
{
    pathCommand("CreateDir", createDir);
}

void VorelProtocol::DeleteDir()
{
    pathCommand("DeleteDir", deleteDir);
}

void VorelProtocol::GetFileDate()
{
    PRequestReader in = arguments();
    const QString text = terminalText(in.string());
    QString path;
    QString date;
    const bool ok = platform::mapTerminalPath(text, path) && fileDateText(path, date);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4 + putNameText(replyBuffer.get() + 4, date);
    debugWrite(QLatin1String("GetFileDate (") + text + QLatin1String(")\nresult = ") + flag(ok)
               + QLatin1String(", date = ") + date);
}

void VorelProtocol::FindFirstFile()
{
    PRequestReader in = arguments();
    const QString pattern = terminalText(in.string());
    QString folder;
    QString filter;
    // A UNC pattern, or no descriptor to list with: a search that finds nothing.
    const platform::DescriptorClaim descriptor(1);
    if (!platform::mapTerminalPattern(pattern, folder, filter) || !descriptor)
        folder.clear();
    QString name;
    qint32 handle = 0;
    const bool ok =
        handles.findFiles.findFirst(folder, filter, name, handle, platform::EntryKind::Files);
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(handle));
    replyLength = 8 + putNameText(replyBuffer.get() + 8, name);
    debugWrite(QLatin1String("FindFirstFile (") + pattern + QLatin1String(")\nresult = ")
               + flag(ok) + QLatin1String(", handle = ") + numberToString(handle)
               + QLatin1String(", name = ") + name);
}

void VorelProtocol::FindFirstDir()
{
    PRequestReader in = arguments();
    const QString pattern = terminalText(in.string());
    QString folder;
    QString filter;
    const platform::DescriptorClaim descriptor(1);
    if (!platform::mapTerminalPattern(pattern, folder, filter) || !descriptor)
        folder.clear();
    QString name;
    qint32 number = 0;
    const bool ok =
        handles.findDirs.findFirst(folder, filter, name, number, platform::EntryKind::Dirs);
    // A search that found nothing answers its bare number, without the offset.
    const qint32 handle = qint32(quint32(ok ? number + kDirHandleOffset : number));
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(handle));
    replyLength = 8 + putNameText(replyBuffer.get() + 8, name);
    debugWrite(QLatin1String("FindFirstDir (") + pattern + QLatin1String(")\nresult = ")
               + flag(ok) + QLatin1String(", handle = ") + numberToString(handle)
               + QLatin1String(", name = ") + name);
}

void VorelProtocol::FindNextFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    QString name;
    const bool ok = !in.isMalformed() && handles.findFiles.findNext(handle, name);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4 + putNameText(replyBuffer.get() + 4, name);
    debugWrite(QLatin1String("FindNextFile (") + numberToString(handle)
               + QLatin1String(")\nresult = ") + flag(ok) + QLatin1String(", name = ") + name);
}

void VorelProtocol::FindNextDir()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    // The offset comes off whatever the number; in 64 bits, so that no number wraps around.
    const qint64 number = qint64(handle) - kDirHandleOffset;
    QString name;
    const bool ok = !in.isMalformed() && number > 0
        && handles.findDirs.findNext(qint32(number), name);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4 + putNameText(replyBuffer.get() + 4, name);
    debugWrite(QLatin1String("FindNextDir (") + numberToString(handle)
               + QLatin1String(")\nresult = ") + flag(ok) + QLatin1String(", name = ") + name);
}

void VorelProtocol::FindClose()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    bool ok = false;
    if (!in.isMalformed()) {
        ok = handle >= kDirHandleOffset
            ? handles.findDirs.close(qint32(qint64(handle) - kDirHandleOffset))
            : handles.findFiles.close(handle);
    }
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String("FindClose (") + numberToString(handle)
               + QLatin1String(")\nresult = ") + flag(ok));
}
