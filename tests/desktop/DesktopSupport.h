#pragma once

#include "DesktopRadio.h"
#include "PMessageBox.h"
#include "VorelServer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// Answers every message box in place of a person and keeps what was asked. Answers are taken
// from the queue, then `fallback`; `during` runs while a box stands, as if the user clicked
// elsewhere meanwhile.
class BoxRecorder
{
public:
    explicit BoxRecorder(QMessageBox::StandardButton fallback = QMessageBox::No);
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    QStringList texts() const;

    QList<PMessageBox::Box> boxes;
    std::deque<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton fallback;
    std::function<void()> during;

private:
    PMessageBox::Handler previous;
};

// A radio for the setup dialog; counts the switches asked of it.
class FakeRadio
{
public:
    FakeRadio();
    ~FakeRadio();
    FakeRadio(const FakeRadio &) = delete;
    FakeRadio &operator=(const FakeRadio &) = delete;

    bool present = true;
    QString name = QStringLiteral("OFFICE-PC");
    QString address = QStringLiteral("00:1A:7D:DA:71:13");
    bool discoverable = false;
    bool switchWorks = true;
    QList<bool> switches;

private:
    DesktopRadio::Backend previous;
};

// The main window with the tray made available or not, and its tray messages kept.
class TestWindow : public VorelServer
{
    Q_OBJECT
public:
    explicit TestWindow(bool tray = false) : tray(tray) {}

    bool tray;
    QStringList trayMessages;

    using VorelServer::changeEvent;

protected:
    bool trayAvailable() const override { return tray; }
    void showTrayMessage(const QString &text) override { trayMessages.append(text); }
};

// Runs `action` on the modal dialog as soon as the event loop shows one.
void whenModal(const std::function<void(QWidget *)> &action);
