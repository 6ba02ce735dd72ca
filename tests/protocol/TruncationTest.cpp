// Every request cut at every byte: the layer reads only the payload it was given, answers a
// request whose integers are incomplete with failure in the usual layout, and changes nothing.

#include "ProtocolFixture.h"

#include "PDebugLog.h"

#include <QDir>
#include <QFile>

#include <map>

namespace {

const char *const kNames[] = {
    "CONNECT", "OpenFile", "OpenSqlBase", "CloseFile", "SetFuture", "GetFuture", "CloseSqlBase",
    "ReadFile", "ReadFileText", "WriteFile", "WriteFileText", "ExistFile", "ExistDir", "SeekFile",
    "DeleteFile", "CreateFile", "DeleteDir", "CreateDir", "LengthFile", "TrimFile",
    "FindFirstFile", "FindNextFile", "FindFirstFileFull", "FindNextFileFull", "FindFirstDir",
    "FindNextDir", "FindClose", "SetIndicator", "SetMessage", "ConvertTableBinToText",
    "ConvertTableTextToBin", "ConvertSqlTableTextToBin", "ConvertTableV3TextToBin",
    "ExecuteCommand", "GetDelimeter", "GetFileDate"};

bool isCommandName(const QByteArray &name)
{
    for (const char *known : kNames) {
        if (name == known)
            return true;
    }
    return false;
}

// What a command answers when an integer it needs is missing.
const std::map<QByteArray, QByteArray> &malformedReplies()
{
    static const std::map<QByteArray, QByteArray> replies = {
        {"CloseFile", hex("00000000")},
        {"ReadFile", hex("00000000 00000000")},
        {"ReadFileText", hex("00000000 00000000")},
        {"WriteFile", hex("00000000 00000000")},
        {"WriteFileText", hex("00000000 00000000")},
        {"SeekFile", hex("00000000")},
        {"TrimFile", hex("00000000")},
        {"LengthFile", hex("00000000 FFFFFFFF")},
        {"FindNextFile", hex("00000000 00000002 0000")},
        {"FindNextFileFull", hex("00000000 00000002 0000")},
        {"FindNextDir", hex("00000000 00000002 0000")},
        {"FindClose", hex("00000000")},
        {"CloseSqlBase", hex("00000000")},
        {"SetIndicator", hex("00000000")},
        {"ExecuteCommand", hex("00000000 00000000")},
    };
    return replies;
}

struct CutRow
{
    const char *label;
    Request request;
    // Requests that change the file system run once per cut; the others are also compared
    // with the same cut read from a buffer that holds the rest of the request behind it.
    bool changesFiles;
};

void PrintTo(const CutRow &row, std::ostream *out)
{
    *out << row.label;
}

class Truncation : public ProtocolTest, public ::testing::WithParamInterface<CutRow>
{
protected:
    static constexpr char kContent[] = "0123456789";

    void SetUp() override
    {
        ProtocolTest::SetUp();
        ASSERT_TRUE(writeAll(local("f.bin"), kContent));
        ASSERT_TRUE(writeAll(local("g.bin"), "g"));
        ASSERT_TRUE(QDir().mkdir(local("sub")));
        ASSERT_TRUE(QDir().mkdir(local("sub2")));
    }

    // A session with file handle 1 open on f.bin at position 0, file search 1 and directory
    // search 100001 each with one more name to give.
    void prepare(VorelProtocol &session)
    {
        ASSERT_EQ(sendExact(session, Request("OpenFile").str("f.bin").bytes()).bytes,
                  hex("00000001 00000001"));
        ASSERT_EQ(sendExact(session, Request("FindFirstFile").str("*.bin").bytes()).bytes.left(8),
                  hex("00000001 00000001"));
        ASSERT_EQ(sendExact(session, Request("FindFirstDir").str("sub*").bytes()).bytes.left(8),
                  hex("00000001 000186A1"));
        resetLog();
    }

    // Nothing that the cut request could have touched has changed.
    void expectUntouched(VorelProtocol &session, const std::string &where)
    {
        EXPECT_EQ(readAll(local("f.bin")), QByteArray(kContent)) << where;
        EXPECT_EQ(sendExact(session, Request("ReadFile").word(1).word(10).bytes()).bytes,
                  hex("00000001 0000000A") + kContent)
            << where;
        EXPECT_EQ(sendExact(session, Request("FindNextFile").word(1).bytes()).bytes.left(4),
                  hex("00000001"))
            << where;
        EXPECT_EQ(sendExact(session, Request("FindNextDir").word(100001).bytes()).bytes.left(4),
                  hex("00000001"))
            << where;
    }
};

constexpr char Truncation::kContent[];

} // namespace

TEST_P(Truncation, EveryCutIsReadInsideItsPayload)
{
    const QByteArray full = GetParam().request.bytes();
    const int nameLength = full.indexOf('\0');
    for (int cut = 0; cut < full.size(); ++cut) {
        const std::string where = std::string(GetParam().label) + " cut at " + std::to_string(cut);
        const QByteArray name = full.left(qMin(cut, nameLength));

        VorelProtocol exact;
        prepare(exact);
        const Reply reply = sendExact(exact, full, cut);
        const QStringList entries = logEntries();
        EXPECT_EQ(reply.known, cut > 0 && isCommandName(name)) << where;
        EXPECT_EQ(entries.size(), reply.known ? 1 : 0) << where;
        if (!reply.known)
            continue;

        const auto malformed = malformedReplies().find(name);
        if (malformed != malformedReplies().end()) {
            // Every request of these commands that is cut lacks an integer or its data.
            EXPECT_EQ(reply.bytes, malformed->second) << where;
            expectUntouched(exact, where);
        }
        if (GetParam().changesFiles)
            continue;

        resetLog();
        VorelProtocol stale;
        prepare(stale);
        const Reply again = sendWithStale(stale, full, cut);
        EXPECT_EQ(again.known, reply.known) << where;
        EXPECT_EQ(again.bytes, reply.bytes) << where;
        EXPECT_EQ(logEntries(), entries) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Truncation,
    ::testing::Values(
        CutRow{"CONNECT", Request("CONNECT"), false},
        CutRow{"GetFuture", Request("GetFuture").str("ServerName"), false},
        CutRow{"SetFuture", Request("SetFuture").str("TerminalEncode").str("UTF-8"), false},
        CutRow{"GetDelimeter", Request("GetDelimeter"), false},
        CutRow{"OpenFile", Request("OpenFile").str("g.bin"), false},
        CutRow{"CloseFile", Request("CloseFile").word(1), false},
        CutRow{"ReadFile", Request("ReadFile").word(1).word(4), false},
        CutRow{"ReadFileText", Request("ReadFileText").word(1).word(4), false},
        CutRow{"WriteFile", Request("WriteFile").word(1).word(4).raw("WXYZ"), false},
        CutRow{"WriteFileText", Request("WriteFileText").word(1).word(2).raw("5758"), false},
        CutRow{"SeekFile", Request("SeekFile").word(1).word(5), false},
        CutRow{"TrimFile", Request("TrimFile").word(1).word(3), false},
        CutRow{"LengthFile", Request("LengthFile").word(1), false},
        CutRow{"ExistFile", Request("ExistFile").str("g.bin"), false},
        CutRow{"ExistDir", Request("ExistDir").str("sub"), false},
        CutRow{"GetFileDate", Request("GetFileDate").str("g.bin"), false},
        CutRow{"FindFirstFile", Request("FindFirstFile").str("*.bin"), false},
        CutRow{"FindFirstFileFull", Request("FindFirstFileFull").str("g*"), false},
        CutRow{"FindFirstDir", Request("FindFirstDir").str("s*"), false},
        CutRow{"FindNextFile", Request("FindNextFile").word(1), false},
        CutRow{"FindNextFileFull", Request("FindNextFileFull").word(1), false},
        CutRow{"FindNextDir", Request("FindNextDir").word(100001), false},
        CutRow{"FindCloseFiles", Request("FindClose").word(1), false},
        CutRow{"FindCloseDirs", Request("FindClose").word(100001), false},
        CutRow{"CreateFile", Request("CreateFile").str("made\\new.bin"), true},
        CutRow{"DeleteFile", Request("DeleteFile").str("g.bin"), true},
        CutRow{"CreateDir", Request("CreateDir").str("made"), true},
        CutRow{"DeleteDir", Request("DeleteDir").str("sub2"), true},
        CutRow{"OpenSqlBase", Request("OpenSqlBase").str("base.db"), false},
        CutRow{"CloseSqlBase", Request("CloseSqlBase").word(1), false},
        CutRow{"SetIndicator", Request("SetIndicator").word(50), false},
        CutRow{"SetMessage", Request("SetMessage").str("text"), false},
        CutRow{"ConvertTableV3TextToBin", Request("ConvertTableV3TextToBin").str("a").str("b"), false},
        CutRow{"ExecuteCommand", Request("ExecuteCommand").str("p").str("q").word(1), false}),
    [](const ::testing::TestParamInfo<CutRow> &info) { return std::string(info.param.label); });
