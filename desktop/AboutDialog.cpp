#include "AboutDialog.h"

#include "ProgramInfo.h"
#include "Version.h"

#include <QDesktopServices>
#include <QUrl>

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    ui.labelVersion->setText(tr("version %1").arg(versionText) + QLatin1String(kBuildWidth));
    ui.labelCopyright->setText(QString::fromUtf8(kMakerNotice));
    ui.LabelBuild->setText(tr("Build by: %1 %2").arg(QLatin1String(__DATE__), QLatin1String(__TIME__)));
}

void AboutDialog::openUrl()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerUrl), QUrl::TolerantMode));
}
