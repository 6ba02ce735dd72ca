#include "SetupDialog.h"

#include "Bluetooth.h"
#include "PLanguages.h"
#include "PMessageBox.h"

#include <QDir>
#include <QFileInfo>
#include <QTextCodec>

#include <algorithm>

namespace {

// Upper-case codec names, each once, without the long aliases, in character order.
QStringList charsetNames()
{
    QStringList names;
    for (const QByteArray &codec : QTextCodec::availableCodecs()) {
        const QString name = QString::fromLatin1(codec).toUpper();
        if (name.size() < 20 && !names.contains(name))
            names.append(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

SetupDialog::SetupDialog(QWidget *parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    const QStringList charsets = charsetNames();
    ui.comboBoxDataCharset->addItems(charsets);
    ui.comboBoxTerminalCharset->addItems(charsets);
    // The first name becomes current as it is added, which switches to it; exec() selects the
    // language of the settings afterwards.
    ui.comboBoxLanguage->addItems(languages.names());
}

int SetupDialog::exec()
{
    copy = settings.snapshot();
    fillForm();
    return QDialog::exec();
}

void SetupDialog::selectExact(QComboBox *box, const QString &text)
{
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        box->setCurrentIndex(index);
}

// The list holds upper-case names, while a settings file may carry any spelling: such a name is
// found ignoring case, or kept as an item of its own, so that confirming another change never
// replaces it behind the user's back.
void SetupDialog::selectCharset(QComboBox *box, const QString &name)
{
    int index = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        index = box->findText(name, Qt::MatchFixedString);
    if (index < 0) {
        box->addItem(name);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

void SetupDialog::fillForm()
{
    ui.checkBoxMinimizeToTray->setChecked(copy.minimizeToTray == 1);
    ui.checkBoxRunAtStartup->setChecked(copy.runAtStartup == 1);
    ui.checkBoxRunMinimized->setChecked(copy.runMinimized == 1);
    ui.checkBoxCreateDebug->setChecked(copy.createDebug == 1);
    ui.spinBoxNetworkPort->setValue(copy.networkPort);
    ui.spinBoxNetworkTimeout->setValue(copy.networkTimeout);
    ui.spinBoxDataDelimeter->setValue(copy.tableDelimeter);
    ui.checkBoxEnableNetwork->setChecked(copy.networkEnable == 1);
    ui.checkBoxEnableBluetooth->setChecked(copy.bluetoothEnable == 1);
    ui.checkBoxIrdaNormal->setChecked(copy.irdaNormalEnable == 1);
    ui.checkBoxIrdaIrcomm->setChecked(copy.irdaIrcommEnable == 1);
    ui.checkBoxCasioN60->setChecked(copy.casioN60Enable == 1);
    selectCharset(ui.comboBoxDataCharset, copy.tableCharset);
    selectCharset(ui.comboBoxTerminalCharset, copy.terminalCharset);
    selectExact(ui.comboBoxLanguage, copy.language);
    changeDelim(copy.tableDelimeter);
    updateBluetoothState();
    ui.tabWidget->setCurrentIndex(0);
}

void SetupDialog::readForm()
{
    copy.minimizeToTray = ui.checkBoxMinimizeToTray->isChecked() ? 1 : 0;
    copy.runAtStartup = ui.checkBoxRunAtStartup->isChecked() ? 1 : 0;
    copy.runMinimized = ui.checkBoxRunMinimized->isChecked() ? 1 : 0;
    copy.createDebug = ui.checkBoxCreateDebug->isChecked() ? 1 : 0;
    copy.networkPort = ui.spinBoxNetworkPort->value();
    copy.networkTimeout = ui.spinBoxNetworkTimeout->value();
    copy.tableDelimeter = ui.spinBoxDataDelimeter->value();
    copy.networkEnable = ui.checkBoxEnableNetwork->isChecked() ? 1 : 0;
    copy.bluetoothEnable = ui.checkBoxEnableBluetooth->isChecked() ? 1 : 0;
    copy.irdaNormalEnable = ui.checkBoxIrdaNormal->isChecked() ? 1 : 0;
    copy.irdaIrcommEnable = ui.checkBoxIrdaIrcomm->isChecked() ? 1 : 0;
    copy.casioN60Enable = ui.checkBoxCasioN60->isChecked() ? 1 : 0;
    copy.tableCharset = ui.comboBoxDataCharset->currentText();
    copy.terminalCharset = ui.comboBoxTerminalCharset->currentText();
    copy.language = ui.comboBoxLanguage->currentText();
}

void SetupDialog::accept()
{
    readForm();
    if (copy == settings.snapshot()) {
        QDialog::accept();
        return;
    }
    if (!PMessageBox::question(this, tr("Confirmation"), tr("Save settings?"))) {
        QDialog::reject();
        return;
    }
    settings.store(copy);
    const QString fileName = QString::fromLatin1(kSettingsFileName);
    // The new values are in use either way; the user must know they will not survive a restart.
    if (!copy.save(fileName))
        PMessageBox::critical(this, tr("Error"),
                              tr("Unable to save the settings file %1")
                                  .arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath())));
    QDialog::accept();
}

void SetupDialog::changeLang(const QString &name)
{
    languages.setLanguage(name);
    ui.retranslateUi(this);
    changeDelim(ui.spinBoxDataDelimeter->value());
    updateBluetoothState();
}

void SetupDialog::changeDelim(int code)
{
    if (code >= 33 && code <= 126)
        ui.toolButtonDelimeter->setText(QString(QChar::fromLatin1(char(code))));
    else
        ui.toolButtonDelimeter->setText(QStringLiteral("--"));
}

void SetupDialog::changeDiscovery()
{
    if (!PMessageBox::question(this, tr("Confirmation"), tr("Enable discovery?")))
        return;
    bool failed = false;
    if (!btSetDiscoverable(true)) {
        PMessageBox::critical(this, tr("Error"), tr("Unable to change discovery state"));
        failed = true;
    }
    if (!btIsDiscoverable()) {
        PMessageBox::critical(this, tr("Error"), tr("Unable to change discovery state"));
        failed = true;
    }
    if (!failed)
        PMessageBox::information(this, tr("Message"),
                                 tr("Bluetooth discovery is enabled. Start searching bluetooth devices on the "
                                    "terminal and save settings. Then click OK to disable the discovery."));
    btSetDiscoverable(false);
    updateBluetoothState();
}

void SetupDialog::updateBluetoothState()
{
    QString name;
    QString address;
    if (!btRadioInfo(name, address)) {
        ui.labelBtName->setText(QLatin1String("<font color = red>") + tr("not found") + QLatin1String("</font>"));
        ui.groupBoxDiscovery->setVisible(false);
        return;
    }
    ui.labelBtName->setText(QLatin1String("<font color = green><b>") + name + QLatin1String("</b> (")
                            + address + QLatin1String(")</font>"));
    ui.groupBoxDiscovery->setVisible(true);
    if (btIsDiscoverable()) {
        ui.labelDiscoveryStatus->setText(QLatin1String("<font color = blue><b>") + tr("Enabled") + QLatin1String("</font>"));
        ui.toolButtonDiscoveryEnable->setVisible(false);
    } else {
        ui.labelDiscoveryStatus->setText(QLatin1String("<font color = blue>") + tr("Disabled") + QLatin1String("</font>"));
        ui.toolButtonDiscoveryEnable->setVisible(true);
    }
}
