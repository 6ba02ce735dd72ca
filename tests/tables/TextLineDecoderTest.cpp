#include "TextLineDecoder.h"

#include <QTextCodec>

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct CodePageRow
{
    const char *name;
    const char *codec;
};

void PrintTo(const CodePageRow &row, std::ostream *out)
{
    *out << row.name;
}

class LinesOfAFile : public ::testing::TestWithParam<CodePageRow>
{
};

// Lines that leave a decoder in the middle of something: a lead byte cut off by the line end, a
// shift into another character set, a byte-order mark, a last line without its line end.
const QByteArray kLines[] = {
    QByteArray("a\x82\n"), QByteArray("b\x81\n"), QByteArray("\x1B$B"),       QByteArray("c\n"),
    QByteArray("\x81\x30\n"), QByteArray("\xEF\xBB\xBFX\n"), QByteArray("\xC0\xE1;z\n"), QByteArray("tail\x82"),
};

} // namespace

TEST_P(LinesOfAFile, DecodeAsEachLineOnItsOwn)
{
    QTextCodec *codec = QTextCodec::codecForName(GetParam().codec);
    if (!codec)
        GTEST_SKIP() << "this Qt has no codec " << GetParam().codec;
    TextLineDecoder decoder;
    for (const QByteArray &line : kLines)
        EXPECT_EQ(decoder.decode(codec, line), codec->toUnicode(line)) << line.toHex().constData();
}

INSTANTIATE_TEST_SUITE_P(CodePages, LinesOfAFile,
                         ::testing::Values(CodePageRow{"Cp1251", "CP1251"}, CodePageRow{"ShiftJis", "Shift_JIS"},
                                           CodePageRow{"Gb18030", "GB18030"}, CodePageRow{"Big5", "Big5"},
                                           CodePageRow{"Iso2022Jp", "ISO-2022-JP"}, CodePageRow{"Utf8", "UTF-8"},
                                           CodePageRow{"Latin1", "ISO-8859-1"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TextLineDecoder, FollowsTheCodecOfEachLine)
{
    QTextCodec *cp1251 = QTextCodec::codecForName("CP1251");
    QTextCodec *koi8 = QTextCodec::codecForName("KOI8-R");
    ASSERT_TRUE(cp1251 && koi8);
    TextLineDecoder decoder;
    // The same byte is another letter once the code page has changed between two lines.
    EXPECT_EQ(decoder.decode(cp1251, "\xC1\n"), QString::fromUtf8("Б\n"));
    EXPECT_EQ(decoder.decode(koi8, "\xC1\n"), QString::fromUtf8("а\n"));
    EXPECT_EQ(decoder.delimiter(cp1251, char(0xB9)), QChar(0x2116)); // "№"
    EXPECT_EQ(decoder.delimiter(koi8, char(0xB9)), QChar(0x2567));
    EXPECT_EQ(decoder.delimiter(koi8, ';'), QChar(';'));
}
