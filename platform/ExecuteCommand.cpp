#include "ExecuteCommand.h"

#include <QProcess>
#include <QStringList>

namespace platform {

bool executeCommand(const QString &program, const QString &parameters, bool wait, qint32 &exitCode)
{
    if (const ProgramRunner runner = detail::programRunner.load())
        return runner(program, parameters, wait, exitCode);
    exitCode = 0;
    QProcess process;
    process.setProgram(program);
    process.setArguments(QStringList{parameters});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // The process object ends with this call and would kill a program it started itself.
    if (!wait)
        return process.startDetached();

    process.start();
    if (!process.waitForStarted(kProgramStartTimeoutMs))
        return false;
    process.waitForFinished(-1);
    if (process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit) {
        exitCode = process.exitCode();
        return true;
    }
    const int signal = process.exitCode();
    exitCode = signal > 0 ? -signal : -1;
    return true;
}

} // namespace platform
