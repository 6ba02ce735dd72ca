#include "PActions.h"

#include "VorelServer.h"

#include <QAction>
#include <QIcon>

namespace {

QAction *makeAction(VorelServer *window, const QString &text, const char *icon)
{
    QAction *action = icon ? new QAction(QIcon(QString::fromLatin1(icon)), text, window)
                           : new QAction(text, window);
    return action;
}

} // namespace

PActions::PActions(VorelServer *window)
{
    hideAction = makeAction(window, QStringLiteral("Hide"), nullptr);
    startAction = makeAction(window, QStringLiteral("Start"), ":/VorelServer/Resources/car.png");
    stopAction = makeAction(window, QStringLiteral("Stop"), ":/VorelServer/Resources/warning.png");
    showAction = makeAction(window, QStringLiteral("Show"), nullptr);
    settingsAction = makeAction(window, QStringLiteral("Settings"), ":/VorelServer/Resources/settings.png");
    exitAction = makeAction(window, QStringLiteral("Exit"), nullptr);
    aboutAction = makeAction(window, QStringLiteral("About"), ":/VorelServer/Resources/pellamor2.png");

    connect(hideAction, &QAction::triggered, window, &QWidget::hide);
    connect(startAction, &QAction::triggered, window, &VorelServer::startButton);
    connect(stopAction, &QAction::triggered, window, &VorelServer::stopButton);
    connect(showAction, &QAction::triggered, window, &QWidget::showNormal);
    connect(settingsAction, &QAction::triggered, window, &VorelServer::setupButton);
    connect(exitAction, &QAction::triggered, window, &QWidget::close);
    connect(aboutAction, &QAction::triggered, window, &VorelServer::aboutButton);
}

void PActions::retranslate()
{
    hideAction->setText(tr("Hide"));
    startAction->setText(tr("Start"));
    stopAction->setText(tr("Stop"));
    showAction->setText(tr("Show"));
    settingsAction->setText(tr("Settings"));
    exitAction->setText(tr("Exit"));
    aboutAction->setText(tr("About"));
}
