#include "ProtocolFixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <climits>

using PathCommands = ProtocolTest;
using Searches = ProtocolTest;

namespace {

// The reply of a name in the search layout: word n + 2, the n bytes, two zero bytes.
QByteArray nameText(const QByteArray &name)
{
    QByteArray word(4, '\0');
    const int n = name.size() + 2;
    word[2] = char(n >> 8);
    word[3] = char(n & 0xFF);
    return word + name + hex("0000");
}

} // namespace

TEST_F(PathCommands, ExistFileAndExistDir)
{
    ASSERT_TRUE(writeAll(local("f.txt"), "x"));
    ASSERT_TRUE(QDir().mkdir(local("sub")));

    EXPECT_EQ(call(Request("ExistFile").str(terminal("f.txt"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ExistFile (") + terminal("f.txt")
                               + QStringLiteral(")\nresult = 1"));
    EXPECT_EQ(call(Request("ExistFile").str(terminal("sub"))), hex("00000001"));
    EXPECT_EQ(call(Request("ExistFile").str(terminal("none"))), hex("00000000"));
    EXPECT_EQ(call(Request("ExistFile").str("")), hex("00000000"));

    EXPECT_EQ(call(Request("ExistDir").str(terminal("sub"))), hex("00000001"));
    EXPECT_EQ(call(Request("ExistDir").str(terminal("f.txt"))), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ExistDir (") + terminal("f.txt")
                               + QStringLiteral(")\nresult = 0"));
    // An empty path names the working folder.
    EXPECT_EQ(call(Request("ExistDir").str("")), hex("00000001"));
    // Relative paths, either separator, any case.
    EXPECT_EQ(call(Request("ExistFile").str("SUB\\..\\F.TXT")), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("ExistFile (SUB\\..\\F.TXT)\nresult = 1"));
    EXPECT_EQ(call(Request("ExistDir").str("Sub/")), hex("00000001"));
    // A UNC path names nothing here.
    EXPECT_EQ(call(Request("ExistDir").str("\\\\server\\share")), hex("00000000"));
}

TEST_F(PathCommands, CreateAndDeleteFiles)
{
    ASSERT_TRUE(writeAll(local("full.txt"), "content"));
    ASSERT_TRUE(QDir().mkdir(local("sub")));

    EXPECT_EQ(call(Request("CreateFile").str(terminal("full.txt"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CreateFile (") + terminal("full.txt")
                               + QStringLiteral(")\nresult = 1"));
    EXPECT_TRUE(QFile::exists(local("full.txt")));
    EXPECT_EQ(QFileInfo(local("full.txt")).size(), 0);
    EXPECT_EQ(call(Request("CreateFile").str("New.txt")), hex("00000001"));
    EXPECT_TRUE(QFile::exists(local("New.txt")));
    EXPECT_EQ(call(Request("CreateFile").str(terminal("sub"))), hex("00000000"));
    EXPECT_EQ(call(Request("CreateFile").str(terminal("nodir\\x.txt"))), hex("00000000"));

    EXPECT_EQ(call(Request("DeleteFile").str("NEW.TXT")), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("DeleteFile (NEW.TXT)\nresult = 1"));
    EXPECT_FALSE(QFile::exists(local("New.txt")));
    EXPECT_EQ(call(Request("DeleteFile").str("NEW.TXT")), hex("00000000"));
    EXPECT_EQ(call(Request("DeleteFile").str(terminal("sub"))), hex("00000000"));
    EXPECT_TRUE(QDir(local("sub")).exists());
}

TEST_F(PathCommands, ReadOnlyFilesStay)
{
    ASSERT_TRUE(writeAll(local("ro.txt"), "keep"));
    ASSERT_TRUE(QFile::setPermissions(local("ro.txt"), QFile::ReadOwner | QFile::ReadOther));
    EXPECT_EQ(call(Request("DeleteFile").str("ro.txt")), hex("00000000"));
    EXPECT_EQ(call(Request("CreateFile").str("ro.txt")), hex("00000000"));
    EXPECT_EQ(readAll(local("ro.txt")), QByteArray("keep"));
}

TEST_F(PathCommands, CreateAndDeleteFolders)
{
    EXPECT_EQ(call(Request("CreateDir").str(terminal("one"))), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("CreateDir (") + terminal("one")
                               + QStringLiteral(")\nresult = 1"));
    EXPECT_TRUE(QDir(local("one")).exists());
    EXPECT_EQ(call(Request("CreateDir").str(terminal("one"))), hex("00000000"));
    EXPECT_EQ(call(Request("CreateDir").str("ONE")), hex("00000000")); // the same folder
    EXPECT_EQ(call(Request("CreateDir").str(terminal("none\\two"))), hex("00000000"));
    EXPECT_FALSE(QDir(local("none")).exists());
    EXPECT_EQ(call(Request("CreateDir").str("One\\Two")), hex("00000001"));
    EXPECT_TRUE(QDir(local("one/Two")).exists());

    ASSERT_TRUE(writeAll(local("one/Two/f.txt"), "x"));
    EXPECT_EQ(call(Request("DeleteDir").str("one\\two")), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("DeleteDir (one\\two)\nresult = 0"));
    EXPECT_TRUE(QDir(local("one/Two")).exists());
    ASSERT_TRUE(QFile::remove(local("one/Two/f.txt")));
    EXPECT_EQ(call(Request("DeleteDir").str("one\\two")), hex("00000001"));
    EXPECT_FALSE(QDir(local("one/Two")).exists());
    EXPECT_EQ(call(Request("DeleteDir").str("one\\two")), hex("00000000"));
}

TEST_F(PathCommands, GetFileDateInLocalTime)
{
    ASSERT_TRUE(writeAll(local("d.txt"), "x"));
    {
        QFile file(local("d.txt"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9), Qt::LocalTime),
                                     QFileDevice::FileModificationTime));
    }
    const QByteArray reply = call(Request("GetFileDate").str("D.TXT"));
    EXPECT_EQ(reply, hex("00000001 00000015") + "14:05:09 07.12.2026" + hex("0000"));
    EXPECT_EQ(reply.size(), 29);
    EXPECT_EQ(lastEntry(), QStringLiteral("GetFileDate (D.TXT)\nresult = 1, date = 14:05:09 07.12.2026"));

    EXPECT_EQ(call(Request("GetFileDate").str("missing.txt")), hex("00000000 00000002 0000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("GetFileDate (missing.txt)\nresult = 0, date = "));
}

TEST_F(Searches, FilesOfAPatternOneAtATime)
{
    ASSERT_TRUE(QDir().mkdir(local("data")));
    for (const char *name : {"a.txt", "B.TXT", "c.csv"})
        ASSERT_TRUE(writeAll(local(QStringLiteral("data/") + QLatin1String(name)), "x"));
    const QString pattern = terminal("DATA\\*.txt");

    EXPECT_EQ(call(Request("FindFirstFile").str(pattern)), hex("00000001 00000001") + nameText("a.txt"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindFirstFile (") + pattern
                               + QStringLiteral(")\nresult = 1, handle = 1, name = a.txt"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000001") + nameText("B.TXT"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindNextFile (1)\nresult = 1, name = B.TXT"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000000 00000002 0000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindNextFile (1)\nresult = 0, name = "));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000000 00000002 0000"));

    // A file search that finds nothing still uses its number.
    EXPECT_EQ(call(Request("FindFirstFile").str(terminal("data\\*.doc"))),
              hex("00000000 00000002 00000002 0000"));
    EXPECT_EQ(call(Request("FindFirstFile").str(terminal("nowhere\\*"))),
              hex("00000000 00000003 00000002 0000"));
    EXPECT_EQ(call(Request("FindFirstFile").str("\\\\server\\share\\*")),
              hex("00000000 00000004 00000002 0000"));
    EXPECT_EQ(call(Request("FindFirstFile").str(terminal("data\\c.*"))),
              hex("00000001 00000005") + nameText("c.csv"));
}

TEST_F(Searches, NamesComeSortedIgnoringCase)
{
    ASSERT_TRUE(QDir().mkdir(local("s")));
    for (const char *name : {"gamma.d", "Delta.d", "beta.d", "Alpha.d", ".hidden.d"})
        ASSERT_TRUE(writeAll(local(QStringLiteral("s/") + QLatin1String(name)), "x"));
    ASSERT_TRUE(QDir().mkdir(local("s/Folder.d")));

    QStringList found;
    const QByteArray first = call(Request("FindFirstFile").str("S\\*.D"));
    ASSERT_EQ(first.left(8), hex("00000001 00000001"));
    found.append(QString::fromLatin1(first.mid(12, first.size() - 14)));
    for (;;) {
        const QByteArray next = call(Request("FindNextFile").word(1));
        if (next.left(4) != hex("00000001"))
            break;
        found.append(QString::fromLatin1(next.mid(8, next.size() - 10)));
    }
    EXPECT_EQ(found, QStringList({"Alpha.d", "beta.d", "Delta.d", "gamma.d"}));
}

TEST_F(Searches, DirectorySearchesCarryTheOffset)
{
    ASSERT_TRUE(QDir().mkdir(local("top")));
    for (const char *name : {"data", "data.old", "Logs", ".git"})
        ASSERT_TRUE(QDir().mkdir(local(QStringLiteral("top/") + QLatin1String(name))));
    ASSERT_TRUE(writeAll(local("top/file.txt"), "x"));

    // A pattern that ends with a separator finds only names with a dot.
    const QString pattern = terminal("top") + QStringLiteral("\\");
    EXPECT_EQ(call(Request("FindFirstDir").str(pattern)), hex("00000001 000186A1") + nameText("data.old"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindFirstDir (") + pattern
                               + QStringLiteral(")\nresult = 1, handle = 100001, name = data.old"));
    EXPECT_EQ(call(Request("FindNextDir").word(100001)), hex("00000000 00000002 0000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindNextDir (100001)\nresult = 0, name = "));

    // File and directory numbers run apart; "." and ".." and hidden folders never show.
    EXPECT_EQ(call(Request("FindFirstFile").str("top\\*")), hex("00000001 00000001") + nameText("file.txt"));
    EXPECT_EQ(call(Request("FindFirstDir").str("top\\*")), hex("00000001 000186A2") + nameText("data"));
    EXPECT_EQ(call(Request("FindNextDir").word(100002)), hex("00000001") + nameText("data.old"));
    EXPECT_EQ(call(Request("FindNextDir").word(100002)), hex("00000001") + nameText("Logs"));
    EXPECT_EQ(call(Request("FindNextDir").word(100002)), hex("00000000 00000002 0000"));

    // A directory search that finds nothing answers its bare number.
    EXPECT_EQ(call(Request("FindFirstDir").str("top\\*.none")), hex("00000000 00000003 00000002 0000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindFirstDir (top\\*.none)\nresult = 0, handle = 3, name = "));

    // Numbers that no search can have, at the ends of the range.
    EXPECT_EQ(call(Request("FindNextDir").word(0x80000000)), hex("00000000 00000002 0000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindNextDir (-2147483648)\nresult = 0, name = "));
    EXPECT_EQ(call(Request("FindNextDir").word(0x7FFFFFFF)), hex("00000000 00000002 0000"));
    EXPECT_EQ(call(Request("FindClose").word(0x80000000)), hex("00000000"));
    EXPECT_EQ(call(Request("FindClose").word(0x7FFFFFFF)), hex("00000000"));
}

TEST_F(Searches, FindCloseTellsTheListsApart)
{
    ASSERT_TRUE(QDir().mkdir(local("d")));
    ASSERT_TRUE(writeAll(local("d/x.txt"), "x"));
    ASSERT_TRUE(QDir().mkdir(local("d/sub")));
    ASSERT_EQ(call(Request("FindFirstFile").str("d\\*")).left(8), hex("00000001 00000001"));
    ASSERT_EQ(call(Request("FindFirstDir").str("d\\*")).left(8), hex("00000001 000186A1"));

    EXPECT_EQ(call(Request("FindClose").word(100001)), hex("00000001"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindClose (100001)\nresult = 1"));
    EXPECT_EQ(call(Request("FindClose").word(100001)), hex("00000000"));
    // The file search 1 is still open until closed itself.
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000000 00000002 0000"));
    EXPECT_EQ(call(Request("FindClose").word(1)), hex("00000001"));
    EXPECT_EQ(call(Request("FindClose").word(1)), hex("00000000"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindClose (1)\nresult = 0"));
    // Closed numbers are not given out again.
    EXPECT_EQ(call(Request("FindFirstFile").str("d\\*")).left(8), hex("00000001 00000002"));
    EXPECT_EQ(call(Request("FindFirstDir").str("d\\*")).left(8), hex("00000001 000186A2"));
}

TEST_F(Searches, FullVariantsAreThePlainCommands)
{
    ASSERT_TRUE(writeAll(local("one.dat"), "x"));
    ASSERT_TRUE(writeAll(local("two.dat"), "x"));

    const QByteArray plain = call(Request("FindFirstFile").str("*.dat"));
    const QString plainLog = lastEntry();
    const QByteArray full = call(Request("FindFirstFileFull").str("*.dat"));
    EXPECT_EQ(plain, hex("00000001 00000001") + nameText("one.dat"));
    EXPECT_EQ(full, hex("00000001 00000002") + nameText("one.dat"));
    EXPECT_EQ(plainLog, QStringLiteral("FindFirstFile (*.dat)\nresult = 1, handle = 1, name = one.dat"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindFirstFile (*.dat)\nresult = 1, handle = 2, name = one.dat"));

    EXPECT_EQ(call(Request("FindNextFileFull").word(2)), hex("00000001") + nameText("two.dat"));
    EXPECT_EQ(lastEntry(), QStringLiteral("FindNextFile (2)\nresult = 1, name = two.dat"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000001") + nameText("two.dat"));
}

TEST_F(Searches, NamesFoundAreFixedAtTheStart)
{
    ASSERT_TRUE(writeAll(local("1.dat"), "x"));
    ASSERT_TRUE(writeAll(local("2.dat"), "x"));
    ASSERT_EQ(call(Request("FindFirstFile").str("*.dat")), hex("00000001 00000001") + nameText("1.dat"));
    ASSERT_TRUE(QFile::remove(local("2.dat")));
    ASSERT_TRUE(writeAll(local("3.dat"), "x"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000001") + nameText("2.dat"));
    EXPECT_EQ(call(Request("FindNextFile").word(1)), hex("00000000 00000002 0000"));
}
