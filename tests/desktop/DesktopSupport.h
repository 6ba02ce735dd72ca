#pragma once

#include "BluetoothRadio.h"
#include "IrdaStack.h"
#include "PMessageBox.h"
#include "VorelServer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>

// Failed comparisons print the texts themselves.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

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

// The local Bluetooth radio for the setup dialog, in place while it lives; none by default, so
// that no test asks the system's. Keeps the switches asked of it.
class DialogRadio : public platform::BluetoothRadio
{
public:
    DialogRadio();
    ~DialogRadio() override;

    bool info(QString &radioName, quint64 &radioAddress) override;
    bool isDiscoverable() override { return present && discoverable; }
    bool setDiscoverable(bool on) override;

    bool present = false;
    QString name = QStringLiteral("OFFICE-PC");
    quint64 address = 0x001A7DDA7113ull;
    bool discoverable = false;
    bool switchWorks = true;
    QList<bool> switches;

private:
    platform::BluetoothRadio *previous;
};

// An IrDA layer without hardware: every listen fails, as on current Linux kernels.
class NoIrda : public platform::IrdaStack
{
public:
    NoIrda();
    ~NoIrda() override;

    bool listen(qintptr &socket, bool) override
    {
        socket = -1;
        return false;
    }
    bool deviceList(qintptr, QByteArray &) override { return false; }

private:
    platform::IrdaStack *previous;
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
