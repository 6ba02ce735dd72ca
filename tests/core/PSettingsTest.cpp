#include "PLanguages.h"
#include "PSettings.h"
#include "TempDir.h"
#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kDefaultLine3 =
    " <Settings runAtStartup=\"0\" runMinimized=\"0\" minimizeToTray=\"1\" createDebug=\"0\" "
    "terminalCharset=\"CP1251\" tableCharset=\"CP1251\" networkPort=\"2000\" networkTimeout=\"30\" "
    "tableDelimeter=\"59\" networkEnable=\"1\" bluetoothEnable=\"0\" irdaNormalEnable=\"0\" "
    "irdaIrcommEnable=\"0\" casioN60Enable=\"0\" language=\"English\"/>";

QByteArray defaultFile(const char *version)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VorelServer version=\"") + version
        + "\">\n" + kDefaultLine3 + "\n</VorelServer>\n";
}

PSettings defaults()
{
    PSettings s;
    s.setDefaults();
    return s;
}

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { versionText = QStringLiteral("2.04"); }
    void TearDown() override { versionText = QStringLiteral("2.04"); }

    // Loads `content` the way start-up does and returns what is in the record and the file after.
    PSettings startUpWith(const QByteArray &content)
    {
        writeAll(path, content);
        said.clear();
        loadSettings(path, [this](const QString &text) { said << text; });
        return settings.snapshot();
    }

    TempDir dir;
    QString path = dir.file(QStringLiteral("VorelServer_settings.xml"));
    QString kept = path + QStringLiteral(".bad");
    QStringList said;
};

} // namespace

TEST_F(SettingsFile, DefaultFileIsByteIdenticalForBothPrograms)
{
    for (const char *version : {"2.04", "2.05"}) {
        versionText = QString::fromLatin1(version);
        QFile::remove(path);
        loadSettings(path, [this](const QString &text) { said << text; });
        EXPECT_EQ(readAll(path), defaultFile(version)) << version;
        EXPECT_TRUE(!QFile::exists(kept) && said.isEmpty());
        EXPECT_TRUE(settings.snapshot() == defaults());
    }
}

TEST_F(SettingsFile, EitherProgramReadsTheOthersFile)
{
    versionText = QStringLiteral("2.05");
    PSettings s = defaults();
    s.networkPort = 4321;
    ASSERT_TRUE(s.save(path));
    versionText = QStringLiteral("2.04");
    PSettings back = defaults();
    ASSERT_TRUE(back.load(path));
    EXPECT_TRUE(back == s);
}

TEST_F(SettingsFile, InvalidFilesAreReplacedByDefaults)
{
    const QByteArray cases[] = {
        "<?xml version=\"1.0\"?>\n<vorelserver version=\"2.04\">\n <Settings networkPort=\"7\"/>\n</vorelserver>\n",
        "<VorelServer>\n <Group>\n  <Settings networkPort=\"7\"/>\n </Group>\n</VorelServer>\n",
        "<VorelServer><Settings networkPort=\"7\"",
        "",
    };
    ASSERT_TRUE(writeAll(kept, "an older damaged file"));
    for (const QByteArray &content : cases) {
        const PSettings s = startUpWith(content);
        EXPECT_EQ(s.networkPort, 2000) << content.constData();
        EXPECT_EQ(readAll(path), defaultFile("2.04")) << content.constData();
        EXPECT_EQ(readAll(kept), content);
        EXPECT_EQ(said, QStringList(QStringLiteral("The settings file %1 is not a valid settings file; it is kept "
                                                   "beside it as VorelServer_settings.xml.bad and the defaults "
                                                   "are written in its place").arg(path)));
    }
    ASSERT_TRUE(QFile::remove(kept) && QDir().mkpath(kept)); // no copy can be kept: the file stays
    startUpWith(cases[0]);
    EXPECT_TRUE(readAll(path) == cases[0] && said.value(0).contains(QStringLiteral("cannot be kept")));
}

TEST_F(SettingsFile, SettingsWithoutAttributesZeroFlagsAndNumbersAndKeepTexts)
{
    const QByteArray content = "<VorelServer version=\"1\"><Settings/></VorelServer>";
    const PSettings s = startUpWith(content);
    EXPECT_EQ(s.runAtStartup + s.runMinimized + s.minimizeToTray + s.createDebug + s.networkEnable
                  + s.bluetoothEnable + s.irdaNormalEnable + s.irdaIrcommEnable + s.casioN60Enable,
              0);
    EXPECT_EQ(s.networkPort, 0);
    EXPECT_EQ(s.networkTimeout, 0);
    EXPECT_EQ(s.tableDelimeter, 0);
    EXPECT_EQ(s.terminalCharset, QStringLiteral("CP1251"));
    EXPECT_EQ(s.tableCharset, QStringLiteral("CP1251"));
    EXPECT_EQ(s.language, defaults().language);
    EXPECT_EQ(readAll(path), content) << "a file that was read is never rewritten";
}

TEST_F(SettingsFile, AttributeValueRules)
{
    struct Row { const char *value; quint8 flag; };
    for (const Row &row : {Row{"1", 1}, Row{"2", 0}, Row{"true", 0}, Row{"", 0}, Row{"01", 1}}) {
        const PSettings s = startUpWith(QByteArray("<VorelServer><Settings createDebug=\"") + row.value
                                        + "\"/></VorelServer>");
        EXPECT_EQ(s.createDebug, row.flag) << row.value;
    }
    PSettings s = startUpWith("<VorelServer><Settings networkPort=\"abc\" networkTimeout=\"-5\" "
                              "language=\"\" tableCharset=\"KOI8-R\"/></VorelServer>");
    EXPECT_EQ(s.networkPort, 0);
    EXPECT_EQ(s.networkTimeout, -5);
    EXPECT_EQ(s.language, QString());
    EXPECT_EQ(s.tableCharset, QStringLiteral("KOI8-R"));
    EXPECT_TRUE(s.save(path));
    EXPECT_TRUE(readAll(path).contains(" networkTimeout=\"-5\" "));
    EXPECT_TRUE(readAll(path).contains(" language=\"\"/>"));
}

TEST_F(SettingsFile, TextsAreEscapedAndReadBack)
{
    PSettings s = defaults();
    s.terminalCharset = QStringLiteral("a\"<b>&c\td\ne");
    s.language = QString::fromUtf8("Русский");
    ASSERT_TRUE(s.save(path));
    PSettings back;
    ASSERT_TRUE(back.load(path));
    EXPECT_EQ(back.terminalCharset, s.terminalCharset);
    EXPECT_EQ(back.language, s.language);
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFileIntact)
{
    PSettings s = defaults();
    ASSERT_TRUE(s.save(path));
    const QByteArray before = readAll(path);

    EXPECT_FALSE(s.save(dir.file(QStringLiteral("missing/VorelServer_settings.xml"))));

    // A folder standing where the file would go cannot be replaced by a file.
    const QString blocked = dir.file(QStringLiteral("blocked.xml"));
    ASSERT_TRUE(QDir().mkpath(blocked + QStringLiteral("/inside")));
    EXPECT_FALSE(s.save(blocked));
    EXPECT_TRUE(QFileInfo(blocked + QStringLiteral("/inside")).isDir());

    s.networkPort = 1;
    EXPECT_TRUE(s.save(path));
    EXPECT_NE(readAll(path), before);
}

// A folder in the file's place stops even root; a file without read right only other users.
TEST_F(SettingsFile, AFileThatCannotBeReadIsLeftAloneAndSaidOnce)
{
    const QByteArray mine = "<VorelServer><Settings networkPort=\"7\"/></VorelServer>";
    for (const bool folder : {true, false}) {
        if (folder) {
            ASSERT_TRUE(QDir().mkpath(path));
        } else {
            ASSERT_TRUE(QDir(path).removeRecursively() && writeAll(path, mine));
            ASSERT_TRUE(QFile::setPermissions(path, QFile::WriteOwner));
            if (QFile(path).open(QIODevice::ReadOnly))
                continue; // root reads it all the same
        }
        said.clear();
        loadSettings(path, [this](const QString &text) { said << text; });
        EXPECT_TRUE(settings.snapshot() == defaults()) << "the program runs on with the defaults";
        EXPECT_EQ(QFileInfo(path).isDir(), folder) << "not replaced";
        EXPECT_FALSE(QFile::exists(kept));
        ASSERT_EQ(said.size(), 1) << folder;
        EXPECT_TRUE(said[0].startsWith(QStringLiteral("The settings file %1 cannot be read (").arg(path))) << said[0].toStdString();
        EXPECT_TRUE(said[0].endsWith(QStringLiteral("); it is left as it is and the defaults are used this run")));
    }
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(readAll(path), mine) << "not replaced";
}

// Two copies started at once: the other one may put its defaults in the damaged file's place
// before this one keeps it. What is kept is what was judged damaged, not the file read again.
TEST_F(SettingsFile, TheKeptCopyHoldsTheBytesThatWereRead)
{
    // A FIFO hands its bytes to one read: a second open of the file reads only what comes next.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    // The same FIFO under a name that the defaults, saved in the file's place, leave alone.
    const QByteArray fifo = QFile::encodeName(dir.file(QStringLiteral("fifo")));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), fifo.constData()), 0);
    std::future<void> loading = std::async(std::launch::async, [this]() {
        loadSettings(path, [this](const QString &text) { said << text; });
    });
    const QByteArray damaged = "<VorelServer><Settings networkPort=\"7\"";
    const int writer = ::open(fifo.constData(), O_WRONLY); // once the start-up opens the file
    const bool written = writer >= 0 && ::write(writer, damaged.constData(), size_t(damaged.size())) == damaged.size();
    ::close(writer);
    // A second open of the file finds a writer that has nothing more to say.
    while (loading.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int empty = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (empty >= 0)
            ::close(empty);
    }
    ASSERT_TRUE(written);
    EXPECT_EQ(readAll(kept), damaged);
    EXPECT_EQ(readAll(path), defaultFile("2.04"));
    EXPECT_EQ(said.size(), 1);
}

TEST(SettingsRecord, ComparesEveryFieldExactly)
{
    PSettings a = defaults();
    PSettings b = a;
    EXPECT_TRUE(a == b);
    b.terminalCharset = QStringLiteral("cp1251");
    EXPECT_FALSE(a == b) << "letter case counts";
    b = a;
    b.casioN60Enable = 1;
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(PSettings() == PSettings());
    EXPECT_EQ(PSettings().networkPort, 0);
    EXPECT_TRUE(PSettings().language.isEmpty());
}

TEST(SettingsRecord, DefaultLanguageComesFromTheCatalogue)
{
    languages.init();
    EXPECT_EQ(defaults().language, QStringLiteral("English")) << "an empty catalogue lists nothing";
}

TEST(SharedSettings, ReadersSeeWholeRecordsWhileAWriterStores)
{
    PSettings a = defaults();
    PSettings b = defaults();
    b.terminalCharset = QStringLiteral("KOI8-R");
    b.tableCharset = QStringLiteral("KOI8-R");
    b.networkPort = 9999;
    settings.store(a);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const PSettings s = settings.snapshot();
                const bool isA = s == a;
                const bool isB = s == b;
                if (!isA && !isB)
                    ++torn;
                ++reads;
            }
        });
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (int n = 0; std::chrono::steady_clock::now() < end; ++n)
        settings.store(n % 2 ? a : b);
    stop = true;
    for (auto &t : readers)
        t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
}
