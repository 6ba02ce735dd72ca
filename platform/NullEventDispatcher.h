#pragma once

#include <QAbstractEventDispatcher>

// An event dispatcher for a thread that runs blocking loops only and never an event loop. Qt
// gives every thread one when it starts, and its own dispatchers each need a wake-up descriptor:
// a thread started when none is left would end the process. This one needs none. Socket
// notifiers and timers are taken and never fire; events posted to the thread's objects are
// delivered when the thread asks for them (processEvents) and when it ends.
class NullEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    explicit NullEventDispatcher(QObject *parent = nullptr);

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;
    void flush() override;
};
