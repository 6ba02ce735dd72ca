#pragma once

#include "PHandleSet.h"
#include "ZeroPages.h"

#include <QObject>
#include <QStringList>

class PProgressSink;
class PRequestReader;
class QTextCodec;

// The command layer of one terminal session: takes one request payload at a time, answers it in
// its reply buffer and writes one debug-log entry per command. It keeps what the terminal opened
// (files, searches, SQL bases, temporary files) from request to request.
//
// How a session thread drives it:
//   VorelProtocol protocol;                    // built with the session
//   protocol.setSession(sink);                 // optional: where progress and messages go
//   if (!protocol.isReady()) end the session;  // the buffers could not be had
//   loop: read a packet into the receive buffer, then
//         if (!protocol.processCommand(payload, length)) end the session;  // no reply is sent
//         send protocol.reply(), protocol.replySize() bytes, as one packet
//   protocol.cleanup();                        // after the loop, however it ended
// Only the session thread may call it once it is built; the object is not reused after cleanup.
class VorelProtocol : public QObject
{
public:
    // Far above what a terminal registers; SetTemporaryFile answers 0 past it.
    static constexpr int kMaxTemporaryFiles = 256;
    // The largest packet payload, which bounds every count of the file commands.
    static constexpr qint32 kMaxPayload = qint32(platform::kMaxRequest);
    // Each buffer is three times the largest packet payload.
    static constexpr quint32 kBufferSize = 3 * platform::kMaxRequest;
    // ReadFileText answers hex text, two characters per byte: this many bytes keep the reply
    // (8 + 2 x count) within the largest payload.
    static constexpr qint32 kMaxTextRead = (kMaxPayload - 8) / 2;
    // The largest reply (ReadFile: 8 bytes and a whole payload) and the largest block of file
    // data (decoded or to be encoded) fit either buffer.
    static_assert(kBufferSize >= 8 + platform::kMaxRequest, "the largest reply fits");
    static_assert(8 + 2 * kMaxTextRead <= kMaxPayload, "ReadFileText's reply is one payload");

    // How far into a memory page ReadFile's data (8 bytes behind the reply's start) begin.
    // The kernel copies file pages into the reply and the reply into the socket; on some
    // processors such a copy runs at a quarter of its speed when its destination lies a few
    // bytes past its source within a page, as it does with the data at the page start + 8
    // and file pages read from a block boundary. 64 keeps both copies at full speed.
    static constexpr std::size_t kReadDataInPage = 64;

    VorelProtocol();
    ~VorelProtocol() override;
    VorelProtocol(const VorelProtocol &) = delete;
    VorelProtocol &operator=(const VorelProtocol &) = delete;

    // False when the buffers could not be allocated: such a layer answers nothing.
    bool isReady() const { return replyBuffer && workBuffer; }

    // Handles one request payload of `length` bytes; nothing outside it is read. True: the reply
    // is at reply(), replySize() bytes long. False: the name is no command (or the layer is not
    // ready); no reply was made and the session must end. The reply stays valid until the next
    // call; the payload is not kept, so the caller may reuse its buffer at once.
    bool processCommand(const char *request, quint32 length);
    const char *reply() const { return replyBuffer.get(); }
    quint32 replySize() const { return replyLength; }

    // End of session: closes every search, file and SQL base and removes the temporary files
    // the terminal registered, each once.
    void cleanup();

    // Progress and messages of SetIndicator, SetMessage and the conversions; null for none.
    void setSession(PProgressSink *sink);
    // The V3 sort flag of SetFuture SetSortV3Table, read by the V3 conversion.
    bool isSortV3Table() const { return sortV3Table; }

    // The GetFuture lookup: true with the answer for a known key.
    bool futureValue(const QString &key, QString &answer) const;

private:
    PRequestReader arguments() const;
    QString terminalText(const QByteArray &bytes) const;
    bool registerTemporaryFile(const QString &name);
    // Puts a text as the search commands answer it at `at`: word n + 2, n bytes, two zero
    // bytes; returns n + 6.
    quint32 putNameText(char *at, const QString &text) const;

    void Connect();
    void GetFuture();
    void SetFuture();
    void GetDelimeter();

    void OpenFile();
    void CloseFile();
    void ReadFile();
    void ReadFileText();
    void WriteFile();
    void WriteFileText();
    void SeekFile();
    void TrimFile();
    void LengthFile();
    void writeFrom(const char *log, bool hexText);

    void ExistFile();
    void ExistDir();
    void CreateFile();
    void DeleteFile();
    void CreateDir();
    void DeleteDir();
    void GetFileDate();
    void FindFirstFile();
    void FindNextFile();
    void FindFirstDir();
    void FindNextDir();
    void FindClose();
    void pathCommand(const char *log, bool (*action)(const QString &path));

    void OpenSqlBase();
    void CloseSqlBase();
    void SetIndicator();
    void SetMessage();
    void ConvertTableBinToText();
    void ConvertTableTextToBin();
    void ConvertSqlTableTextToBin();
    void ConvertTableV3TextToBin();
    void ExecuteCommand();
    void conversionDone(const char *log, const QString &first, const QString &second, bool ok);

    struct Command
    {
        const char *name;
        void (VorelProtocol::*handler)();
    };
    static const Command commands[36];

    const char *args = nullptr;
    const char *argsEnd = nullptr;
    PHandleSet handles;
    platform::ZeroPages workBuffer;
    PProgressSink *session = nullptr;
    QTextCodec *tableCodec = nullptr;
    QTextCodec *terminalCodec = nullptr;
    QStringList temporaryFiles;
    // The reply's pages, one more than it needs, and where in them it starts (see kReadDataInPage).
    struct ReplyBuffer
    {
        platform::ZeroPages pages;
        char *start = nullptr;
        char *get() const { return start; }
        explicit operator bool() const { return start != nullptr; }
    };
    ReplyBuffer replyBuffer;
    quint32 replyLength = 0;
    bool sortV3Table = false;
};
