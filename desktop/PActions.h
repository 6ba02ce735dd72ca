#pragma once

#include <QObject>

class QAction;
class VorelServer;

// The seven actions of the tray menu; the window owns them (they are its children).
class PActions : public QObject
{
    Q_OBJECT
public:
    explicit PActions(VorelServer *window);

    void retranslate();

    QAction *startAction;
    QAction *stopAction;
    QAction *hideAction;
    QAction *showAction;
    QAction *settingsAction;
    QAction *exitAction;
    QAction *aboutAction;
};
