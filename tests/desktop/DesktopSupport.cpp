#include "DesktopSupport.h"

#include <QApplication>
#include <QTimer>

BoxRecorder::BoxRecorder(QMessageBox::StandardButton fallback)
    : fallback(fallback)
{
    previous = PMessageBox::setHandler([this](const PMessageBox::Box &box) {
        boxes.append(box);
        if (during)
            during();
        if (answers.empty())
            return this->fallback;
        const QMessageBox::StandardButton answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

BoxRecorder::~BoxRecorder()
{
    PMessageBox::setHandler(std::move(previous));
}

QStringList BoxRecorder::texts() const
{
    QStringList out;
    for (const PMessageBox::Box &box : boxes)
        out << box.text;
    return out;
}

DialogRadio::DialogRadio()
    : previous(platform::setBluetoothRadio(this))
{
}

DialogRadio::~DialogRadio()
{
    platform::setBluetoothRadio(previous);
}

bool DialogRadio::info(QString &radioName, quint64 &radioAddress)
{
    if (!present)
        return false;
    radioName = name;
    radioAddress = address;
    return true;
}

bool DialogRadio::setDiscoverable(bool on)
{
    switches.append(on);
    if (!present || !switchWorks)
        return false;
    discoverable = on;
    return true;
}

NoIrda::NoIrda()
    : previous(platform::setIrdaStack(this))
{
}

NoIrda::~NoIrda()
{
    platform::setIrdaStack(previous);
}

void whenModal(const std::function<void(QWidget *)> &action)
{
    // Polls, because the dialog appears only once exec() has started its loop.
    QTimer *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start(5);
}
