// What one session may hold: open files, SQL bases, searches and temporary files are bounded, and
// a request past a bound answers its command's failure reply (searches close their oldest).

#include "ProtocolFixture.h"

#include "PFileList.h"
#include "PFindList.h"
#include "PSqlBase.h"
#include "PSqlList.h"

#include <QDir>
#include <QFile>

#include <climits>

#include <sqlite3.h>

using SessionLimits = ProtocolTest;

namespace {

QByteArray word(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

QByteArray emptyName()
{
    return hex("00000002 0000");
}

} // namespace

TEST_F(SessionLimits, OpenFilesPastTheCapAreRefusedWithoutUsingANumber)
{
    ASSERT_TRUE(writeAll(local("a.txt"), "a"));
    const Request open = Request("OpenFile").str(terminal("a.txt"));
    for (quint32 i = 1; i <= quint32(PFileList::kMaxOpenFiles); ++i)
        ASSERT_EQ(call(open), hex("00000001") + word(i)) << i;

    EXPECT_EQ(call(open), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("OpenFile (") + terminal("a.txt")
                               + QStringLiteral(")\nresult = 0 handle = 0"));
    // The open handles still work, and a closed one makes room for the next number.
    EXPECT_EQ(call(Request("ReadFile").word(256).word(1)), hex("00000001 00000001") + "a");
    ASSERT_EQ(call(Request("CloseFile").word(1)), hex("00000001"));
    EXPECT_EQ(call(open), hex("00000001 00000101"));
    EXPECT_EQ(call(open), hex("00000000 00000000"));
}

TEST_F(SessionLimits, ForgottenSearchesGiveWayOldestFirst)
{
    // A folder of its own: the working folder holds the debug log.
    ASSERT_TRUE(QDir().mkpath(local("data/d.dir")));
    ASSERT_TRUE(writeAll(local("data/a.txt"), "a"));
    for (quint32 i = 1; i <= quint32(PFindList::kMaxSearches); ++i) {
        ASSERT_EQ(call(Request("FindFirstFile").str(QByteArray("data\\*.txt"))).left(8), hex("00000001") + word(i));
        ASSERT_EQ(call(Request("FindFirstDir").str(QByteArray("data\\*.dir"))).left(8), hex("00000001") + word(100000 + i));
    }

    // One more of each kind is served; the oldest of that kind is closed for it.
    EXPECT_EQ(call(Request("FindFirstFile").str(QByteArray("data\\*.txt"))),
              hex("00000001 00000041 00000007") + "a.txt" + hex("0000"));
    EXPECT_EQ(call(Request("FindFirstDir").str(QByteArray("data\\*.dir"))).left(8), hex("00000001 000186E1"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000000") + emptyName());
    EXPECT_EQ(call(Request("FindNextDir").word(100001)), hex("00000000") + emptyName());
    EXPECT_EQ(call(Request("FindClose").word(1)), hex("00000000"));
    EXPECT_EQ(call(Request("FindClose").word(100001)), hex("00000000"));
    // The others stay open: each has its one name left to give, then none.
    EXPECT_EQ(call(Request("FindNextFile").word(2)), hex("00000000") + emptyName());
    EXPECT_EQ(call(Request("FindClose").word(2)), hex("00000001"));
    EXPECT_EQ(call(Request("FindClose").word(100002)), hex("00000001"));
    EXPECT_EQ(call(Request("FindClose").word(65)), hex("00000001"));

    // Closed searches make room: nothing more is closed until the bound is reached again.
    EXPECT_EQ(call(Request("FindFirstFile").str(QByteArray("data\\*.txt"))).left(8), hex("00000001 00000042"));
    EXPECT_EQ(call(Request("FindClose").word(3)), hex("00000001"));
}

TEST_F(SessionLimits, ListingsKeepABoundedShareOfAHugeFolder)
{
    ASSERT_TRUE(QDir().mkdir(local("data")));
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(writeAll(local(QStringLiteral("data/file%1.txt").arg(i, 2, 10, QLatin1Char('0'))), ""));
    const QString folder = local("data");
    PFindEntry one;
    ASSERT_TRUE(one.keep(QStringLiteral("file00.txt"), LLONG_MAX));
    const qint64 oneName = one.bytes;
    // How many of the matching names a search keeps within `maxBytes`.
    const auto kept = [&folder](const QString &filter, qint64 maxBytes) {
        PFindEntry listing;
        const auto keep = [&listing, maxBytes](const QString &name) { return listing.keep(name, maxBytes); };
        return platform::listTerminalFolder(folder, filter, platform::EntryKind::Files, keep).size();
    };
    EXPECT_EQ(platform::listTerminalFolder(folder, QStringLiteral("*"), platform::EntryKind::Files).size(), 40);
    EXPECT_EQ(kept(QStringLiteral("*"), 10 * oneName), 10);
    EXPECT_EQ(kept(QStringLiteral("*"), 10 * oneName - 1), 9);
    // Names that do not match cost nothing.
    EXPECT_EQ(kept(QStringLiteral("file0*"), 10 * oneName), 10);
    EXPECT_EQ(kept(QStringLiteral("*"), 0), 0);
}

TEST_F(SessionLimits, TemporaryFileNamesAreBounded)
{
    const Request first = Request("SetFuture").str("SetTemporaryFile").str(terminal("t0.tmp"));
    for (int i = 0; i < VorelProtocol::kMaxTemporaryFiles; ++i) {
        const QString name = terminal(QStringLiteral("t%1.tmp").arg(i));
        ASSERT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(name)), hex("00000001")) << i;
    }
    // A name given again counts once; a new one past the bound is refused.
    EXPECT_EQ(call(first), hex("00000001"));
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(terminal("more.tmp"))), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("SetFuture (SetTemporaryFile, ") + terminal("more.tmp")
                               + QStringLiteral(")\nresult = 0"));

    // The registered ones are still removed at the end, the refused one is not.
    ASSERT_TRUE(writeAll(local("t255.tmp"), "x"));
    ASSERT_TRUE(writeAll(local("more.tmp"), "x"));
    protocol.cleanup();
    EXPECT_FALSE(QFile::exists(local("t255.tmp")));
    EXPECT_TRUE(QFile::exists(local("more.tmp")));
}

TEST_F(SessionLimits, TemporaryFileNamesLongerThanAPathAreRefused)
{
    // "C:\" and 4094 letters map to "/" and the letters: PATH_MAX - 1 bytes, the longest path.
    const QByteArray longest = "C:\\" + QByteArray(PATH_MAX - 2, 'a');
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(longest)), hex("00000001"));
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(longest + "b")), hex("00000000"));
    // A relative name grows by the working folder when mapped.
    const QByteArray relative(PATH_MAX - 2, 'r');
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(relative)), hex("00000000"));
    // A name that maps to a short path is still no path as sent.
    const QByteArray climbing = "C:\\" + QByteArray(PATH_MAX, '.').replace("...", "..\\") + "x";
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(climbing)), hex("00000000"));
    EXPECT_EQ(call(Request("SetFuture").str("SetTemporaryFile").str(QByteArray(0x100000 - 64, 'n'))),
              hex("00000000"));
}

TEST_F(SessionLimits, SqlBasesPastTheCapAreRefusedWithoutUsingANumber)
{
    const QString base = local("base.db");
    {
        PSqlBase create;
        ASSERT_TRUE(create.open(base));
        ASSERT_TRUE(create.exec(QStringLiteral("CREATE TABLE t (N INTEGER PRIMARY KEY)")));
        ASSERT_TRUE(create.close());
    }
    const Request open = Request("OpenSqlBase").str(base.toUtf8());
    for (quint32 i = 1; i <= quint32(PSqlList::kMaxOpenBases); ++i)
        ASSERT_EQ(call(open), hex("00000001") + word(i)) << i;
    EXPECT_EQ(call(open), hex("00000000 00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("OpenSqlBase (") + base + QStringLiteral(")\nresult = 0 handle = 0"));
    ASSERT_EQ(call(Request("CloseSqlBase").word(64)), hex("00000001"));
    EXPECT_EQ(call(open), hex("00000001 00000041"));
}

TEST(SqlBaseCaches, ManyBasesShareOneCacheBudget)
{
    TempDir dir;
    const QString base = dir.file(QStringLiteral("base.db"));
    ASSERT_TRUE(writeAll(base, QByteArray()));
    PSqlList list;
    auto cacheKiB = [](PSqlBase *open) {
        sqlite3_stmt *statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(open->connection(), "PRAGMA cache_size", -1, &statement, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_ROW);
        const int value = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    qint32 handle = 0;
    ASSERT_TRUE(list.openSqlBase(base, handle));
    PSqlBase *firstBase = list.current();
    const int untouched = cacheKiB(firstBase);
    for (int i = 1; i < PSqlList::kMaxOpenBases; ++i)
        ASSERT_TRUE(list.openSqlBase(base, handle));
    // A few bases keep SQLite's own cache; all of them together keep the budget.
    EXPECT_EQ(untouched, -2000);
    EXPECT_EQ(cacheKiB(firstBase), -PSqlList::kCacheBudgetKiB / PSqlList::kMaxOpenBases);
    EXPECT_EQ(cacheKiB(list.current()), -PSqlList::kCacheBudgetKiB / PSqlList::kMaxOpenBases);
    list.closeAll();
}
