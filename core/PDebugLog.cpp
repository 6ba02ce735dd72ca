#include "PDebugLog.h"

#include "FileLock.h"
#include "PlatformThread.h"
#include "Version.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cerrno>

PDebugLog::PDebugLog(const QString &fileName)
    : fileName(fileName)
{
}

QString timestampText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

bool PDebugLog::start()
{
    std::lock_guard<std::mutex> guard(lock);
    if (started)
        return true;
    file.setFileName(fileName);
    // Nobody would learn otherwise that the log asked for is not kept.
    const auto cannotOpen = [this]() {
        if (report)
            report(QStringLiteral("The debug log %1 cannot be opened (%2); no debug log is kept this run")
                       .arg(fileName, file.errorString()));
        file.close();
        return false;
    };
    if (!file.open(QIODevice::ReadWrite | QIODevice::Text))
        return cannotOpen();
    // On a file system that cannot lock, the log goes on unlocked as it always did.
    if (!platform::lockExclusively(file.handle()) && errno == EWOULDBLOCK) {
        file.close();
        if (report)
            report(QStringLiteral("The debug log %1 is in use by another running copy; no debug log "
                                  "is kept this run")
                       .arg(fileName));
        return false;
    }
    if (!file.resize(0))
        return cannotOpen();
    file.write("\xEF\xBB\xBF", 3);
    started = true;
    active = true;
    QString head = QCoreApplication::translate("QObject", "VorelServer version: %1").arg(versionText);
    head += QLatin1String(" (x64) edition\n\n");
    head += timestampText() + QLatin1String(" <<<")
        + QCoreApplication::translate("QObject", "Debug started") + QLatin1String(">>>\n");
    file.write(head.toUtf8());
    file.flush();
    return true;
}

void PDebugLog::stop()
{
    std::lock_guard<std::mutex> guard(lock);
    if (!started)
        return;
    const QString line = QLatin1Char('\n') + timestampText() + QLatin1String(" <<<")
        + QCoreApplication::translate("QObject", "Debug stopped") + QLatin1String(">>>\n");
    file.write(line.toUtf8());
    file.flush();
    file.close();
    started = false;
    active = false;
}

void PDebugLog::write(const QString &text)
{
    if (!active.load())
        return;
    std::lock_guard<std::mutex> guard(lock);
    if (!started)
        return;
    const QString entry = QLatin1Char('\n') + timestampText() + QLatin1Char(' ')
        + QCoreApplication::translate("QObject", "Session:") + QLatin1Char(' ')
        + QString::number(platform::currentThreadId(), 16).toUpper() + QLatin1Char('\n') + text
        + QLatin1Char('\n');
    file.write(entry.toUtf8());
    file.flush();
}

bool PDebugLog::isStarted() const
{
    std::lock_guard<std::mutex> guard(lock);
    return started;
}

void debugWrite(const QString &text)
{
    debugLog.write(text);
}
