#include "VorelProtocol.h"

#include "CodecLookup.h"
#include "FileGuard.h"
#include "Helpers.h"
#include "PDebugLog.h"
#include "PRequestReader.h"
#include "PSettings.h"
#include "TerminalPath.h"
#include "Version.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextCodec>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// A codec that the settings name but this machine lacks must not leave the session without
// one: every string argument is decoded with it.
QTextCodec *codecNamed(const QString &name)
{
    if (QTextCodec *codec = QTextCodec::codecForName(name.toLatin1()))
        return codec;
    if (QTextCodec *codec = QTextCodec::codecForName("CP1251"))
        return codec;
    return QTextCodec::codecForName("ISO-8859-1");
}

bool isPrintableAscii(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c < 0x20 || c >= 0x7F)
            return false;
    }
    return true;
}

// True when the code page reads printable ASCII as itself. Asked once of each code page a
// session uses (the last one that did and the last one that did not are kept); only the
// single-byte code pages are asked, which hold no state from one character to the next.
bool readsAsciiAsItself(QTextCodec *codec)
{
    static std::atomic<QTextCodec *> does{nullptr};
    static std::atomic<QTextCodec *> doesNot{nullptr};
    if (codec == does.load())
        return true;
    if (codec == doesNot.load())
        return false;
    QByteArray ascii;
    for (char c = 0x20; c < 0x7F; ++c)
        ascii += c;
    const bool reads = isSingleByteCodePage(codec) && codec->toUnicode(ascii) == QLatin1String(ascii);
    (reads ? does : doesNot).store(codec);
    return reads;
}

} // namespace

// In the order in which names are compared; the first equal one wins.
const VorelProtocol::Command VorelProtocol::commands[36] = {
    {"CONNECT", &VorelProtocol::Connect},
    {"OpenFile", &VorelProtocol::OpenFile},
    {"OpenSqlBase", &VorelProtocol::OpenSqlBase},
    {"CloseFile", &VorelProtocol::CloseFile},
    {"SetFuture", &VorelProtocol::SetFuture},
    {"GetFuture", &VorelProtocol::GetFuture},
    {"CloseSqlBase", &VorelProtocol::CloseSqlBase},
    {"ReadFile", &VorelProtocol::ReadFile},
    {"ReadFileText", &VorelProtocol::ReadFileText},
    {"WriteFile", &VorelProtocol::WriteFile},
    {"WriteFileText", &VorelProtocol::WriteFileText},
    {"ExistFile", &VorelProtocol::ExistFile},
    {"ExistDir", &VorelProtocol::ExistDir},
    {"SeekFile", &VorelProtocol::SeekFile},
    {"DeleteFile", &VorelProtocol::DeleteFile},
    {"CreateFile", &VorelProtocol::CreateFile},
    {"DeleteDir", &VorelProtocol::DeleteDir},
    {"CreateDir", &VorelProtocol::CreateDir},
    {"LengthFile", &VorelProtocol::LengthFile},
    {"TrimFile", &VorelProtocol::TrimFile},
    {"FindFirstFile", &VorelProtocol::FindFirstFile},
    {"FindNextFile", &VorelProtocol::FindNextFile},
    {"FindFirstFileFull", &VorelProtocol::FindFirstFile},
    {"FindNextFileFull", &VorelProtocol::FindNextFile},
    {"FindFirstDir", &VorelProtocol::FindFirstDir},
    {"FindNextDir", &VorelProtocol::FindNextDir},
    {"FindClose", &VorelProtocol::FindClose},
    {"SetIndicator", &VorelProtocol::SetIndicator},
    {"SetMessage", &VorelProtocol::SetMessage},
    {"ConvertTableBinToText", &VorelProtocol::ConvertTableBinToText},
    {"ConvertTableTextToBin", &VorelProtocol::ConvertTableTextToBin},
    {"ConvertSqlTableTextToBin", &VorelProtocol::ConvertSqlTableTextToBin},
    {"ConvertTableV3TextToBin", &VorelProtocol::ConvertTableV3TextToBin},
    {"ExecuteCommand", &VorelProtocol::ExecuteCommand},
    {"GetDelimeter", &VorelProtocol::GetDelimeter},
    {"GetFileDate", &VorelProtocol::GetFileDate},
};

// Untouched zero pages until used: an idle session costs next to no memory.
VorelProtocol::VorelProtocol()
    : workBuffer(kBufferSize)
{
    handles.clear();
    // A page more than the reply needs, so that it can start where ReadFile's data want to be.
    constexpr std::size_t kPage = 4096;
    replyBuffer.pages = platform::ZeroPages(kBufferSize + kPage);
    if (replyBuffer.pages) {
        const std::size_t dataAt = std::size_t(reinterpret_cast<std::uintptr_t>(replyBuffer.pages.get()) + 8) % kPage;
        replyBuffer.start = replyBuffer.pages.get() + (kReadDataInPage + kPage - dataAt) % kPage;
    }
    const PSettings current = settings.snapshot();
    tableCodec = codecNamed(current.tableCharset);
    terminalCodec = codecNamed(current.terminalCharset);
}

VorelProtocol::~VorelProtocol() = default;

void VorelProtocol::setSession(PProgressSink *sink)
{
    session = sink;
    handles.session = sink;
    handles.sqlList.session = sink;
}

bool VorelProtocol::processCommand(const char *request, quint32 length)
{
    if (!isReady() || !request || length == 0)
        return false;
    const char *end = request + length;
    const char *nul = static_cast<const char *>(std::memchr(request, 0, length));
    const std::size_t nameLength = std::size_t((nul ? nul : end) - request);
    if (nameLength == 0)
        return false;
    for (const Command &command : commands) {
        if (std::strlen(command.name) == nameLength
            && std::memcmp(command.name, request, nameLength) == 0) {
            args = nul ? nul + 1 : end;
            argsEnd = end;
            (this->*command.handler)();
            // The payload belongs to the caller and is gone by the next request.
            args = argsEnd = nullptr;
            return true;
        }
    }
    return false;
}

PRequestReader VorelProtocol::arguments() const
{
    return PRequestReader(args, argsEnd);
}

QString VorelProtocol::terminalText(const QByteArray &bytes) const
{
    // Nearly every path and name a terminal sends is printable ASCII. A code page that reads
    // such text as itself needs no converter for it, where ICU would build one for every text
    // under a lock that every session shares.
    if (!bytes.isEmpty() && isPrintableAscii(bytes) && readsAsciiAsItself(terminalCodec))
        return QString::fromLatin1(bytes.constData(), bytes.size());
    return terminalCodec->toUnicode(bytes);
}

quint32 VorelProtocol::putNameText(char *at, const QString &text) const
{
    const QByteArray bytes = terminalCodec->fromUnicode(text);
    const quint32 n = quint32(bytes.size());
    writeUInt32BE(at, n + 2);
    std::memcpy(at + 4, bytes.constData(), n);
    at[4 + n] = 0;
    at[5 + n] = 0;
    return n + 6;
}

void VorelProtocol::Connect()
{
    std::memcpy(replyBuffer.get(), "OK", 3);
    replyLength = 2;
    debugWrite(QStringLiteral("CONNECT request: OK"));
}

bool VorelProtocol::futureValue(const QString &key, QString &answer) const
{
    answer.clear();
    const PSettings current = settings.snapshot();
    if (key == QLatin1String("ServerVersion"))
        answer = versionText;
    else if (key == QLatin1String("ServerName"))
        answer = QStringLiteral("VorelServer");
    else if (key == QLatin1String("GetTransmitLength"))
        answer = numberToString(kMaxPayload);
    else if (key == QLatin1String("GetDelimeter"))
        answer = numberToString(current.tableDelimeter);
    else if (key == QLatin1String("GetCodePage"))
        answer = current.tableCharset;
    else
        return false;
    return true;
}

void VorelProtocol::GetFuture()
{
    PRequestReader in = arguments();
    const QString key = QString::fromUtf8(in.string());
    QString answer;
    const bool ok = futureValue(key, answer);
    // The answers come from the program and its settings, yet they must fit the reply all the same.
    const QByteArray bytes = answer.toLatin1().left(int(kBufferSize - 8));
    char *reply = replyBuffer.get();
    writeBoolBE(reply, ok);
    writeUInt32BE(reply + 4, quint32(bytes.size()));
    std::memcpy(reply + 8, bytes.constData(), size_t(bytes.size()));
    replyLength = 8 + quint32(bytes.size());
    debugWrite(QLatin1String("GetFuture (") + key + QLatin1String(")\nresult = ")
               + QLatin1String(ok ? "1" : "0") + QLatin1String(" answer = ") + answer);
}

void VorelProtocol::SetFuture()
{
    PRequestReader in = arguments();
    const QString key = terminalText(in.string());
    const QString value = terminalText(in.string());
    bool ok = true;
    if (key == QLatin1String("TerminalEncode")) {
        QTextCodec *codec = QTextCodec::codecForName(value.toLatin1());
        ok = codec != nullptr;
        if (codec)
            terminalCodec = codec;
    } else if (key == QLatin1String("SetTemporaryFile")) {
        ok = registerTemporaryFile(value);
    } else if (key == QLatin1String("SetSortV3Table")) {
        if (value == QLatin1String("1"))
            sortV3Table = true;
    } else {
        ok = false;
    }
    writeBoolBE(replyBuffer.get(), ok);
    replyLength = 4;
    debugWrite(QLatin1String("SetFuture (") + key + QLatin1String(", ") + value
               + QLatin1String(")\nresult = ") + QLatin1String(ok ? "1" : "0"));
}

// What a session keeps of its temporary files stays small whatever it sends: a name that no
// path can be is refused, a name given again is kept once, and past kMaxTemporaryFiles names
// the registration is refused. The names are mapped again at the end of the session.
bool VorelProtocol::registerTemporaryFile(const QString &name)
{
    if (temporaryFiles.contains(name))
        return true;
    // A drive letter and its colon are all that mapping takes from a plain path; a longer name
    // is refused before it is mapped, however it would map.
    if (temporaryFiles.size() >= kMaxTemporaryFiles || QFile::encodeName(name).size() >= PATH_MAX + 2)
        return false;
    QString path;
    if (platform::mapTerminalPath(name, path) && QFile::encodeName(path).size() >= PATH_MAX)
        return false;
    temporaryFiles.append(name);
    return true;
}

void VorelProtocol::GetDelimeter()
{
    const qint32 delimiter = settings.snapshot().tableDelimeter;
    writeBoolBE(replyBuffer.get(), 1);
    writeUInt32BE(replyBuffer.get() + 4, quint32(delimiter));
    replyLength = 8;
    debugWrite(QLatin1String("GetDelimeter ()\nresult = 1 delim = ") + numberToString(delimiter));
}

void VorelProtocol::cleanup()
{
    handles.clear();
    for (const QString &name : qAsConst(temporaryFiles)) {
        QString path;
        if (!platform::mapTerminalPath(name, path) || path.isEmpty() || !QFile::exists(path))
            continue;
        // A file that another session holds open stays, as it would on Windows, and so does a
        // read-only one; the log names only the files that went.
        if (platform::removeUnheldFile(path))
            debugWrite(QCoreApplication::translate("QObject", "Remove temporary file %1").arg(name));
    }
    temporaryFiles.clear();
}
