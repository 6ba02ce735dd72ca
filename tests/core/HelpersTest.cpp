#include "Helpers.h"
#include "TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string hex(const std::string &bytes)
{
    std::string out(bytes.size() * 2, '?');
    hexEncode(out.data(), bytes.data(), int(bytes.size()));
    return out;
}

std::string unhex(const std::string &text)
{
    std::string out(text.size() / 2, '?');
    hexDecode(out.data(), text.data(), int(out.size()));
    return out;
}

std::string scaled(quint32 value, int decimals)
{
    char buf[kScaledTextSize];
    return formatScaled(value, buf, decimals);
}

qint32 hundredths(std::string text)
{
    return textToHundredths(text.data());
}

} // namespace

TEST(HexText, EncodesUpperCaseHighNibbleFirst)
{
    EXPECT_EQ(hex(std::string("\x00\xAB\xFF", 3)), "00ABFF");
    EXPECT_EQ(hex(""), "");
    char sentinel[2] = {'x', 'y'};
    hexEncode(sentinel, "\x12", -1);
    EXPECT_EQ(sentinel[0], 'x') << "a negative count writes nothing";
}

TEST(HexText, DecodesOnlyDigitsAndUpperCaseLetters)
{
    EXPECT_EQ(unhex("ab"), std::string(1, '\0'));
    EXPECT_EQ(unhex("1G"), "\x10");
    EXPECT_EQ(unhex("FF"), "\xFF");
    EXPECT_EQ(unhex(std::string("4F4B\0 ", 6)), std::string("OK\0", 3));
    const std::string all = [] {
        std::string s;
        for (int i = 0; i < 256; ++i)
            s += char(i);
        return s;
    }();
    EXPECT_EQ(unhex(hex(all)), all) << "every byte survives a round trip";
}

TEST(BigEndianWords, ReadAndWrite)
{
    const unsigned char a[4] = {0x00, 0x10, 0x00, 0x00};
    const unsigned char b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(readUInt32BE(a), 1048576u);
    EXPECT_EQ(readUInt32BE(b), 4294967295u);

    unsigned char out[6] = {0x55, 0, 0, 0, 0, 0x55};
    writeUInt32BE(out + 1, 0x01020304u);
    EXPECT_EQ(0, std::memcmp(out, "\x55\x01\x02\x03\x04\x55", 6)) << "exactly four bytes written";
}

TEST(BigEndianWords, ResultWordIsOneOnlyForFlagOne)
{
    unsigned char out[4];
    writeBoolBE(out, 1);
    EXPECT_EQ(0, std::memcmp(out, "\0\0\0\x01", 4));
    for (quint8 flag : {quint8(0), quint8(2), quint8(255)}) {
        writeBoolBE(out, flag);
        EXPECT_EQ(0, std::memcmp(out, "\0\0\0\0", 4)) << int(flag);
    }
}

TEST(PadField, PadsWithBlanksOrCuts)
{
    QByteArray out("stale");
    padField(out, "abc", 5);
    EXPECT_EQ(out, QByteArray("abc  "));
    padField(out, "abcdef", 4);
    EXPECT_EQ(out, QByteArray("abcd"));
    padField(out, "abc", 0);
    EXPECT_TRUE(out.isEmpty());
    padField(out, "abc", -3);
    EXPECT_TRUE(out.isEmpty());
}

TEST(FormatScaled, FractionHasExactlyDecimalsDigits)
{
    EXPECT_EQ(scaled(12345, 2), "123.45");
    EXPECT_EQ(scaled(5, 3), "0.005");
    EXPECT_EQ(scaled(7, 0), "7");
    EXPECT_EQ(scaled(4294967295u, 9), "4.294967295");
    EXPECT_EQ(scaled(4294967295u, 1), "429496729.5");
}

TEST(FormatScaled, ZeroDecimalsPrintsSigned32Bit)
{
    EXPECT_EQ(scaled(4294967295u, 0), "-1");
    EXPECT_EQ(scaled(2147483648u, 0), "-2147483648");
}

TEST(FormatScaled, OutOfRangeDecimalsAndSmallBuffersStayInside)
{
    EXPECT_EQ(scaled(1234567890u, 40), "1.234567890") << "decimals above 9 count as 9";
    EXPECT_EQ(scaled(42, -2), "42");

    char buf[8];
    std::memset(buf, 0x55, sizeof buf);
    formatScaled(4294967295u, buf, 1, 5);
    EXPECT_STREQ(buf, "4294");
    EXPECT_EQ(buf[5], 0x55) << "nothing past the given size";
}

TEST(TextToHundredths, ReadsDecimalTexts)
{
    EXPECT_EQ(hundredths("1,5"), 150);
    EXPECT_EQ(hundredths("12.34"), 1234);
    EXPECT_EQ(hundredths("  7"), 700);
    EXPECT_EQ(hundredths("-3"), 0);
    EXPECT_EQ(hundredths("abc"), 0);
    EXPECT_EQ(hundredths(""), 0);
    EXPECT_EQ(hundredths("0.999"), 100);
    EXPECT_EQ(hundredths("1,5,7"), 150) << "only the first comma is a point";

    std::string text = "2,5,1";
    textToHundredths(text.data());
    EXPECT_EQ(text, "2.5,1") << "the first comma is replaced in the caller's buffer";
}

TEST(TextToHundredths, SaturatesAboveTheSigned32BitRange)
{
    EXPECT_EQ(hundredths("21474836.47"), 2147483647);
    EXPECT_EQ(hundredths("21474836.46"), 2147483646);
    EXPECT_EQ(hundredths("21474836.48"), 2147483647);
    EXPECT_EQ(hundredths("40000000"), 2147483647);
    EXPECT_EQ(hundredths("99999999999"), 2147483647);
    EXPECT_EQ(hundredths("inf"), 2147483647);
    EXPECT_EQ(hundredths("nan"), 0);
}

TEST(TextToHundredths, ExactForEveryCentUpToTheLimit)
{
    // Every value with two decimals reads back exactly, sampled across the whole range.
    for (qint64 cents = 0; cents <= 2147483647; cents += 999983) {
        const std::string text = std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "")
            + std::to_string(cents % 100);
        ASSERT_EQ(hundredths(text), cents) << text;
    }
}

TEST(TextToHundredths, IgnoresTheProcessLocale)
{
    // A German locale reads "12.5" as 12 with the C library's own atof; build one for this test.
    TempDir dir;
    const QString target = dir.file(QStringLiteral("de_DE.UTF-8"));
    if (QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"), target}) != 0)
        GTEST_SKIP() << "localedef cannot build de_DE here (package locales missing)";
    qputenv("LOCPATH", dir.path().toLocal8Bit());
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(std::atof("12.5"), 12.0) << "the locale really is German";
    EXPECT_EQ(hundredths("12.5"), 1250);
    EXPECT_EQ(hundredths("12,5"), 1250);
    std::setlocale(LC_NUMERIC, saved.c_str());
    qunsetenv("LOCPATH");
}

TEST(TextToScaled, IntegerAndFractionalForms)
{
    EXPECT_EQ(textToScaled(QStringLiteral("12.5"), 2), 1250);
    EXPECT_EQ(textToScaled(QStringLiteral("12"), 0), 12);
    EXPECT_EQ(textToScaled(QStringLiteral("x"), 0), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("-1"), 0), 0) << "not an unsigned number";
    EXPECT_EQ(textToScaled(QStringLiteral("12.5"), 0), 0) << "a whole number is required without decimals";
    EXPECT_EQ(textToScaled(QStringLiteral("-1.5"), 1), -15);
    EXPECT_EQ(quint32(textToScaled(QStringLiteral("-1.5"), 1)), 4294967281u);
    EXPECT_EQ(textToScaled(QStringLiteral("1.999"), 2), 199) << "cut toward zero";
}

TEST(TextToScaled, CutsTheExactDecimalValue)
{
    EXPECT_EQ(textToScaled(QStringLiteral("0.29"), 2), 29);
    EXPECT_EQ(textToScaled(QStringLiteral("1.15"), 2), 115);
    EXPECT_EQ(textToScaled(QStringLiteral("2.01"), 2), 201);
    EXPECT_EQ(textToScaled(QStringLiteral("1.159"), 2), 115);
    EXPECT_EQ(textToScaled(QStringLiteral("-1.15"), 2), -115);
    EXPECT_EQ(textToScaled(QStringLiteral("-1.159"), 2), -115) << "toward zero, not down";
    EXPECT_EQ(textToScaled(QStringLiteral("1.001"), 3), 1001);
    EXPECT_EQ(textToScaled(QStringLiteral("4.35"), 9), 4350000000);
    EXPECT_EQ(quint32(textToScaled(QStringLiteral("4.35"), 9)), 55032704u) << "the low 32 bits";
}

// Every price a terminal's table can hold with two decimals, against the hundredths counted out.
TEST(TextToScaled, EveryTwoDecimalTextBelowAHundred)
{
    int wrong = 0;
    for (int hundredths = 0; hundredths <= 9999; ++hundredths) {
        const QString text = QStringLiteral("%1.%2").arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
        if (textToScaled(text, 2) != hundredths && ++wrong <= 5)
            ADD_FAILURE() << text.toStdString() << " gives " << textToScaled(text, 2);
        if (textToScaled(QLatin1Char('-') + text, 2) != -hundredths && ++wrong <= 5)
            ADD_FAILURE() << "-" << text.toStdString();
    }
    EXPECT_EQ(wrong, 0);
}

// Random texts with 1 to 9 fraction digits read with 1 to 9 decimals; the expectation is made by
// cutting or zero-filling the fraction digits and reading the digit string as an integer.
TEST(TextToScaled, SampleOfOneToNineDecimals)
{
    std::mt19937 random(20240611);
    int wrong = 0;
    for (int n = 0; n < 20000; ++n) {
        const int decimals = 1 + int(random() % 9);
        const int fractionDigits = 1 + int(random() % 9);
        const int wholeDigits = 1 + int(random() % 6);
        std::string whole;
        std::string fraction;
        for (int i = 0; i < wholeDigits; ++i)
            whole += char('0' + random() % 10);
        for (int i = 0; i < fractionDigits; ++i)
            fraction += char('0' + random() % 10);
        const bool negative = random() % 4 == 0;
        const std::string text = (negative ? "-" : "") + whole + "." + fraction;
        std::string scaled = whole + fraction.substr(0, size_t(std::min(decimals, fractionDigits)));
        scaled.append(size_t(std::max(0, decimals - fractionDigits)), '0');
        const qint64 magnitude = std::stoll(scaled);
        const qint64 expected = negative ? -magnitude : magnitude;
        const qint64 got = textToScaled(QString::fromStdString(text), decimals);
        if (got != expected && ++wrong <= 5)
            ADD_FAILURE() << text << " with " << decimals << " decimals gives " << got << ", not " << expected;
    }
    EXPECT_EQ(wrong, 0);
}

// The texts that count as a number are the C locale's, as before: blanks around, a sign, a bare
// point on either side, an exponent.
TEST(TextToScaled, NumberFormsOfTheCLocale)
{
    struct Case
    {
        const char *text;
        int decimals;
        qint64 expected;
    };
    const Case cases[] = {
        {" 1.5\t", 2, 150}, {"+1.5", 2, 150}, {"1.", 2, 100},        {".5", 2, 50},
        {"1e2", 2, 10000},  {"1.5E+01", 1, 150}, {"15e-1", 1, 15},    {"0.000000000000000000001e21", 2, 100},
        {"1e0000000000000000000002", 1, 1000},   {"000000000000000000000000012.34", 2, 1234},
        {"-0", 2, 0},       {"-0.001", 2, 0},    {"1e-400", 2, 0},    {"1,5", 2, 0},
        {"1.2.3", 2, 0},    {"0x10", 2, 0},      {"1.5e", 2, 0},      {"e5", 2, 0},
        {".", 2, 0},        {"-", 2, 0},         {"", 2, 0},          {"1 000", 2, 0},
        {"1.5f", 2, 0},     {"+-1", 2, 0},       {"\u0663", 2, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(textToScaled(QString::fromUtf8(c.text), c.decimals), c.expected) << '"' << c.text << '"';
}

TEST(TextToScaled, NonFiniteAndOverflowingGiveZero)
{
    EXPECT_EQ(textToScaled(QStringLiteral("nan"), 2), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("inf"), 2), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("-inf"), 2), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("1e300"), 2), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("1e99999999999999999999"), 2), 0);
    EXPECT_EQ(textToScaled(QStringLiteral("1e10"), 9), 0) << "1e19 does not fit 64 bits";
    EXPECT_EQ(textToScaled(QStringLiteral("1e9"), 9), qint64(1000000000000000000));
    EXPECT_EQ(textToScaled(QStringLiteral("9223372036.854775807"), 9), std::numeric_limits<qint64>::max());
    EXPECT_EQ(textToScaled(QStringLiteral("9223372036.854775808"), 9), 0) << "2^63";
    EXPECT_EQ(textToScaled(QStringLiteral("-9223372036.854775807"), 9), -std::numeric_limits<qint64>::max());
}

TEST(NumberTexts, DecimalForms)
{
    EXPECT_EQ(numberToString(-7), QStringLiteral("-7"));
    EXPECT_EQ(numberToString(std::numeric_limits<qint32>::min()), QStringLiteral("-2147483648"));
    EXPECT_EQ(int64ToString(Q_INT64_C(10000000000)), QStringLiteral("10000000000"));
    EXPECT_EQ(int64ToString(std::numeric_limits<qint64>::min()), QStringLiteral("-9223372036854775808"));
}
