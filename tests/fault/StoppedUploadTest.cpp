// Uploads into V3 and V4 tables that end before their last line: their terminal leaves, the
// program stops, or a write fails. A terminal that was told nothing was stored sends its upload
// again, so a stopped upload must leave the table as it found it; a failed write keeps what it
// stored before.

#include "FaultSupport.h"

#include "Helpers.h"
#include "TestSeams.h"

#include <QFileInfo>

#include <ostream>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

enum class Kind { V3, SortedV3, V4 };
enum class Ending { Reset, ProgramStop, FailedWrite };

struct UploadRow
{
    const char *name;
    Kind kind;
    Ending ending;
};

void PrintTo(const UploadRow &row, std::ostream *out)
{
    *out << row.name;
}

// A V3 record: a text of 12 bytes and a number with 2 decimals.
constexpr int kV3RecordLength = 16;
constexpr int kOldV3Records = 10;

QByteArray word(quint32 value)
{
    char bytes[4];
    writeUInt32BE(bytes, value);
    return QByteArray(bytes, 4);
}

class StoppedUpload : public FaultTest, public ::testing::WithParamInterface<UploadRow>
{
protected:
    void TearDown() override
    {
        platform::armWriteFaultForTesting(0);
        FaultTest::TearDown();
    }

    // Many lines: the upload is still under way when it is stopped, even in a fast build.
    static QByteArray lines(int count)
    {
        QByteArray text;
        text.reserve(count * 26);
        for (int i = 0; i < count; ++i)
            text += "item" + QByteArray::number(i) + ";" + QByteArray::number(i % 1000) + ".25;1,5\r\n";
        return text;
    }

    // A table that holds records already; the V4 index also ends in a stray part of an entry,
    // as a crash may leave it.
    static bool makeTable(Kind kind, const QString &table)
    {
        if (kind == Kind::V4) {
            QByteArray bin = goodsHeader();
            QByteArray ind;
            for (const QByteArray &record : {QByteArray("old one"), QByteArray("old two")}) {
                ind += word(quint32(bin.size())) + word(quint32(record.size() + 1));
                bin += record + '\0';
            }
            return writeAll(table + ".bin", bin) && writeAll(table + ".ind", ind + "\7\7\7");
        }
        QByteArray bin;
        for (int i = 0; i < kOldV3Records; ++i)
            bin += QByteArray("old record").leftJustified(12, ' ') + word(quint32(i));
        return writeAll(table + ".hdr", QByteArray("\x02\x01\x0C\x00\x00\x02\x02\x00\x00", 9))
            && writeAll(table + ".bin", bin);
    }

    static QString companion(Kind kind) { return kind == Kind::V4 ? QStringLiteral(".ind") : QStringLiteral(".hdr"); }
};

TEST_P(StoppedUpload, LeavesTheTableAsItWasUnlessAWriteFailed)
{
    const UploadRow &row = GetParam();
    const QString table = dir.file(QStringLiteral("GOODS"));
    const QString text = dir.file(QStringLiteral("LINES.TXT"));
    // The sorted upload reads every line before it writes a record.
    ASSERT_TRUE(writeAll(text, lines(row.kind == Kind::SortedV3 ? 300000 : 1000000)) && makeTable(row.kind, table));
    const QByteArray binBefore = readAll(table + ".bin");
    const QByteArray companionBefore = readAll(table + companion(row.kind));
    const QByteArray upload =
        Request(row.kind == Kind::V4 ? "ConvertTableTextToBin" : "ConvertTableV3TextToBin")
            .str(terminalPath(text))
            .str(terminalPath(table));
    if (row.ending == Ending::FailedWrite) {
        // V3: the fiftieth record; V4: the data of the fifth block.
        platform::armWriteFaultForTesting(row.kind == Kind::V4 ? 9 : 50);
    }
    markBaseline();

    Client terminal;
    QByteArray sortSet, reply;
    ASSERT_TRUE(runBeside([&]() {
        if (!terminal.connectTo(port))
            return;
        // An upload of many lines may take long in a sanitizer build on a loaded machine.
        const timeval patient{120, 0};
        ::setsockopt(terminal.fd(), SOL_SOCKET, SO_RCVTIMEO, &patient, sizeof patient);
        if (row.kind == Kind::SortedV3)
            sortSet = terminal.call(Request("SetFuture").str(QByteArray("SetSortV3Table")).str(QByteArray("1")));
        if (row.ending == Ending::FailedWrite)
            reply = terminal.call(upload);
        else
            terminal.sendPacket(upload);
    }, 150000));
    if (row.kind == Kind::SortedV3) {
        ASSERT_EQ(sortSet, hex("00000001"));
    }
    if (row.ending != Ending::FailedWrite) {
        // Stopped once the upload has stored records of its own: the table has grown.
        ASSERT_TRUE(waitFor([&]() { return QFileInfo(table + ".bin").size() > binBefore.size(); }, 60000));
        if (row.ending == Ending::Reset)
            resetConnection(terminal);
        else
            front.teardown();
    }
    terminal.close();
    ASSERT_TRUE(sessionsGone(60000));
    if (row.ending == Ending::ProgramStop) {
        // Started again, the program listens as before.
        server->start();
        ASSERT_TRUE(server->running);
    }
    expectNothingLeft();

    const QByteArray binAfter = readAll(table + ".bin");
    const QByteArray companionAfter = readAll(table + companion(row.kind));
    if (row.ending != Ending::FailedWrite) {
        EXPECT_EQ(binAfter.size(), binBefore.size());
        EXPECT_TRUE(binAfter == binBefore) << "the table's records are as before the upload";
        EXPECT_EQ(companionAfter, companionBefore);
        return;
    }
    EXPECT_EQ(reply, hex("00000000"));
    if (row.kind == Kind::V4) {
        EXPECT_TRUE(binAfter.startsWith(binBefore));
        EXPECT_EQ(binAfter.mid(binBefore.size(), 6), QByteArray("item0\0", 6));
        EXPECT_TRUE(companionAfter.startsWith(companionBefore.left(16))) << "the old entries stay";
        EXPECT_EQ(companionAfter.size() % 8, 0) << "the stray part gave way to whole entries";
        EXPECT_GT(companionAfter.size(), 16) << "the records stored before the failed write stay";
        return;
    }
    // V3: the records before the failed one took the place of the old ones and went on after them.
    EXPECT_EQ(companionAfter, companionBefore);
    EXPECT_EQ(binAfter.size(), 49 * kV3RecordLength);
    EXPECT_TRUE(binAfter.startsWith(QByteArray("item0").leftJustified(12, ' ')));
    EXPECT_FALSE(binAfter.contains("old record"));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, StoppedUpload,
    ::testing::Values(UploadRow{"V3ByAReset", Kind::V3, Ending::Reset},
                      UploadRow{"V3ByTheProgramsStop", Kind::V3, Ending::ProgramStop},
                      UploadRow{"V3ByAFailedWrite", Kind::V3, Ending::FailedWrite},
                      UploadRow{"SortedV3ByAReset", Kind::SortedV3, Ending::Reset},
                      UploadRow{"SortedV3ByTheProgramsStop", Kind::SortedV3, Ending::ProgramStop},
                      UploadRow{"V4ByAReset", Kind::V4, Ending::Reset},
                      UploadRow{"V4ByTheProgramsStop", Kind::V4, Ending::ProgramStop},
                      UploadRow{"V4ByAFailedWrite", Kind::V4, Ending::FailedWrite}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
