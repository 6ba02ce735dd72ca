#include "PDecimal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct ParseRow
{
    const char *name;
    const char *text;
    bool ok;
    quint32 whole;
    quint32 fraction;
};

void PrintTo(const ParseRow &row, std::ostream *os) { *os << row.name; }

class PDecimalParse : public ::testing::TestWithParam<ParseRow>
{
};

TEST_P(PDecimalParse, GivesFlagAndParts)
{
    const ParseRow &row = GetParam();
    PDecimal d;
    d.whole = 77; // parse must overwrite what was there, also when it fails
    d.fraction = 77;
    EXPECT_EQ(d.parse(row.text), row.ok);
    EXPECT_EQ(d.whole, row.whole);
    EXPECT_EQ(d.fraction, row.fraction);
}

const ParseRow kParseRows[] = {
    {"Half", "12.5", true, 12, 500000000},
    {"FiveHundredths", "0.05", true, 0, 50000000},
    {"WholeOnly", "7", true, 7, 0},
    {"Empty", "", true, 0, 0},
    {"TrailingPoint", "3.", true, 3, 0},
    {"LeadingPoint", ".5", true, 0, 500000000},
    {"TwoPoints", "1.2.3", false, 0, 0},
    {"Exponent", "1e5", false, 0, 0},
    {"TrailingLetter", "12a", false, 0, 0},
    {"Blank", "1 2", false, 0, 0},
    {"Comma", "1,5", false, 0, 0},
    {"TwentyCharacters", "12345678901234567890", false, 0, 0},
    {"NineteenCharacters", "123456789.123456789", true, 123456789, 123456789},
    {"Negative", "-5", false, 0, 0},
    {"NegativeZeroWhole", "-0.5", true, 0, 500000000},
    {"NegativeFraction", "1.-5", false, 0, 0},
    {"LoneMinus", "-", true, 0, 0},
    {"WholeTooBig", "1000000000", false, 0, 0},
    {"WholeTooBigWithFraction", "1000000000.5", false, 0, 0},
    {"Largest", "999999999.999999999", true, 999999999, 999999999},
    // A 64-bit atol would wrap this to 1; it is far above the limit and must be refused.
    {"WrapsOnSixtyFourBit", "4294967297", false, 0, 0},
    {"HugeNegative", "-4294967295", false, 0, 0},
    {"LeadingZerosWhole", "0000000001", true, 1, 0},
    // Ten fraction digits: only the first nine count, never a value ten times too big.
    {"TenFractionDigitsLeadingZero", "0.0123456789", true, 0, 12345678},
    {"TenSignificantFractionDigits", "5.1234567891", true, 5, 123456789},
    {"TinyFractionDropped", "0.0000000001", true, 0, 0},
    {"MinusInsideWhole", "5-3", true, 5, 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, PDecimalParse, ::testing::ValuesIn(kParseRows),
                         [](const ::testing::TestParamInfo<ParseRow> &info) {
                             return std::string(info.param.name);
                         });

std::string textOf(quint32 whole, quint32 fraction, char separator = '.')
{
    PDecimal d;
    d.whole = whole;
    d.fraction = fraction;
    return d.toText(separator).toStdString();
}

TEST(PDecimalText, WritesLeadingAndDropsTrailingFractionZeros)
{
    EXPECT_EQ(textOf(12, 500000000), "12.5");
    EXPECT_EQ(textOf(0, 50000000), "0.05");
    EXPECT_EQ(textOf(0, 123), "0.000000123");
    EXPECT_EQ(textOf(12, 0), "12");
    EXPECT_EQ(textOf(999999999, 999999999), "999999999.999999999");
}

TEST(PDecimalText, SeparatorIsChosenOrLeftOut)
{
    EXPECT_EQ(textOf(12, 500000000, ','), "12,5");
    EXPECT_EQ(textOf(12, 500000000, '\0'), "125");
}

TEST(PDecimalText, OutOfRangeWordTurnsValueIntoZero)
{
    PDecimal d;
    d.whole = 4294967295u;
    d.fraction = 7;
    EXPECT_EQ(d.text(), QByteArray("0"));
    EXPECT_EQ(d.whole, 0u);
    EXPECT_EQ(d.fraction, 0u);

    d.whole = 3;
    d.fraction = 1000000000u;
    EXPECT_EQ(d.text(), QByteArray("0"));
}

TEST(PDecimalText, RoundTripsThroughParse)
{
    for (const char *text : {"12.5", "0.05", "7", "0.000000123", "999999999.999999999", "1.01"}) {
        PDecimal d;
        ASSERT_TRUE(d.parse(text)) << text;
        EXPECT_EQ(d.text(), QByteArray(text));
    }
}

TEST(PDecimalText, FromTextRefusesCharactersOutsideLatin1)
{
    PDecimal d;
    EXPECT_TRUE(d.fromText(QStringLiteral("12.5")));
    EXPECT_EQ(d.fraction, 500000000u);
    EXPECT_FALSE(d.fromText(QString::fromUtf8("1\xE2\x82\xAC")));
    EXPECT_EQ(d.whole, 0u);
}

TEST(PDecimalBytes, SwapReversesEachWord)
{
    const unsigned char in[4] = {0x01, 0x02, 0x03, 0x04};
    quint32 word;
    std::memcpy(&word, in, 4);
    const quint32 swapped = swapBytes32(word);
    unsigned char out[4];
    std::memcpy(out, &swapped, 4);
    EXPECT_EQ(out[0], 0x04);
    EXPECT_EQ(out[1], 0x03);
    EXPECT_EQ(out[2], 0x02);
    EXPECT_EQ(out[3], 0x01);

    PDecimal d;
    d.whole = 12;
    d.fraction = 500000000;
    d.swapBytes();
    EXPECT_EQ(d.whole, 0x0C000000u);
    EXPECT_EQ(d.fraction, 0x0065CD1Du);
    d.swapBytes();
    EXPECT_EQ(d.whole, 12u);
    EXPECT_EQ(d.fraction, 500000000u);
}

} // namespace
