// The SQL-base, conversion, indicator and message commands as a terminal sends them.

#include "ProtocolFixture.h"

#include "../tables/SignalSink.h"

#include "PRow.h"
#include "PSqlBase.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

namespace {

QByteArray wordBytes(quint32 v)
{
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

class SqlCommands : public ProtocolTest
{
protected:
    void SetUp() override
    {
        ProtocolTest::SetUp();
        protocol.setSession(&sink);
    }
    void TearDown() override
    {
        protocol.cleanup();
        ProtocolTest::TearDown();
    }

    void makeBase(const char *name)
    {
        PSqlBase base;
        ASSERT_TRUE(base.open(local(name)));
        ASSERT_TRUE(base.exec("CREATE TABLE T(N INTEGER PRIMARY KEY AUTOINCREMENT, Item_1 TEXT, Item_2 TEXT)"));
        ASSERT_TRUE(base.close());
    }
    QStringList reports() const { return reportsOf(spy); }

    SignalSink sink;
    QSignalSpy spy{&sink, &SignalSink::reported};
};

} // namespace

TEST_F(SqlCommands, OpenSqlBaseOfAMissingFileAnswersZeroes)
{
    EXPECT_EQ(call(Request("OpenSqlBase").str(terminal("none.db"))), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), "OpenSqlBase (" + terminal("none.db") + ")\nresult = 0 handle = 0");
    EXPECT_FALSE(QFile::exists(local("none.db")));
}

TEST_F(SqlCommands, SqlBaseHandlesCountOnAndAreNotReused)
{
    makeBase("a.db");
    makeBase("b\xC3\xA4se.db");
    // The base's name travels as UTF-8, whatever the terminal's code page.
    const QByteArray utf8Name = terminal("b").toUtf8() + "\xC3\xA4se.db";
    EXPECT_EQ(call(Request("OpenSqlBase").str(terminal("a.db"))), hex("00000001 00000001"));
    EXPECT_EQ(lastEntry(), "OpenSqlBase (" + terminal("a.db") + ")\nresult = 1 handle = 1");
    EXPECT_EQ(call(Request("OpenSqlBase").str(utf8Name)), hex("00000001 00000002"));
    EXPECT_EQ(lastEntry(), "OpenSqlBase (" + QString::fromUtf8(utf8Name) + ")\nresult = 1 handle = 2");
    EXPECT_EQ(call(Request("CloseSqlBase").word(2)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CloseSqlBase (2)\nresult = 1"));
    EXPECT_EQ(call(Request("CloseSqlBase").word(2)), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CloseSqlBase (2)\nresult = 0"));
    EXPECT_EQ(call(Request("CloseSqlBase").word(0xFFFFFFFF)), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CloseSqlBase (-1)\nresult = 0"));
    EXPECT_EQ(call(Request("OpenSqlBase").str(terminal("A.DB"))), hex("00000001 00000003"));
}

TEST_F(SqlCommands, ConvertSqlTableTextToBinNeedsAnOpenBase)
{
    ASSERT_TRUE(writeAll(local("in.txt"), "a;b\n"));
    EXPECT_EQ(call(Request("ConvertSqlTableTextToBin").str(terminal("in.txt")).str("T")), hex("00000000"));
    EXPECT_EQ(lastEntry(), "ConvertSqlTableTextToBin (" + terminal("in.txt") + ", T)\nresult = 0");
    EXPECT_TRUE(reports().isEmpty());
}

TEST_F(SqlCommands, ConvertSqlTableTextToBinFillsTheCurrentBase)
{
    makeBase("a.db");
    makeBase("b.db");
    ASSERT_TRUE(writeAll(local("in.txt"), "a ;b\n\xCF\xF0\xE8;c\n"));
    call(Request("OpenSqlBase").str(terminal("a.db")));
    call(Request("OpenSqlBase").str(terminal("b.db")));
    call(Request("CloseSqlBase").word(2)); // a.db is current again
    EXPECT_EQ(call(Request("ConvertSqlTableTextToBin").str(terminal("in.txt")).str("T")), hex("00000001"));
    EXPECT_EQ(lastEntry(), "ConvertSqlTableTextToBin (" + terminal("in.txt") + ", T)\nresult = 1");
    protocol.cleanup();

    PSqlBase base;
    ASSERT_TRUE(base.open(local("a.db")));
    PRow row;
    ASSERT_TRUE(base.select("SELECT * FROM T ORDER BY N", row));
    EXPECT_EQ(row.fields, (QVector<QString>{"a", "b"}));
    ASSERT_TRUE(base.nextRow(row));
    EXPECT_EQ(row.fields, (QVector<QString>{QString::fromUtf8("При"), "c"}));
    EXPECT_FALSE(base.nextRow(row));
    // 5 and 11 of 11 bytes.
    EXPECT_EQ(reports(), (QStringList{"message Convert file " + local("in.txt") + " to table T", "indicator 0",
                                      "indicator 45", "indicator 100", "indicator 100"}));
}

TEST_F(SqlCommands, TextIntoV3SortedAfterSetSortV3Table)
{
    ASSERT_TRUE(writeAll(local("t.hdr"), QByteArray("\x01\x01\x02\x00\x00", 5)));
    ASSERT_TRUE(writeAll(local("t.bin"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "b\r\na\r\n"));
    const Request convert = Request("ConvertTableV3TextToBin").str(terminal("in.txt")).str(terminal("t"));
    EXPECT_EQ(call(convert), hex("00000001"));
    EXPECT_EQ(lastEntry(), "ConvertTableTextToBinV3 (" + terminal("in.txt") + ", " + terminal("t") + ")\nresult = 1");
    EXPECT_EQ(readAll(local("t.bin")), QByteArray("b a "));

    call(Request("SetFuture").str("SetSortV3Table").str("1"));
    EXPECT_EQ(call(convert), hex("00000001"));
    EXPECT_EQ(readAll(local("t.bin")), QByteArray("a b "));
    EXPECT_TRUE(reports().contains("message Part 2. Convert temp table to V3 table " + local("t")));

    EXPECT_EQ(call(Request("ConvertTableV3TextToBin").str(terminal("none.txt")).str(terminal("t"))),
              hex("00000000"));
    EXPECT_EQ(lastEntry(),
              "ConvertTableTextToBinV3 (" + terminal("none.txt") + ", " + terminal("t") + ")\nresult = 0");
}

TEST_F(SqlCommands, TableNamesMatchTheirFilesIgnoringCase)
{
    // Terminals name tables without extension and in any case, as the Windows file system allowed.
    QByteArray header("PLDB");
    header += wordBytes(100) + wordBytes(45) + wordBytes(1) + wordBytes(0) + QByteArray(21, '\0')
        + QByteArray("\x01\x00\x01\x01", 4);
    ASSERT_TRUE(writeAll(local("GOODS.BIN"), header));
    ASSERT_TRUE(writeAll(local("GOODS.IND"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "one\n"));

    EXPECT_EQ(call(Request("ConvertTableTextToBin").str(terminal("in.txt")).str(terminal("goods"))), hex("00000001"));
    EXPECT_EQ(readAll(local("GOODS.BIN")), header + QByteArray("one\0", 4));
    EXPECT_EQ(readAll(local("GOODS.IND")).size(), 8);
    EXPECT_FALSE(QFile::exists(local("goods.bin"))) << "no second table beside the first";

    // The table's own files are still recognised, whatever case the terminal writes.
    EXPECT_EQ(call(Request("ConvertTableBinToText").str(terminal("Goods")).str(terminal("goods.ind"))),
              hex("00000000"));
    EXPECT_EQ(readAll(local("GOODS.IND")).size(), 8);
}

TEST_F(SqlCommands, TextIntoV4AndBack)
{
    // One text field, filled and written out.
    QByteArray header("PLDB");
    header += wordBytes(100) + wordBytes(45) + wordBytes(1) + wordBytes(0) + QByteArray(21, '\0')
        + QByteArray("\x01\x00\x01\x01", 4);
    ASSERT_TRUE(writeAll(local("t.bin"), header));
    ASSERT_TRUE(writeAll(local("t.ind"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "one\ntwo\n"));

    EXPECT_EQ(call(Request("ConvertTableTextToBin").str(terminal("in.txt")).str(terminal("t"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), "ConvertTableTextToBin (" + terminal("in.txt") + ", " + terminal("t") + ")\nresult = 1");
    EXPECT_EQ(readAll(local("t.bin")), header + QByteArray("one\0two\0", 8));

    // The table comes first in this one.
    EXPECT_EQ(call(Request("ConvertTableBinToText").str(terminal("t")).str(terminal("out.txt"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), "ConvertTableBinToText (" + terminal("t") + ", " + terminal("out.txt") + ")\nresult = 1");
    EXPECT_EQ(readAll(local("out.txt")), QByteArray("one\r\ntwo\r\n"));
    EXPECT_TRUE(reports().endsWith(QStringLiteral("indicator 100")));

    EXPECT_EQ(call(Request("ConvertTableBinToText").str(terminal("none")).str(terminal("out.txt"))), hex("00000000"));
    EXPECT_EQ(lastEntry(), "ConvertTableBinToText (" + terminal("none") + ", " + terminal("out.txt") + ")\nresult = 0");
}

TEST_F(SqlCommands, SetIndicatorPassesTheValueOnUnchanged)
{
    EXPECT_EQ(call(Request("SetIndicator").word(0xFFFFFFFF)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SetIndicator (-1)\nresult = 1"));
    EXPECT_EQ(call(Request("SetIndicator").word(250)), hex("00000001"));
    EXPECT_EQ(reports(), (QStringList{"indicator -1", "indicator 250"}));
}

TEST_F(SqlCommands, SetMessageDecodesWithTheTerminalCodePage)
{
    EXPECT_EQ(call(Request("SetMessage").str(QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2 1"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), QString::fromUtf8("SetMessage (Привет 1)\nresult = 1"));
    EXPECT_EQ(call(Request("SetMessage").str("")), hex("00000001"));
    EXPECT_EQ(reports(), (QStringList{QString::fromUtf8("message Привет 1"), "message "}));
}

TEST_F(SqlCommands, WithoutASinkNothingIsShownAndAllIsAnswered)
{
    protocol.setSession(nullptr);
    ASSERT_TRUE(writeAll(local("t.hdr"), QByteArray("\x01\x01\x02\x00\x00", 5)));
    ASSERT_TRUE(writeAll(local("t.bin"), QByteArray()));
    ASSERT_TRUE(writeAll(local("in.txt"), "b\na\n"));
    call(Request("SetFuture").str("SetSortV3Table").str("1"));
    EXPECT_EQ(call(Request("SetIndicator").word(5)), hex("00000001"));
    EXPECT_EQ(call(Request("SetMessage").str("x")), hex("00000001"));
    EXPECT_EQ(call(Request("ConvertTableV3TextToBin").str(terminal("in.txt")).str(terminal("t"))), hex("00000001"));
    EXPECT_EQ(readAll(local("t.bin")), QByteArray("a b "));
    EXPECT_TRUE(reports().isEmpty());
}
