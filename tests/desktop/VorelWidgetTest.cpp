#include "VorelWidget.h"

#include <gtest/gtest.h>

namespace {

TEST(SessionRow, TheTypeIsRedAndItsNameIsNeverMarkup)
{
    VorelWidget row(nullptr);
    row.setType(QStringLiteral("Network"));
    EXPECT_EQ(row.typeText(), QStringLiteral("<font color = red>Network</font>"));
    // A device reports its own name; whatever it holds shows as text.
    row.setType(QStringLiteral("Irda (<img src=x>) [00:00:12:34:56:78] & co"));
    EXPECT_EQ(row.typeText(),
              QStringLiteral("<font color = red>Irda (&lt;img src=x&gt;) [00:00:12:34:56:78] &amp; co</font>"));
}

TEST(SessionRow, MessagesKeepTheMarkupTheTerminalSent)
{
    VorelWidget row(nullptr);
    row.setMessage(QStringLiteral("<b>Stock</b> taking"));
    EXPECT_EQ(row.messageText(), QStringLiteral("<b>Stock</b> taking"));
}

} // namespace
