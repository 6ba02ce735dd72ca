#include "VorelServer.h"

#include "AboutDialog.h"
#include "Helpers.h"
#include "PActions.h"
#include "PBtServer.h"
#include "PDebugLog.h"
#include "PIrdaServer.h"
#include "PLanguages.h"
#include "PMessageBox.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSettings.h"
#include "ProgramInfo.h"
#include "SetupDialog.h"
#include "Version.h"
#include "VorelWidget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>

#include <new>

VorelServer::VorelServer(QWidget *parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
    ui.tableWidgetGlobal->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    vorelServer = this;
    running = false;

    createLinks(this);

    trayMenu = new QMenu(this);
    actions = std::make_unique<PActions>(this);
    actions->retranslate();
    trayMenu->addAction(actions->startAction);
    trayMenu->addAction(actions->stopAction);
    trayMenu->addSeparator();
    trayMenu->addAction(actions->hideAction);
    trayMenu->addAction(actions->showAction);
    trayMenu->addSeparator();
    trayMenu->addAction(actions->settingsAction);
    trayMenu->addAction(actions->aboutAction);
    trayMenu->addSeparator();
    trayMenu->addAction(actions->exitAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setIcon(QIcon(QStringLiteral(":/VorelServer/Resources/pellamor2.png")));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &VorelServer::trayActivated);

    const QString title = versionTitle();
    trayIcon->setToolTip(title);
    setWindowTitle(title);

    trayIcon->show();
    updateButtons();
    updateMessage();
}

VorelServer::~VorelServer()
{
    // Sessions still running end before the links and rows they report to are destroyed.
    teardown();
}

QString VorelServer::versionTitle()
{
    return tr("VorelServer version %1").arg(versionText, 0, QLatin1Char(' ')) + QLatin1String(kBuildWidth);
}

bool VorelServer::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void VorelServer::showTrayMessage(const QString &text)
{
    trayIcon->showMessage(QStringLiteral("VorelServer"), text, QSystemTrayIcon::Information, 1000);
}

void VorelServer::showAtStartup()
{
    const PSettings current = settings.snapshot();
    if (current.runMinimized == 1) {
        showMinimized();
        if (current.minimizeToTray == 1 && trayAvailable())
            hide();
    } else {
        showNormal();
    }
}

QString VorelServer::statusText(bool running, const LinkStates &links, int port, int connections)
{
    QString text = tr("Server is");
    if (!running) {
        text += QLatin1Char(' ') + tr("stopped");
        return text;
    }
    text += QLatin1Char(' ') + tr("started.");
    const auto bold = [](const QString &name) {
        return QLatin1String(" <b>") + name + QLatin1String("</b>");
    };
    if (links.network)
        text += bold(tr("Network")) + QLatin1Char(' ') + tr("(port: %1).").arg(port, 0, 10, QLatin1Char(' '));
    if (links.bluetooth)
        text += bold(tr("Bluetooth")) + QLatin1Char('.');
    if (links.irdaNormal)
        text += bold(tr("Irda")) + QLatin1Char(' ') + tr("(Normal).");
    if (links.irdaIrcomm)
        text += bold(tr("Irda")) + QLatin1Char(' ') + tr("(Ircomm).");
    if (links.serial)
        text += bold(tr("USB")) + QLatin1Char(' ') + tr("(HA-N60).");
    text += QLatin1Char(' ') + tr("Active connections: %1").arg(connections);
    return text;
}

void VorelServer::getMessage(QString &text)
{
    const LinkStates links{netServer->running, btServer->running, irdaServer->running, ircommServer->running,
                           serialServer->running};
    text = statusText(running, links, netServer->port, widgets.size());
}

void VorelServer::updateMessage()
{
    QString text;
    getMessage(text);
    ui.labelServerState->setText(text);
    text.remove(QLatin1String("<b>"));
    text.remove(QLatin1String("</b>"));
    trayIcon->setToolTip(text);
}

void VorelServer::updateButtons()
{
    ui.toolButtonStart->setEnabled(!running);
    actions->startAction->setEnabled(!running);
    ui.toolButtonStop->setEnabled(running);
    actions->stopAction->setEnabled(running);
}

void VorelServer::startButton()
{
    if (starting)
        return;
    starting = true;
    const PSettings current = settings.snapshot();
    // Each box is shown at once, before the next link is tried.
    startLinks(current, [this, &current](const PLink *link) {
        PMessageBox::critical(this, tr("Error"), startFailure(link, current));
    });
    updateMessage();
    updateButtons();
    starting = false;
}

// The service reports the same texts in English.
QString VorelServer::startFailure(const PLink *link, const PSettings &current) const
{
    if (link == netServer)
        return tr("Unable to start the network server on port %1").arg(numberToString(current.networkPort));
    if (link == btServer)
        return tr("Unable to start the bluetooth server");
    if (link == irdaServer)
        return tr("Unable to start the irda server");
    if (link == ircommServer)
        return tr("Unable to start the irda ircomm server");
    return tr("Unable to start the serial server");
}

void VorelServer::stopButton()
{
    if (!PMessageBox::question(this, tr("Confirmation"), tr("Stop the server?")))
        return;
    stopLinks();
    updateMessage();
    updateButtons();
}

QObject *VorelServer::addWidget()
{
    VorelWidget *row = new (std::nothrow) VorelWidget(this);
    if (!row)
        return nullptr;
    const int index = ui.tableWidgetGlobal->rowCount();
    ui.tableWidgetGlobal->setRowCount(index + 1);
    ui.tableWidgetGlobal->setRowHeight(index, 65);
    ui.tableWidgetGlobal->setCellWidget(index, 0, row);
    widgets.append(row);
    updateMessage();
    if (isHidden())
        showTrayMessage(QStringLiteral("Terminal connected"));
    return row;
}

void VorelServer::removeWidget(QObject *row)
{
    QWidget *widget = qobject_cast<QWidget *>(row);
    widgets.removeOne(widget);
    QTableWidget *table = ui.tableWidgetGlobal;
    for (int index = 0; widget && index < table->rowCount(); ++index) {
        if (table->cellWidget(index, 0) == widget) {
            table->removeRow(index);
            break;
        }
    }
    updateMessage();
    if (isHidden())
        showTrayMessage(QStringLiteral("Terminal disconnected"));
}

void VorelServer::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    if (settings.snapshot().minimizeToTray == 1) {
        if (isVisible()) {
            hide();
            return;
        }
    } else if (!isMinimized()) {
        showMinimized();
        return;
    }
    showNormal();
    activateWindow();
}

void VorelServer::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && isMinimized()
        && settings.snapshot().minimizeToTray == 1 && trayAvailable())
        hide();
    event->accept();
}

void VorelServer::closeEvent(QCloseEvent *event)
{
    const bool wasHidden = isHidden();
    if (wasHidden)
        show();
    const QString question = running ? tr("Server is running. Stop and exit the VorelServer?")
                                     : tr("Exit the VorelServer?");
    if (!PMessageBox::question(this, tr("Confirmation"), question)) {
        if (wasHidden)
            hide();
        event->ignore();
        return;
    }
    QApplication::setQuitOnLastWindowClosed(true);
    if (wasHidden)
        hide();
    endServing();
    event->accept();
}

void VorelServer::endServing()
{
    stopLinks();
    trayIcon->hide();
    if (settings.snapshot().createDebug == 1)
        debugLog.stop();
}

void VorelServer::setupButton()
{
    if (inSetup)
        return;
    inSetup = true;
    const QString before = languages.currentLanguage();
    int result = 0;
    {
        SetupDialog dialog(nullptr);
        result = dialog.exec();
    }
    const bool switched = languages.currentLanguage() != before;
    if (result == QDialog::Accepted && switched) {
        ui.retranslateUi(this);
        actions->retranslate();
        updateMessage();
    } else if (result != QDialog::Accepted && switched) {
        languages.setLanguage(before);
    }
    const bool wanted = settings.snapshot().createDebug == 1;
    if (wanted && !debugLog.isStarted())
        debugLog.start();
    else if (!wanted && debugLog.isStarted())
        debugLog.stop();
    inSetup = false;
}

void VorelServer::aboutButton()
{
    AboutDialog about(nullptr);
    about.exec();
}
