#pragma once

#include "PFrontEnd.h"
#include "ui_VorelServer.h"

#include <QList>
#include <QMainWindow>
#include <QSystemTrayIcon>

#include <memory>

class PActions;
class QMenu;
struct PSettings;

// Which links run, as the status line names them.
struct LinkStates
{
    bool network = false;
    bool bluetooth = false;
    bool irdaNormal = false;
    bool irdaIrcomm = false;
    bool serial = false;
};

// The desktop program's main window: it owns the links, starts and stops them, shows one row per
// connected terminal and a status line, and lives in the system tray where there is one.
class VorelServer : public QMainWindow, public PFrontEnd
{
    Q_OBJECT
public:
    explicit VorelServer(QWidget *parent = nullptr);
    ~VorelServer() override;

    bool hasRows() const override { return true; }
    QObject *addWidget() override;
    void removeWidget(QObject *row) override;
    void updateButtons();

    // Start-up: normal, minimised, or only in the tray when the settings ask for it.
    void showAtStartup();
    // The confirmed close's work, also done without asking on a stop signal: the links stop, the
    // tray icon goes and the debug log gets its stop line. The sessions end in teardown().
    void endServing();

    // The status line for these running links, listening port and connection count.
    static QString statusText(bool running, const LinkStates &links, int port, int connections);
    // The window's title before any language switch: the version and the build's width.
    static QString versionTitle();

    QList<QWidget *> widgets;
    QSystemTrayIcon *trayIcon;
    std::unique_ptr<PActions> actions;
    Ui_VorelServerClass ui;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    // Asked wherever the window would go into the tray: without a tray it must stay reachable.
    virtual bool trayAvailable() const;
    virtual void showTrayMessage(const QString &text);

public slots:
    void setupButton();
    void startButton();
    void stopButton();
    void aboutButton();
    void updateMessage();
    void getMessage(QString &text);
    void trayActivated(QSystemTrayIcon::ActivationReason reason);

private:
    // What the user is told of a link that did not start.
    QString startFailure(const PLink *link, const PSettings &current) const;

    QMenu *trayMenu;
    // A second Start or Settings from the tray while the first one still shows a box is ignored.
    bool starting = false;
    bool inSetup = false;
};
