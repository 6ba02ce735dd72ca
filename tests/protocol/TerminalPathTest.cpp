#include "TerminalPath.h"
#include "TestSeams.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using platform::mapTerminalPath;
using platform::mapTerminalPattern;
using platform::matchesTerminalPattern;

namespace {

class TerminalPath : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("Data/Sub"))));
        ASSERT_TRUE(writeAll(dir.file(QStringLiteral("Data/Sub/File.TXT")), "x"));
    }

    QString mapped(const QString &text)
    {
        QString path;
        EXPECT_TRUE(mapTerminalPath(text, path)) << text.toStdString();
        return path;
    }

    // The temporary folder as a terminal names it: "C:\tmp\..."
    QString root() const { return QStringLiteral("C:") + QString(dir.path()).replace('/', '\\'); }

    TempDir dir{true};
};

} // namespace

TEST_F(TerminalPath, DriveLettersAndSeparators)
{
    EXPECT_EQ(mapped(QStringLiteral("C:\\DATA\\A.TXT")), QStringLiteral("/DATA/A.TXT"));
    EXPECT_EQ(mapped(QStringLiteral("d:/x/y")), QStringLiteral("/x/y"));
    EXPECT_EQ(mapped(QStringLiteral("\\x\\y")), QStringLiteral("/x/y"));
    EXPECT_EQ(mapped(QStringLiteral("C:x")), QStringLiteral("/x"));
    EXPECT_EQ(mapped(QStringLiteral("C:")), QStringLiteral("/"));
    EXPECT_EQ(mapped(QStringLiteral("C:\\")), QStringLiteral("/"));
    EXPECT_EQ(mapped(QStringLiteral("C:\\a\\\\b/")), QStringLiteral("/a/b/"));
    EXPECT_EQ(mapped(QString()), QString());
    // Not a drive: a digit before the colon is a name of the working folder.
    EXPECT_EQ(mapped(QStringLiteral("1:x")), dir.path() + QStringLiteral("/1:x"));
}

TEST_F(TerminalPath, RelativePathsStartAtTheWorkingFolder)
{
    EXPECT_EQ(mapped(QStringLiteral("Data\\Sub\\File.TXT")), dir.file(QStringLiteral("Data/Sub/File.TXT")));
    EXPECT_EQ(mapped(QStringLiteral(".")), dir.path());
    EXPECT_EQ(mapped(QStringLiteral(".\\new.txt")), dir.file(QStringLiteral("new.txt")));
}

TEST_F(TerminalPath, DotsResolveByTextAndStopAtTheRoot)
{
    EXPECT_EQ(mapped(QStringLiteral("C:\\..\\..\\etc")), QStringLiteral("/etc"));
    EXPECT_EQ(mapped(QStringLiteral("\\..")), QStringLiteral("/"));
    EXPECT_EQ(mapped(QStringLiteral("C:\\a\\.\\b\\..\\c")), QStringLiteral("/a/c"));
    EXPECT_EQ(mapped(root() + QStringLiteral("\\missing\\..\\data\\sub")),
              dir.file(QStringLiteral("Data/Sub")));
    // Enough ".." from the working folder reach the root and no further.
    QString up;
    for (int i = 0; i < 40; ++i)
        up += QStringLiteral("..\\");
    EXPECT_EQ(mapped(up + QStringLiteral("etc")), QStringLiteral("/etc"));
}

TEST_F(TerminalPath, NamesResolveIgnoringCase)
{
    EXPECT_EQ(mapped(root() + QStringLiteral("\\DATA\\sub\\file.txt")),
              dir.file(QStringLiteral("Data/Sub/File.TXT")));
    // What does not exist yet keeps the terminal's spelling, below the part that resolved.
    EXPECT_EQ(mapped(root() + QStringLiteral("\\data\\NEW\\Name.txt")),
              dir.file(QStringLiteral("Data/NEW/Name.txt")));
    EXPECT_EQ(mapped(root() + QStringLiteral("\\data\\")), dir.file(QStringLiteral("Data/")));

    // An exact name wins over other spellings; two other spellings are ambiguous.
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("Data/ab")), "1"));
    ASSERT_TRUE(writeAll(dir.file(QStringLiteral("Data/AB")), "2"));
    EXPECT_EQ(mapped(root() + QStringLiteral("\\data\\AB")), dir.file(QStringLiteral("Data/AB")));
    EXPECT_EQ(mapped(root() + QStringLiteral("\\data\\Ab")), dir.file(QStringLiteral("Data/Ab")));
    EXPECT_FALSE(QFile::exists(mapped(root() + QStringLiteral("\\data\\Ab"))));
}

TEST_F(TerminalPath, UncPathsFail)
{
    QString path = QStringLiteral("unchanged");
    EXPECT_FALSE(mapTerminalPath(QStringLiteral("\\\\server\\share\\a.txt"), path));
    EXPECT_TRUE(path.isEmpty());
    EXPECT_FALSE(mapTerminalPath(QStringLiteral("//server/share"), path));
    EXPECT_FALSE(mapTerminalPath(QStringLiteral("\\\\?\\C:\\a.txt"), path));
    QString folder;
    QString filter;
    EXPECT_FALSE(mapTerminalPattern(QStringLiteral("\\\\server\\share\\*.txt"), folder, filter));
}

TEST_F(TerminalPath, PatternsSplitAtTheLastSeparator)
{
    QString folder;
    QString filter;
    ASSERT_TRUE(mapTerminalPattern(root() + QStringLiteral("\\DATA\\*.txt"), folder, filter));
    EXPECT_EQ(folder, dir.file(QStringLiteral("Data")));
    EXPECT_EQ(filter, QStringLiteral("*.txt"));
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("data/sub/"), folder, filter));
    EXPECT_EQ(folder, dir.file(QStringLiteral("Data/Sub")));
    EXPECT_EQ(filter, QString());
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("*.*"), folder, filter));
    EXPECT_EQ(folder, dir.path());
    EXPECT_EQ(filter, QStringLiteral("*.*"));
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("C:*.txt"), folder, filter));
    EXPECT_EQ(folder, QStringLiteral("/"));
    EXPECT_EQ(filter, QStringLiteral("*.txt"));
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("\\*"), folder, filter));
    EXPECT_EQ(folder, QStringLiteral("/"));
}

// The fuzz targets' confinement: whatever a terminal writes, the path stays inside the folder,
// with the same rules as on the whole machine; unset, the machine's root is back.
TEST_F(TerminalPath, AConfiningRootHoldsEveryPath)
{
    const QString inside = dir.file(QStringLiteral("Data"));
    struct Unconfine
    {
        ~Unconfine() { platform::setTerminalRootForTesting(QString()); } // even when a check fails early
    } unconfine;
    EXPECT_EQ(platform::setTerminalRootForTesting(inside), QString());
    EXPECT_EQ(mapped(QStringLiteral("C:\\SUB\\file.txt")), inside + QStringLiteral("/Sub/File.TXT"));
    EXPECT_EQ(mapped(QStringLiteral("C:\\..\\..\\etc\\passwd")), inside + QStringLiteral("/etc/passwd"));
    EXPECT_EQ(mapped(QStringLiteral("..\\x")), inside + QStringLiteral("/x"));
    EXPECT_EQ(mapped(QStringLiteral("sub\\")), inside + QStringLiteral("/Sub/"));
    EXPECT_EQ(mapped(QStringLiteral("\\")), inside + QStringLiteral("/"));
    QString path;
    EXPECT_FALSE(mapTerminalPath(QStringLiteral("\\\\server\\share"), path));
    QString folder;
    QString filter;
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("*.txt"), folder, filter));
    EXPECT_EQ(folder, inside);
    ASSERT_TRUE(mapTerminalPattern(QStringLiteral("C:\\..\\*"), folder, filter));
    EXPECT_EQ(folder, inside);

    EXPECT_EQ(platform::setTerminalRootForTesting(QString()), inside);
    EXPECT_EQ(mapped(QStringLiteral("C:\\etc")), QStringLiteral("/etc"));
    EXPECT_EQ(mapped(QStringLiteral("Data")), inside);
}

namespace {

struct MatchRow
{
    const char *label;
    const char *name;
    const char *filter;
    bool matches;
};

class TerminalPattern : public ::testing::TestWithParam<MatchRow>
{
};

} // namespace

TEST_P(TerminalPattern, Matches)
{
    EXPECT_EQ(matchesTerminalPattern(QString::fromUtf8(GetParam().name),
                                     QString::fromUtf8(GetParam().filter)),
              GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TerminalPattern,
    ::testing::Values(MatchRow{"StarMatchesAll", "abc.txt", "*", true},
                      MatchRow{"StarDotStarNeedsADot", "data", "*.*", false},
                      MatchRow{"StarDotStarWithDot", "data.old", "*.*", true},
                      MatchRow{"CaseIgnored", "README.Txt", "*.tXT", true},
                      MatchRow{"CyrillicCaseIgnored", "\xD0\xB0.txt", "\xD0\x90.TXT", true},
                      MatchRow{"QuestionIsOneCharacter", "ab.txt", "a?.txt", true},
                      MatchRow{"QuestionIsNotNone", "a.txt", "a?.txt", false},
                      MatchRow{"WholeNameMustMatch", "abc.txt.bak", "*.txt", false},
                      MatchRow{"StarInTheMiddle", "report-2024.csv", "rep*24.c?v", true},
                      MatchRow{"BacktrackingStar", "aXbXc", "*X*c", true},
                      MatchRow{"BracketsAreLiteral", "a[1].txt", "a[1].txt", true},
                      MatchRow{"BracketsAreNoSet", "a1.txt", "a[1].txt", false},
                      MatchRow{"EmptyFilterOnlyEmpty", "x", "", false}),
    [](const ::testing::TestParamInfo<MatchRow> &info) { return std::string(info.param.label); });

TEST(TerminalFolder, ListsOneKindSortedByUpperCase)
{
    TempDir dir;
    for (const char *name : {"b.txt", "A.txt", "C.TXT", ".hidden.txt", "d.csv"})
        ASSERT_TRUE(writeAll(dir.file(QLatin1String(name)), "x"));
    ASSERT_TRUE(QDir().mkdir(dir.file(QStringLiteral("B.dir.txt"))));

    EXPECT_EQ(platform::listTerminalFolder(dir.path(), QStringLiteral("*.txt"), platform::EntryKind::Files),
              QStringList({"A.txt", "b.txt", "C.TXT"}));
    EXPECT_EQ(platform::listTerminalFolder(dir.path(), QStringLiteral("*"), platform::EntryKind::Dirs),
              QStringList({"B.dir.txt"}));
    EXPECT_TRUE(platform::listTerminalFolder(dir.file(QStringLiteral("none")), QStringLiteral("*"),
                                             platform::EntryKind::Files)
                    .isEmpty());
}
