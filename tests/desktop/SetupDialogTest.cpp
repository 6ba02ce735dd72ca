#include "DesktopSupport.h"
#include "PLanguages.h"
#include "SetupDialog.h"
#include "TempDir.h"
#include "TransportSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <ostream>

namespace {

class Setup : public ::testing::Test
{
protected:
    // Runs the dialog with `work` done on it once it shows; returns the dialog's result.
    int run(SetupDialog &dialog, const std::function<void(SetupDialog &)> &work)
    {
        QTimer::singleShot(0, &dialog, [&] { work(dialog); });
        return dialog.exec();
    }

    static void ok(SetupDialog &dialog) { dialog.ui.buttonBox->button(QDialogButtonBox::Ok)->click(); }

    TempDir dir{true};
    DialogRadio radio;
    QString file() const { return dir.file(QStringLiteral("VorelServer_settings.xml")); }
};

PSettings unusual()
{
    PSettings s;
    s.runAtStartup = 1;
    s.runMinimized = 1;
    s.minimizeToTray = 0;
    s.createDebug = 1;
    s.terminalCharset = QStringLiteral("UTF-8");
    s.tableCharset = QStringLiteral("ISO-8859-5");
    s.networkPort = 4321;
    s.networkTimeout = 99999;
    s.tableDelimeter = 9;
    s.networkEnable = 0;
    s.bluetoothEnable = 1;
    s.irdaNormalEnable = 1;
    s.irdaIrcommEnable = 1;
    s.casioN60Enable = 1;
    s.language = QStringLiteral("English");
    return s;
}

TEST_F(Setup, ShowsEveryFieldAndStoresAndSavesEveryChangeOnYes)
{
    languages.scan();
    const PSettings start = unusual();
    ScopedSettings chosen([&](PSettings &s) { s = start; });
    BoxRecorder boxes(QMessageBox::Yes);
    SetupDialog dialog(nullptr);
    PSettings shown;
    const int result = run(dialog, [&](SetupDialog &d) {
        const Ui_SetupDialog &ui = d.ui;
        EXPECT_EQ(ui.tabWidget->currentIndex(), 0);
        shown.runAtStartup = ui.checkBoxRunAtStartup->isChecked();
        shown.runMinimized = ui.checkBoxRunMinimized->isChecked();
        shown.minimizeToTray = ui.checkBoxMinimizeToTray->isChecked();
        shown.createDebug = ui.checkBoxCreateDebug->isChecked();
        shown.terminalCharset = ui.comboBoxTerminalCharset->currentText();
        shown.tableCharset = ui.comboBoxDataCharset->currentText();
        shown.networkPort = ui.spinBoxNetworkPort->value();
        shown.networkTimeout = ui.spinBoxNetworkTimeout->value();
        shown.tableDelimeter = ui.spinBoxDataDelimeter->value();
        shown.networkEnable = ui.checkBoxEnableNetwork->isChecked();
        shown.bluetoothEnable = ui.checkBoxEnableBluetooth->isChecked();
        shown.irdaNormalEnable = ui.checkBoxIrdaNormal->isChecked();
        shown.irdaIrcommEnable = ui.checkBoxIrdaIrcomm->isChecked();
        shown.casioN60Enable = ui.checkBoxCasioN60->isChecked();
        shown.language = ui.comboBoxLanguage->currentText();

        // Every control turned the other way.
        ui.checkBoxRunAtStartup->setChecked(false);
        ui.checkBoxRunMinimized->setChecked(false);
        ui.checkBoxMinimizeToTray->setChecked(true);
        ui.checkBoxCreateDebug->setChecked(false);
        ui.comboBoxTerminalCharset->setCurrentText(QStringLiteral("CP1251"));
        ui.comboBoxDataCharset->setCurrentText(QStringLiteral("KOI8-R"));
        ui.spinBoxNetworkPort->setValue(65535);
        ui.spinBoxNetworkTimeout->setValue(0);
        ui.spinBoxDataDelimeter->setValue(254);
        ui.checkBoxEnableNetwork->setChecked(true);
        ui.checkBoxEnableBluetooth->setChecked(false);
        ui.checkBoxIrdaNormal->setChecked(false);
        ui.checkBoxIrdaIrcomm->setChecked(false);
        ui.checkBoxCasioN60->setChecked(false);
        ok(d);
    });
    EXPECT_TRUE(shown == start) << "the form did not show the settings";

    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes.first().kind, PMessageBox::Kind::Question);
    EXPECT_EQ(boxes.boxes.first().title, QStringLiteral("Confirmation"));
    EXPECT_EQ(boxes.boxes.first().text, QStringLiteral("Save settings?"));
    EXPECT_EQ(boxes.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);

    PSettings expected;
    expected.minimizeToTray = 1;
    expected.terminalCharset = QStringLiteral("CP1251");
    expected.tableCharset = QStringLiteral("KOI8-R");
    expected.networkPort = 65535;
    expected.networkTimeout = 0;
    expected.tableDelimeter = 254;
    expected.networkEnable = 1;
    expected.language = QStringLiteral("English");
    EXPECT_TRUE(settings.snapshot() == expected);
    PSettings saved;
    ASSERT_TRUE(saved.load(file()));
    EXPECT_TRUE(saved == expected);
    languages.init();
}

TEST_F(Setup, OkWithoutChangesAsksNothingAndWritesNothing)
{
    languages.scan();
    ScopedSettings chosen;
    BoxRecorder boxes(QMessageBox::Yes);
    SetupDialog dialog(nullptr);
    EXPECT_EQ(run(dialog, ok), QDialog::Accepted);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(file()));
    languages.init();
}

TEST_F(Setup, NoToSaveSettingsRejectsAndKeepsTheOldValues)
{
    languages.scan();
    ScopedSettings chosen;
    const PSettings before = settings.snapshot();
    BoxRecorder boxes(QMessageBox::No);
    SetupDialog dialog(nullptr);
    const int result = run(dialog, [](SetupDialog &d) {
        d.ui.checkBoxCasioN60->setChecked(true);
        ok(d);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Save settings?")});
    EXPECT_TRUE(settings.snapshot() == before);
    EXPECT_FALSE(QFile::exists(file()));
    languages.init();
}

TEST_F(Setup, AFailedSaveIsReportedAndTheNewValuesStayInUse)
{
    languages.scan();
    ScopedSettings chosen;
    // A folder in the file's place: no file can be written there, even by root.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("VorelServer_settings.xml")));
    BoxRecorder boxes(QMessageBox::Yes);
    SetupDialog dialog(nullptr);
    const int result = run(dialog, [](SetupDialog &d) {
        d.ui.spinBoxNetworkPort->setValue(2345);
        ok(d);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(boxes.boxes.size(), 2);
    const PMessageBox::Box &error = boxes.boxes.at(1);
    EXPECT_EQ(error.kind, PMessageBox::Kind::Critical);
    EXPECT_EQ(error.title, QStringLiteral("Error"));
    EXPECT_EQ(error.text, QStringLiteral("Unable to save the settings file %1")
                              .arg(QDir::toNativeSeparators(QFileInfo(file()).absoluteFilePath())));
    EXPECT_EQ(error.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(settings.snapshot().networkPort, 2345);
    languages.init();
}

// ---- Charsets -------------------------------------------------------------------------------

TEST_F(Setup, CharsetListsAreUpperCaseUniqueShortAndSorted)
{
    SetupDialog dialog(nullptr);
    QStringList names;
    for (int i = 0; i < dialog.ui.comboBoxDataCharset->count(); ++i)
        names << dialog.ui.comboBoxDataCharset->itemText(i);
    ASSERT_FALSE(names.isEmpty());
    EXPECT_TRUE(names.contains(QStringLiteral("CP1251")));
    EXPECT_TRUE(names.contains(QStringLiteral("UTF-8")));
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(names.removeDuplicates(), 0);
    for (const QString &name : names) {
        EXPECT_EQ(name, name.toUpper());
        EXPECT_LT(name.size(), 20) << name.toStdString();
    }
    QStringList terminal;
    for (int i = 0; i < dialog.ui.comboBoxTerminalCharset->count(); ++i)
        terminal << dialog.ui.comboBoxTerminalCharset->itemText(i);
    EXPECT_EQ(terminal, names);
}

struct CharsetRow
{
    const char *name;
    const char *stored;
    const char *selected;
};

void PrintTo(const CharsetRow &row, std::ostream *out)
{
    *out << row.name;
}

class StoredCharset : public Setup, public ::testing::WithParamInterface<CharsetRow>
{
};

TEST_P(StoredCharset, IsShownAndSurvivesAnotherChange)
{
    languages.scan();
    const CharsetRow &row = GetParam();
    ScopedSettings chosen([&](PSettings &s) {
        s.tableCharset = QString::fromLatin1(row.stored);
        s.terminalCharset = QString::fromLatin1(row.stored);
    });
    BoxRecorder boxes(QMessageBox::Yes);
    SetupDialog dialog(nullptr);
    QString table;
    QString terminal;
    run(dialog, [&](SetupDialog &d) {
        table = d.ui.comboBoxDataCharset->currentText();
        terminal = d.ui.comboBoxTerminalCharset->currentText();
        d.ui.checkBoxIrdaNormal->setChecked(true);
        ok(d);
    });
    EXPECT_EQ(table, QString::fromLatin1(row.selected));
    EXPECT_EQ(terminal, QString::fromLatin1(row.selected));
    EXPECT_EQ(settings.snapshot().tableCharset, QString::fromLatin1(row.selected));
    EXPECT_EQ(settings.snapshot().terminalCharset, QString::fromLatin1(row.selected));
    EXPECT_EQ(settings.snapshot().irdaNormalEnable, 1);
    languages.init();
}

INSTANTIATE_TEST_SUITE_P(Names, StoredCharset,
                         ::testing::Values(CharsetRow{"Listed", "CP1251", "CP1251"},
                                           CharsetRow{"OtherLetterCase", "koi8-r", "KOI8-R"},
                                           CharsetRow{"Unknown", "X-OLD-TERMINAL", "X-OLD-TERMINAL"},
                                           CharsetRow{"Empty", "", ""}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Delimiter ------------------------------------------------------------------------------

struct DelimiterRow
{
    const char *name;
    int value;
    int held;
    const char *shown;
};

void PrintTo(const DelimiterRow &row, std::ostream *out)
{
    *out << row.name;
}

class Delimiter : public ::testing::TestWithParam<DelimiterRow>
{
protected:
    DialogRadio radio;
};

TEST_P(Delimiter, ShowsPrintableCodesAsTheirCharacter)
{
    const DelimiterRow &row = GetParam();
    SetupDialog dialog(nullptr);
    dialog.ui.spinBoxDataDelimeter->setValue(row.value == 59 ? 60 : 59);
    dialog.ui.spinBoxDataDelimeter->setValue(row.value);
    EXPECT_EQ(dialog.ui.spinBoxDataDelimeter->value(), row.held);
    EXPECT_EQ(dialog.ui.toolButtonDelimeter->text(), QString::fromUtf8(row.shown));
}

INSTANTIATE_TEST_SUITE_P(Codes, Delimiter,
                         ::testing::Values(DelimiterRow{"Semicolon", 59, 59, ";"},
                                           DelimiterRow{"FirstPrintable", 33, 33, "!"},
                                           DelimiterRow{"LastPrintable", 126, 126, "~"},
                                           DelimiterRow{"Blank", 32, 32, "--"},
                                           DelimiterRow{"Delete", 127, 127, "--"},
                                           DelimiterRow{"BelowRange", 0, 1, "--"},
                                           DelimiterRow{"AboveRange", 255, 254, "--"}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Language -------------------------------------------------------------------------------

TEST_F(Setup, ChoosingALanguageRetranslatesTheWholeDialogAtOnce)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(FIXTURE_QM_DIR "/vorelserver_de.qm"), dir.file("vorelserver_de.qm")));
    languages.scan();
    const QString german = QLocale::languageToString(QLocale::German);
    ASSERT_TRUE(languages.contains(german));
    ScopedSettings chosen([](PSettings &s) {
        s.language = QStringLiteral("English");
        s.tableDelimeter = 59;
    });
    BoxRecorder boxes(QMessageBox::Yes);
    SetupDialog dialog(nullptr);
    EXPECT_EQ(dialog.ui.comboBoxLanguage->count(), 2);
    const int result = run(dialog, [&](SetupDialog &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("VorelServer setup"));
        d.ui.spinBoxDataDelimeter->setValue(44);
        d.ui.comboBoxLanguage->setCurrentText(german);
        EXPECT_EQ(languages.currentLanguage(), german);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("VorelServer-Einstellungen"));
        EXPECT_EQ(d.ui.tabWidget->tabText(0), QStringLiteral("Netzwerk"));
        EXPECT_EQ(d.ui.tabWidget->tabText(5), QStringLiteral("Endgerät"));
        // The placeholders are filled again: the delimiter the box holds now, the radio line.
        EXPECT_EQ(d.ui.toolButtonDelimeter->text(), QStringLiteral(","));
        EXPECT_EQ(d.ui.labelBtName->text(), QStringLiteral("<font color = red>nicht gefunden</font>"));
        ok(d);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(settings.snapshot().language, german);
    PSettings saved;
    ASSERT_TRUE(saved.load(file()));
    EXPECT_EQ(saved.language, german);
    languages.init();
}

// ---- Fit ------------------------------------------------------------------------------------

struct FitRow
{
    const char *name;
    QLocale::Language opensIn;
    QLocale::Language switchesTo; // in the open dialog; opensIn for none
};

void PrintTo(const FitRow &row, std::ostream *out)
{
    *out << row.name;
}

class Fit : public Setup, public ::testing::WithParamInterface<FitRow>
{
};

// Every visible widget of a tab page lies inside the page, and those a layout placed are no smaller
// than their content needs (a squeezed label or check box cuts its text).
void expectWhole(QWidget *page, const QString &tab)
{
    for (QWidget *w : page->findChildren<QWidget *>()) {
        if (!w->isVisible())
            continue;
        const QRect inPage(w->mapTo(page, QPoint(0, 0)), w->size());
        const std::string where = (tab + QLatin1Char(' ') + w->objectName()).toStdString();
        EXPECT_TRUE(page->rect().contains(inPage)) << where;
        if (w->parentWidget() == page || qobject_cast<QGroupBox *>(w->parentWidget())) {
            EXPECT_GE(w->width(), w->minimumSizeHint().width()) << where;
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << where;
        }
    }
}

TEST_P(Fit, TheDialogGrowsUntilEveryTabAndItsContentShowsWhole)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(TRANSLATION_QM_DIR "/vorelserver_de.qm"), dir.file("vorelserver_de.qm")));
    languages.scan();
    const QString opensIn = QLocale::languageToString(GetParam().opensIn);
    const QString language = QLocale::languageToString(GetParam().switchesTo);
    ASSERT_TRUE(languages.contains(language));
    ScopedSettings chosen([&](PSettings &s) { s.language = opensIn; });
    radio.present = true; // the Bluetooth tab at its fullest
    SetupDialog dialog(nullptr);
    run(dialog, [&](SetupDialog &d) {
        if (language != opensIn) {
            d.ui.comboBoxLanguage->setCurrentText(language);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        }
        EXPECT_EQ(languages.currentLanguage(), language);
        EXPECT_GE(d.width(), 466);
        EXPECT_GE(d.height(), 249);
        QTabWidget *tabs = d.ui.tabWidget;
        QTabBar *bar = tabs->tabBar();
        EXPECT_TRUE(d.rect().contains(tabs->geometry()));
        EXPECT_TRUE(tabs->rect().contains(bar->geometry()));
        for (QToolButton *scroll : bar->findChildren<QToolButton *>())
            EXPECT_FALSE(scroll->isVisible()) << "scroll buttons";
        for (int i = 0; i < tabs->count(); ++i) {
            const QString tab = tabs->tabText(i);
            EXPECT_TRUE(bar->rect().contains(bar->tabRect(i))) << tab.toStdString();
            EXPECT_GE(bar->tabRect(i).width(), bar->fontMetrics().horizontalAdvance(tab)) << tab.toStdString();
            tabs->setCurrentIndex(i);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QWidget *page = tabs->widget(i);
            EXPECT_TRUE(QRect(QPoint(0, 0), tabs->size()).contains(QRect(page->mapTo(tabs, QPoint(0, 0)), page->size())))
                << tab.toStdString();
            expectWhole(page, tab);
        }
        d.reject();
    });
    languages.init();
}

INSTANTIATE_TEST_SUITE_P(Languages, Fit,
                         ::testing::Values(FitRow{"English", QLocale::English, QLocale::English},
                                           FitRow{"German", QLocale::German, QLocale::German},
                                           FitRow{"GermanChosenWhileOpen", QLocale::English, QLocale::German}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Bluetooth radio ------------------------------------------------------------------------

TEST_F(Setup, WithoutARadioTheBluetoothTabSaysNotFound)
{
    ScopedSettings chosen;
    SetupDialog dialog(nullptr);
    run(dialog, [](SetupDialog &d) {
        EXPECT_EQ(d.ui.labelBtName->text(), QStringLiteral("<font color = red>not found</font>"));
        EXPECT_TRUE(d.ui.groupBoxDiscovery->isHidden());
        d.reject();
    });
}

TEST_F(Setup, TheRadioShowsItsNameAndWhetherItCanBeFound)
{
    ScopedSettings chosen;
    radio.present = true;
    SetupDialog dialog(nullptr);
    run(dialog, [&](SetupDialog &d) {
        EXPECT_EQ(d.ui.labelBtName->text(),
                  QStringLiteral("<font color = green><b>OFFICE-PC</b> (00:1A:7D:DA:71:13)</font>"));
        EXPECT_FALSE(d.ui.groupBoxDiscovery->isHidden());
        EXPECT_EQ(d.ui.labelDiscoveryStatus->text(), QStringLiteral("<font color = blue>Disabled</font>"));
        EXPECT_FALSE(d.ui.toolButtonDiscoveryEnable->isHidden());
        d.reject();
    });
    radio.discoverable = true;
    run(dialog, [&](SetupDialog &d) {
        EXPECT_EQ(d.ui.labelDiscoveryStatus->text(), QStringLiteral("<font color = blue><b>Enabled</font>"));
        EXPECT_TRUE(d.ui.toolButtonDiscoveryEnable->isHidden());
        d.reject();
    });
}

struct DiscoveryRow
{
    const char *name;
    QMessageBox::StandardButton answer;
    bool switchWorks;
    QList<bool> switches;
    QStringList texts;
};

void PrintTo(const DiscoveryRow &row, std::ostream *out)
{
    *out << row.name;
}

class Discovery : public Setup, public ::testing::WithParamInterface<DiscoveryRow>
{
};

const QString kAsk = QStringLiteral("Enable discovery?");
const QString kFailed = QStringLiteral("Unable to change discovery state");
const QString kEnabled = QStringLiteral(
    "Bluetooth discovery is enabled. Start searching bluetooth devices on the terminal and save settings. "
    "Then click OK to disable the discovery.");

TEST_P(Discovery, StaysOnOnlyWhileTheMessageIsOpen)
{
    const DiscoveryRow &row = GetParam();
    ScopedSettings chosen;
    radio.present = true;
    radio.switchWorks = row.switchWorks;
    BoxRecorder boxes(QMessageBox::Ok);
    boxes.answers = {row.answer};
    bool discoverableDuringMessage = false;
    boxes.during = [&] {
        if (boxes.boxes.last().kind == PMessageBox::Kind::Information)
            discoverableDuringMessage = radio.discoverable;
    };
    SetupDialog dialog(nullptr);
    run(dialog, [](SetupDialog &d) {
        d.ui.toolButtonDiscoveryEnable->click();
        d.reject();
    });
    EXPECT_EQ(boxes.texts(), row.texts);
    EXPECT_EQ(radio.switches, row.switches);
    EXPECT_FALSE(radio.discoverable);
    if (row.texts.contains(kEnabled)) {
        EXPECT_TRUE(discoverableDuringMessage);
        EXPECT_EQ(boxes.boxes.last().title, QStringLiteral("Message"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Discovery,
    ::testing::Values(DiscoveryRow{"No", QMessageBox::No, true, {}, {kAsk}},
                      DiscoveryRow{"Yes", QMessageBox::Yes, true, {true, false}, {kAsk, kEnabled}},
                      DiscoveryRow{"SwitchFails", QMessageBox::Yes, false, {true, false}, {kAsk, kFailed, kFailed}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
