#pragma once

#include "PSettings.h"
#include "ui_SetupDialog.h"

#include <QDialog>

class QComboBox;

// The modal settings dialog: edits a copy of the settings on six tabs, switches the language
// live, shows the Bluetooth radio, and stores and saves the copy when the user confirms.
class SetupDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SetupDialog(QWidget *parent);

    Ui_SetupDialog ui;

public slots:
    void accept() override;
    int exec() override;
    void changeLang(const QString &name);
    void changeDelim(int code);
    void changeDiscovery();

private:
    void fillForm();
    void readForm();
    void updateBluetoothState();
    static void selectCharset(QComboBox *box, const QString &name);
    static void selectExact(QComboBox *box, const QString &text);

    PSettings copy;
};
