#include "PDebugLog.h"
#include "PLanguages.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kFixture = QStringLiteral(FIXTURE_QM_DIR "/vorelserver_de.qm");

class Catalogue : public ::testing::Test
{
protected:
    void TearDown() override { languages.init(); }

    void place(const QString &name, bool realTranslation = true)
    {
        if (realTranslation)
            ASSERT_TRUE(QFile::copy(kFixture, dir.file(name))) << name.toStdString();
        else
            ASSERT_TRUE(writeAll(dir.file(name), "not a translation"));
    }

    TempDir dir{true};
    const QString german = QLocale::languageToString(QLocale::German);
};

} // namespace

TEST_F(Catalogue, EmptyFolderListsOnlyEnglish)
{
    languages.init();
    EXPECT_FALSE(languages.contains(QStringLiteral("English"))) << "nothing before a scan";
    languages.scan();
    ASSERT_EQ(languages.list().size(), 1u);
    EXPECT_EQ(languages.list()[0].suffix, QStringLiteral("en"));
    EXPECT_EQ(languages.list()[0].name, QStringLiteral("English"));
    EXPECT_EQ(int(languages.list()[0].language), 31);
    EXPECT_EQ(languages.currentLanguage(), QStringLiteral("English"));
}

TEST_F(Catalogue, FileNameRules)
{
    place(QStringLiteral("vorelserver_de.qm"));
    place(QStringLiteral("VORELSERVER_ru.qm"));
    place(QStringLiteral("my_vorelserver_de.qm"));
    place(QStringLiteral("vorelserver_de.old.qm"));
    place(QStringLiteral("vorelserver_en.qm"));
    place(QStringLiteral("vorelserver_fr.QM"));
    place(QStringLiteral("vorelserver_it.txt"), false);
    languages.scan();

    QStringList suffixes;
    for (const PLanguageEntry &e : languages.list())
        suffixes << e.suffix;
    suffixes.sort();
    EXPECT_EQ(suffixes, (QStringList{QStringLiteral("de"), QStringLiteral("de"), QStringLiteral("en"),
                                     QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("my_de")}));
    EXPECT_EQ(languages.list()[0].name, QStringLiteral("English")) << "built-in entry first";
    EXPECT_EQ(languages.names().count(german), 2) << "vorelserver_de and vorelserver_de.old";
    // "my_de" is a locale code of its own (Burmese): the name follows the code, not the file name.
    EXPECT_TRUE(languages.contains(QLocale::languageToString(QLocale(QStringLiteral("my_de")).language())));
    EXPECT_EQ(languages.names().count(QStringLiteral("English")), 2);
    EXPECT_EQ(languages.suffix(QStringLiteral("Klingon")), QString());
}

TEST_F(Catalogue, SwitchingLanguageInstallsTheTranslation)
{
    place(QStringLiteral("vorelserver_de.qm"));
    languages.scan();
    ASSERT_TRUE(languages.contains(german));

    EXPECT_TRUE(languages.setLanguage(german));
    EXPECT_EQ(languages.currentLanguage(), german);
    EXPECT_EQ(QCoreApplication::translate("QObject", "Debug started"), QStringLiteral("Protokoll gestartet"));

    PDebugLog log(dir.file(QStringLiteral("log.txt")));
    ASSERT_TRUE(log.start());
    log.write(QStringLiteral("x"));
    log.stop();
    const QByteArray bytes = readAll(dir.file(QStringLiteral("log.txt")));
    EXPECT_TRUE(bytes.contains("VorelServer Version: 2.04 (x64) edition"));
    EXPECT_TRUE(bytes.contains("<<<Protokoll gestartet>>>"));
    EXPECT_TRUE(bytes.contains(" Sitzung: "));

    EXPECT_TRUE(languages.setLanguage(QStringLiteral("English")));
    EXPECT_EQ(QCoreApplication::translate("QObject", "Debug started"), QStringLiteral("Debug started"));
}

TEST_F(Catalogue, UnlistedNamesAndFailedLoads)
{
    place(QStringLiteral("vorelserver_de.qm"));
    place(QStringLiteral("vorelserver_ru.qm"), false);
    languages.scan();
    ASSERT_TRUE(languages.setLanguage(german));

    EXPECT_FALSE(languages.setLanguage(QStringLiteral("Klingon")));
    EXPECT_EQ(languages.currentLanguage(), german);
    EXPECT_EQ(QCoreApplication::translate("QObject", "Session:"), QStringLiteral("Sitzung:"));

    const QString russian = QLocale::languageToString(QLocale::Russian);
    EXPECT_FALSE(languages.setLanguage(russian)) << "the file is no translation";
    EXPECT_EQ(languages.currentLanguage(), russian) << "the name is current all the same";
    EXPECT_EQ(QCoreApplication::translate("QObject", "Session:"), QStringLiteral("Session:"));
    EXPECT_TRUE(languages.setLanguage(russian)) << "the current name again is a success";
}

TEST_F(Catalogue, PrefixedNameAsksForTheWrongFile)
{
    // my_vorelserver_de.qm lists as suffix my_de, whose file vorelserver_my_de.qm does not exist.
    place(QStringLiteral("my_vorelserver_de.qm"));
    languages.scan();
    const QString name = languages.list().back().name;
    EXPECT_EQ(languages.list().back().suffix, QStringLiteral("my_de"));
    EXPECT_FALSE(languages.setLanguage(name));
    place(QStringLiteral("vorelserver_my_de.qm"));
    languages.setLanguage(QStringLiteral("English"));
    EXPECT_TRUE(languages.setLanguage(name));
}
