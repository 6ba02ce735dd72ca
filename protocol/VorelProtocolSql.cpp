// The SQL-base, conversion, indicator, message and program commands. They are known names, so
// the session goes on; until their back ends are built each reads its arguments, answers the
// result word 0 in its usual reply layout and writes its usual log entry.

#include "VorelProtocol.h"

#include "Helpers.h"
#include "PDebugLog.h"
#include "PRequestReader.h"

namespace {

const QLatin1String kFailed(")\nresult = 0");

} // namespace

void VorelProtocol::OpenSqlBase()
{
    PRequestReader in = arguments();
    const QString name = QString::fromUtf8(in.string());
    writeBoolBE(replyBuffer.get(), 0);
    writeUInt32BE(replyBuffer.get() + 4, 0);
    replyLength = 8;
    debugWrite(QLatin1String("OpenSqlBase (") + name + kFailed + QLatin1String(" handle = 0"));
}

void VorelProtocol::CloseSqlBase()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    writeBoolBE(replyBuffer.get(), 0);
    replyLength = 4;
    debugWrite(QLatin1String("CloseSqlBase (") + numberToString(handle) + kFailed);
}

void VorelProtocol::SetIndicator()
{
    PRequestReader in = arguments();
    const qint32 value = in.word();
    writeBoolBE(replyBuffer.get(), 0);
    replyLength = 4;
    debugWrite(QLatin1String("SetIndicator (") + numberToString(value) + kFailed);
}

void VorelProtocol::SetMessage()
{
    PRequestReader in = arguments();
    const QString text = terminalText(in.string());
    writeBoolBE(replyBuffer.get(), 0);
    replyLength = 4;
    debugWrite(QLatin1String("SetMessage (") + text + kFailed);
}

void VorelProtocol::ConvertTableBinToText()
{
    twoNameCommand("ConvertTableBinToText");
}

void VorelProtocol::ConvertTableTextToBin()
{
    twoNameCommand("ConvertTableTextToBin");
}

void VorelProtocol::ConvertSqlTableTextToBin()
{
    twoNameCommand("ConvertSqlTableTextToBin");
}

void VorelProtocol::ConvertTableV3TextToBin()
{
    // Logged under the name the V3 conversion has always had in the log.
    twoNameCommand("ConvertTableTextToBinV3");
}

// The conversions: two names, logged in the order of the request.
void VorelProtocol::twoNameCommand(const char *log)
{
    PRequestReader in = arguments();
    const QString first = terminalText(in.string());
    const QString second = terminalText(in.string());
    writeBoolBE(replyBuffer.get(), 0);
    replyLength = 4;
    debugWrite(QLatin1String(log) + QLatin1String(" (") + first + QLatin1String(", ") + second
               + kFailed);
}

void VorelProtocol::ExecuteCommand()
{
    PRequestReader in = arguments();
    const QString program = terminalText(in.string());
    const QString parameters = terminalText(in.string());
    const qint32 wait = in.word();
    writeBoolBE(replyBuffer.get(), 0);
    writeUInt32BE(replyBuffer.get() + 4, 0);
    replyLength = 8;
    debugWrite(QLatin1String("ExecuteCommand (") + program + QLatin1String(", ") + parameters
               + QLatin1String(", ") + QLatin1String(wait != 0 ? "1" : "0") + kFailed);
}
