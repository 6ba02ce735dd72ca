// The file-handle commands: OpenFile hands out a number, the others work through it.

#include "VorelProtocol.h"

#include "Helpers.h"
#include "PDebugLog.h"
#include "PRequestReader.h"
#include "ResourceLimits.h"
#include "TerminalPath.h"

namespace {

QLatin1String flag(bool ok)
{
    return QLatin1String(ok ? "1" : "0");
}

QString twoNumbers(const char *name, qint32 first, qint32 second)
{
    return QLatin1String(name) + QLatin1String(" (") + numberToString(first) + QLatin1String(", ")
        + numberToString(second) + QLatin1String(")\nresult = ");
}

QString oneNumber(const char *name, qint32 value)
{
    return QLatin1String(name) + QLatin1String(" (") + numberToString(value)
        + QLatin1String(")\nresult = ");
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
    debugWrite(QLatin1String("OpenFile (") + text + QLatin1String(")\nresult = ") + flag(ok)
               + QLatin1String(" handle = ") + numberToString(handle));
}

void VorelProtocol::CloseFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.closeFile(handle);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(oneNumber("CloseFile", handle) + flag(ok));
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
    debugWrite(twoNumbers("ReadFile", handle, count) + flag(ok) + QLatin1String(" read = ")
               + int64ToString(read));
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
    debugWrite(twoNumbers("ReadFileText", handle, count) + flag(ok) + QLatin1String(" read = ")
               + int64ToString(read));
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
    debugWrite(twoNumbers(log, handle, count) + flag(ok) + QLatin1String(" write = ")
               + int64ToString(written));
}

void VorelProtocol::SeekFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 position = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.seekFile(handle, position);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(twoNumbers("SeekFile", handle, position) + flag(ok));
}

void VorelProtocol::TrimFile()
{
    PRequestReader in = arguments();
    const qint32 handle = in.word();
    const qint32 size = in.word();
    const bool ok = !in.isMalformed() && handles.fileList.trimFile(handle, size);
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(twoNumbers("TrimFile", handle, size) + flag(ok));
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
    debugWrite(oneNumber("LengthFile", handle) + flag(ok) + QLatin1String(" length = ")
               + numberToString(qint32(word)));
}
