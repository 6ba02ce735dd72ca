#include "FakeLinks.h"
#include "Irda.h"
#include "IrdaDeviceList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>

namespace {

using platform::irda::Device;
using platform::irda::firstDevice;
using platform::irda::deviceText;

struct ListRow
{
    const char *name;
    QByteArray list;
    bool found;
    const char *text;
};

// Rows print as their names in test listings.
void PrintTo(const ListRow &row, std::ostream *out)
{
    *out << row.name;
}

QByteArray withCount(QByteArray list, quint32 count)
{
    std::memcpy(list.data(), &count, sizeof count);
    return list;
}

class IrdaDeviceList : public ::testing::TestWithParam<ListRow>
{
};

TEST_P(IrdaDeviceList, FirstDeviceAndItsText)
{
    const ListRow &row = GetParam();
    // An exact copy on the heap: a read past the list's end is caught by the address sanitizer.
    std::unique_ptr<char[]> exact(new char[size_t(qMax(row.list.size(), 1))]);
    std::memcpy(exact.get(), row.list.constData(), size_t(row.list.size()));
    Device device;
    EXPECT_EQ(firstDevice(exact.get(), row.list.size(), device), row.found);
    if (row.found) {
        EXPECT_EQ(deviceText(device), QString::fromUtf8(row.text));
    }

    // The same through the peer-naming helper over a stand-in stack.
    FakeIrdaStack stack;
    stack.list = row.list;
    QString text = QStringLiteral("stale");
    EXPECT_EQ(irdaPeerName(-1, text), row.found);
    EXPECT_EQ(text, row.found ? QString::fromUtf8(row.text) : QString());
}

const QByteArray kTwentyTwo(22, 'A');

INSTANTIATE_TEST_SUITE_P(
    Lists, IrdaDeviceList,
    ::testing::Values(
        ListRow{"NamedDevice", irdaList(1, {{0x12345678, "TERMINAL"}}), true, "(TERMINAL) [00:00:12:34:56:78]"},
        ListRow{"DeviceWithoutName", irdaList(1, {{0x12345678, ""}}), true, "[00:00:12:34:56:78]"},
        ListRow{"TopBitOfTheAddressWidensToFFFF", irdaList(1, {{0x80000001, "T"}}), true,
                "(T) [FF:FF:80:00:00:01]"},
        ListRow{"OnlyTheFirstOfTwoDevices", irdaList(2, {{1, "FIRST"}, {2, "SECOND"}}), true,
                "(FIRST) [00:00:00:00:00:01]"},
        ListRow{"NameFillingAllItsBytesStopsAtTheField", irdaList(1, {{7, kTwentyTwo}}), true,
                "(AAAAAAAAAAAAAAAAAAAAAA) [00:00:00:00:00:07]"},
        ListRow{"Utf8Name", irdaList(1, {{7, QByteArray("Сканер")}}), true, "(Сканер) [00:00:00:00:00:07]"},
        ListRow{"InvalidUtf8NameIsStillText", irdaList(1, {{7, QByteArray("\xFF\xFE")}}), true,
                "(\xEF\xBF\xBD\xEF\xBF\xBD) [00:00:00:00:00:07]"},
        ListRow{"CountBeyondWhatTheBufferHolds", irdaList(1000000, {{9, "ONE"}}), true,
                "(ONE) [00:00:00:00:00:09]"},
        ListRow{"NoDevice", irdaList(0, {}), false, ""},
        ListRow{"CountWithoutRecords", irdaList(3, {}), false, ""},
        ListRow{"RecordCutShort", irdaList(1, {{9, "ONE"}}).left(4 + 35), false, ""},
        ListRow{"HeaderCutShort", withCount(QByteArray(4, '\0'), 1).left(3), false, ""},
        ListRow{"Empty", QByteArray(), false, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(IrdaPeerName, ListThatCannotBeReadNamesNoDevice)
{
    FakeIrdaStack stack;
    stack.listFails = true;
    QString text = QStringLiteral("stale");
    EXPECT_FALSE(irdaPeerName(-1, text));
    EXPECT_TRUE(text.isEmpty());
}

} // namespace
