#include "PDecimal.h"
#include "PRow.h"

#include <gtest/gtest.h>

namespace {

TEST(PRowText, ReadingPastTheEndGivesEmptyAndLeavesRow)
{
    PRow row;
    row.setText(2, QStringLiteral("c"));
    ASSERT_EQ(row.count(), 3);
    EXPECT_TRUE(row.text(5).isEmpty());
    EXPECT_TRUE(row.text(-1).isEmpty());
    EXPECT_EQ(row.count(), 3);

    QString target = QStringLiteral("old");
    EXPECT_TRUE(row.text(7, target).isEmpty());
    EXPECT_TRUE(target.isEmpty());
    EXPECT_EQ(row.text(2, target), QStringLiteral("c"));
}

TEST(PRowText, StringFormTrimsAndGrowsWithEmptyFields)
{
    PRow row;
    row.setText(5, QStringLiteral(" a "));
    ASSERT_EQ(row.count(), 6);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(row.text(i).isEmpty()) << i;
    EXPECT_EQ(row.text(5), QStringLiteral("a"));

    row.setText(1, QStringLiteral("x\r\n"));
    EXPECT_EQ(row.text(1), QStringLiteral("x"));
    EXPECT_EQ(row.count(), 6);
}

TEST(PRowText, CharacterFormKeepsBlanksAndReadsUtf8)
{
    PRow row;
    row.setText(1, " a ");
    EXPECT_EQ(row.count(), 2);
    EXPECT_EQ(row.text(1), QStringLiteral(" a "));
    row.setText(0, "\xD0\x96");
    EXPECT_EQ(row.text(0), QString(QChar(0x0416)));
}

TEST(PRowText, NegativePositionIsNeverStored)
{
    PRow row;
    row.setText(-1, QStringLiteral("a"));
    row.setText(-3, "b");
    EXPECT_EQ(row.count(), 0);
}

TEST(PRowText, ClearRemovesAllFields)
{
    PRow row;
    row.setText(3, "d");
    row.clear();
    EXPECT_EQ(row.count(), 0);
}

TEST(PRowNumbers, HundredthsReadsCommaAsPoint)
{
    PRow row;
    row.setText(0, QStringLiteral("1,5"));
    row.setText(1, QStringLiteral("-3"));
    qint32 v = -1;
    row.hundredths(0, v);
    EXPECT_EQ(v, 150);
    row.hundredths(1, v);
    EXPECT_EQ(v, 0);
    row.hundredths(9, v);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(row.text(0), QStringLiteral("1,5")) << "the row's own text is not changed";
}

TEST(PRowNumbers, DecimalOfLettersIsZero)
{
    PRow row;
    row.setText(0, QStringLiteral("abc"));
    row.setText(1, QStringLiteral("12.5"));
    PDecimal d;
    d.whole = 5;
    d.fraction = 5;
    row.decimal(0, d);
    EXPECT_EQ(d.whole, 0u);
    EXPECT_EQ(d.fraction, 0u);
    row.decimal(1, d);
    EXPECT_EQ(d.whole, 12u);
    EXPECT_EQ(d.fraction, 500000000u);
}

TEST(PRowNumbers, SetDecimalAndSetScaledStoreTheirTexts)
{
    PRow row;
    PDecimal d;
    d.whole = 0;
    d.fraction = 123;
    row.setDecimal(0, d);
    EXPECT_EQ(row.text(0), QStringLiteral("0.000000123"));
    row.setScaled(1, 12345, 2);
    EXPECT_EQ(row.text(1), QStringLiteral("123.45"));
    row.setScaled(2, 12345, 0);
    EXPECT_EQ(row.text(2), QStringLiteral("12345"));
    row.setScaled(3, 5, 3);
    EXPECT_EQ(row.text(3), QStringLiteral("0.005"));
}

} // namespace
