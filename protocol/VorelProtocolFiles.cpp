// The file-handle commands: OpenFile hands out a number, the others work through it.

#include "VorelProtocol.h"

#include "Helpers.h"
#include "PDebugLog.h"
#include "PRequestReader.h"
#include "ResourceLimits.h"
#include "TerminalPath.h"

#include <QStringBuilder>

#include <charconv>
#include <initializer_list>

namespace {

// A command's log entry: "Name (a, b)\nresult = r", then " label = value" when there is a label.
// The file commands come at the pace of a terminal's reads and writes, so the text is put
// together on the stack and becomes a QString in one allocation, not one per piece.
QString entry(const char *name, std::initializer_list<qint64> arguments, bool ok, const char *label = nullptr,
              qint64 value = 0)
{
    char text[160];
    char *at = text;
    char *const end = text + sizeof text;
    const auto put = [&](const char *piece) {
        while (*piece && at < end)
            *at++ = *piece++;
    };
    const auto number = [&](qint64 n) { at = std::to_chars(at, end, n).ptr; };
    put(name);
    put(" (");
    const char *separator = "";
    for (const qint64 argument : arguments) {
        put(separator);
        number(argument);
        separator = ", ";
    }
    put(")\nresult = ");
    put(ok ? "1" : "0");
    if (label) {
        put(" ");
        put(label);
        put(" = ");
        number(value);
    }
    return QString::fromLatin1(text, int(at - text));
}

} // namespace

void VorelProtocol::OpenFile()
{
    PRequestReader in = arguments();
    const QString text = terminalText(in.string());
    QString path;
    qint32 handle = 0;
    const platform::DescriptorClaim descriptor(1);
    const bool ok = descriptor && platform::mapTerminalPath(text, path)
        && handles.fileList.openFile(path, handle);
    if (!ok)
        handle = 0;
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(handle));
    replyLength = 8;
    // In one allocation, as entry() does.
    char number[16];
    const char *numberEnd = std::to_chars(number, number + sizeof number, handle).ptr;
    debugWrite(QLatin1String("OpenFile (") % text % QLatin1String(")\nresult = ") % QLatin1String(ok ? "1" : "0")
               % QLatin1String(" handle = ") % QLatin1String(number, int(numberEnd - number)));
}

void VorelProtocol::CloseFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.closeFile(handle);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(entry("CloseFile", {handle}, ok));
}

void VorelProtocol::ReadFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 count = qMin(in.word(), kMaxPayload);
    char *reply = replyBuffer.get();
    qint64 read = 0;
    // The data land in the reply itself, behind its two words.
    const bool ok = !in.isMalformed() && handles.fileList.readFile(handle, reply + 8, count, read);
    writeBoolBE(reply, ok);
    writeUInt32BE(reply + 4, quint32(read));
    replyLength = 8 + quint32(read > 0 ? read : 0);
    debugWrite(entry("ReadFile", {handle, count}, ok, "read", read));
}

void VorelProtocol::ReadFileText()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    // Hex text doubles the data; this count keeps the reply within the largest payload.
    const qint32 count = qMin(in.word(), kMaxTextRead);
    char *reply = replyBuffer.get();
    qint64 read = 0;
    const bool ok =
        !in.isMalformed() && handles.fileList.readFile(handle, workBuffer.get(), count, read);
    writeBoolBE(reply, ok);
    writeUInt32BE(reply + 4, quint32(2 * read));
    if (read > 0)
        hexEncode(reply + 8, workBuffer.get(), int(read));
    replyLength = 8 + quint32(read > 0 ? 2 * read : 0);
    debugWrite(entry("ReadFileText", {handle, count}, ok, "read", read));
}

void VorelProtocol::WriteFile()
{
    writeFrom("WriteFile", false);
}

void VorelProtocol::WriteFileText()
{
    writeFrom("WriteFileText", true);
}

// WriteFile takes its data straight from the request, WriteFileText decodes hex text first.
// A count that asks for more than the payload carries is refused: the bytes behind the payload
// are an earlier request's.
void VorelProtocol::writeFrom(const char *log, bool hexText)
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 count = qMin(in.word(), kMaxPayload);
    qint64 written = 0;
    bool ok = false;
    const qint64 needed = hexText ? 2 * qint64(count) : qint64(count);
    if (!in.isMalformed() && needed <= in.remaining()) {
        const char *source = in.position();
        if (hexText && count > 0) {
            hexDecode(workBuffer.get(), source, count);
            source = workBuffer.get();
        }
        // Success means every byte reached the file; the count word tells how many did. A
        // refused write reports -1, which must not pass for a count of -1 written in full.
        ok = handles.fileList.writeFile(handle, source, count, written) && count >= 0
            && written == count;
    }
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, quint32(written));
    replyLength = 8;
    debugWrite(entry(log, {handle, count}, ok, "write", written));
}

void VorelProtocol::SeekFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 position = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.seekFile(handle, position);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(entry("SeekFile", {handle, position}, ok));
}

void VorelProtocol::TrimFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 size = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.trimFile(handle, size);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(entry("TrimFile", {handle, size}, ok));
}

void VorelProtocol::LengthFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint64 length = in.isMalformed() ? -1 : handles.fileList.lengthFile(handle);
    const bool ok = length >= 0;
    // Only the low 32 bits travel; a handle that is not open answers FF FF FF FF.
    const quint32 word = quint32(length);
    writeBoolBE(replyBuffer.get(), ok);
    writeUInt32BE(replyBuffer.get() + 4, word);
    replyLength = 8;
    debugWrite(entry("LengthFile", {handle}, ok, "length", qint32(word)));
}
