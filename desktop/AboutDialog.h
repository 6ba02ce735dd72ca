#pragma once

#include "ui_AboutDialog.h"

#include <QDialog>

// The modal about box: program name, version, maker and build time; the icon opens the maker's
// web page.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent);

    Ui_AboutDialog ui;

public slots:
    void openUrl();
};
