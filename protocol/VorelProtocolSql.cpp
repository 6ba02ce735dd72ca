// The SQL-base, conversion, indicator, message and program commands.

#include "VorelProtocol.h"

#include "ExecuteCommand.h"
#include "Helpers.h"
#include "PDebugLog.h"
#include "PProgressSink.h"
#include "PRequestReader.h"
#include "ResourceLimits.h"
#include "TerminalPath.h"

namespace {

// The most a conversion opens at once: its text file, the table's two files, a rollback journal
// and a sort's spill file.
constexpr int kConversionDescriptors = 5;

QLatin1String flag(bool ok)
{
    return QLatin1String(ok ? "1" : "0");
}

bool hasFolderPart(const QString &program)
{
    return program.contains(QLatin1Char('\\')) || program.contains(QLatin1Char('/'))
        || (program.size() >= 2 && program.at(1) == QLatin1Char(':'));
}

// A program named with a folder is a terminal path like any other; a bare name is looked up in
// the server's search path, as on Windows.
bool mapProgram(const QString &text, QString &program)
{
    if (!hasFolderPart(text)) {
        program = text;
        return !text.isEmpty();
    }
    return platform::mapTerminalPath(text, program) && !program.isEmpty();
}

} // namespace

void VorelProtocol::OpenSqlBase()
{
    PRequestReader in = arguments();
    const QString name = QString::fromUtf8(in.string());
    QString path;
    qint32 handle = 0;
    // A base, its journal or its write-ahead log and shared memory: three.
    const platform::DescriptorClaim descriptors(3);
    const bool ok = descriptors && platform::mapTerminalPath(name, path)
        && handles.sqlList.openSqlBase(path, handle);
    if (!ok)
        handle = 0;
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(handle));
    replyLength = 8;
    debugWrite(QLatin1String("OpenSqlBase (") + name + QLatin1String(")\nresult = ") + flag(ok)
               + QLatin1String(" handle = ") + numberToString(handle));
}

void VorelProtocol::CloseSqlBase()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const bool ok = !in.isMalformed() && handles.sqlList.closeSqlBase(handle);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String("CloseSqlBase (") + numberToString(handle) + QLatin1String(")\nresult = ")
               + flag(ok));
}

void VorelProtocol::SetIndicator()
{
    PRequestReader in = arguments();
    const qint32 value = in.word();
    // A request cut before its value carries no value to show.
    const bool ok = !in.isMalformed();
    if (ok && session)
        session->setIndicator(value);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String("SetIndicator (") + numberToString(value) + QLatin1String(")\nresult = ")
               + flag(ok));
}

void VorelProtocol::SetMessage()
{
    PRequestReader in = arguments();
    const QString text = terminalText(in.string());
    if (session)
        session->setMessage(text);
    writeBoolBE(replyBuffer.get(), 1);
    replyLength = 4;
    debugWrite(QLatin1String("SetMessage (") + text + QLatin1String(")\nresult = 1"));
}

void VorelProtocol::ConvertTableBinToText()
{
    PRequestReader in = arguments();
    const QString table = terminalText(in.string());
    const QString file = terminalText(in.string());
    QString tablePath;
    QString filePath;
    const platform::DescriptorClaim descriptors(kConversionDescriptors);
    const bool ok = descriptors && platform::mapTerminalPath(table, tablePath)
        && platform::mapTerminalPath(file, filePath) && handles.convertTableBinToText(tablePath, filePath);
    conversionDone("ConvertTableBinToText", table, file, ok);
}

void VorelProtocol::ConvertTableTextToBin()
{
    PRequestReader in = arguments();
    const QString file = terminalText(in.string());
    const QString table = terminalText(in.string());
    QString filePath;
    QString tablePath;
    const platform::DescriptorClaim descriptors(kConversionDescriptors);
    const bool ok = descriptors && platform::mapTerminalPath(file, filePath)
        && platform::mapTerminalPath(table, tablePath) && handles.convertTableTextToBin(filePath, tablePath);
    conversionDone("ConvertTableTextToBin", file, table, ok);
}

void VorelProtocol::ConvertSqlTableTextToBin()
{
    PRequestReader in = arguments();
    const QString file = terminalText(in.string());
    // A table of the current base: a name in SQL, not a path.
    const QString table = terminalText(in.string());
    QString filePath;
    const platform::DescriptorClaim descriptors(kConversionDescriptors);
    const bool ok = descriptors && platform::mapTerminalPath(file, filePath)
        && handles.convertSqlTableTextToBin(table, filePath);
    conversionDone("ConvertSqlTableTextToBin", file, table, ok);
}

void VorelProtocol::ConvertTableV3TextToBin()
{
    PRequestReader in = arguments();
    const QString file = terminalText(in.string());
    const QString table = terminalText(in.string());
    QString filePath;
    QString tablePath;
    handles.sqlList.sortV3Table = sortV3Table;
    const platform::DescriptorClaim descriptors(kConversionDescriptors);
    const bool ok = descriptors && platform::mapTerminalPath(file, filePath)
        && platform::mapTerminalPath(table, tablePath) && handles.convertTableV3TextToBin(filePath, tablePath);
    // Logged under the name the V3 conversion has always had in the log.
    conversionDone("ConvertTableTextToBinV3", file, table, ok);
}

// The reply and log entry of a conversion: the names as the terminal sent them, in its order.
void VorelProtocol::conversionDone(const char *log, const QString &first, const QString &second, bool ok)
{
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String(log) + QLatin1String(" (") + first + QLatin1String(", ") + second
               + QLatin1String(")\nresult = ") + flag(ok));
}

void VorelProtocol::ExecuteCommand()
{
    PRequestReader in = arguments();
    const QString program = terminalText(in.string());
    const QString parameters = terminalText(in.string());
    const qint32 wait = in.word();
    qint32 exitCode = 0;
    QString path;
    // A request cut before its wait flag does not say how to run the program: it runs not at all.
    // The null device and the start's report pipe.
    const platform::DescriptorClaim descriptors(3);
    const bool ok = !in.isMalformed() && descriptors && mapProgram(program, path)
        && platform::executeCommand(path, parameters, wait != 0, exitCode,
                                    [this]() { return session && session->stopRequested(); });
    if (!ok)
        exitCode = 0;
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(exitCode));
    replyLength = 8;
    debugWrite(QLatin1String("ExecuteCommand (") + program + QLatin1String(", ") + parameters
               + QLatin1String(", ") + flag(wait != 0) + QLatin1String(")\nresult = ") + flag(ok));
}
