#pragma once

#include "PSettings.h"
#include "ui_SetupDialog.h"

#include <QDialog>

class QComboBox;

// The modal settings dialog: edits a copy of the settings on six tabs, switches the language
// live, shows the Bluetooth radio, and stores and saves the copy when the user confirms. Its tab bar
// never scrolls or elides (set in the form): the dialog grows from its designed size instead, so
// that every tab title and page shows whole with whatever fonts and language the desktop has.
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
