#include "NullEventDispatcher.h"

#include <QCoreApplication>

NullEventDispatcher::NullEventDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
{
}

bool NullEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags)
{
    emit awake();
    QCoreApplication::sendPostedEvents();
    return false;
}

bool NullEventDispatcher::hasPendingEvents()
{
    return false;
}

void NullEventDispatcher::registerSocketNotifier(QSocketNotifier *)
{
}

void NullEventDispatcher::unregisterSocketNotifier(QSocketNotifier *)
{
}

void NullEventDispatcher::registerTimer(int, int, Qt::TimerType, QObject *)
{
}

bool NullEventDispatcher::unregisterTimer(int)
{
    return true;
}

bool NullEventDispatcher::unregisterTimers(QObject *)
{
    return true;
}

QList<QAbstractEventDispatcher::TimerInfo> NullEventDispatcher::registeredTimers(QObject *) const
{
    return {};
}

int NullEventDispatcher::remainingTime(int)
{
    return -1;
}

void NullEventDispatcher::wakeUp()
{
}

void NullEventDispatcher::interrupt()
{
}

void NullEventDispatcher::flush()
{
}
