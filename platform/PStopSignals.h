#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into one Qt signal on the thread that built the object (the
// main thread): a process manager's stop request then runs through the event loop instead of a
// signal handler. Only the first request is reported. One instance at a time; the destructor
// puts the earlier handlers back.
class PStopSignals : public QObject
{
    Q_OBJECT
public:
    explicit PStopSignals(QObject *parent = nullptr);
    ~PStopSignals() override;

    // False when the handlers could not be installed; the signals then keep their old actions.
    bool isArmed() const { return armed; }

signals:
    void stopRequested(int signalNumber);

private slots:
    void drain();

private:
    QSocketNotifier *notifier = nullptr;
    bool armed = false;
    bool reported = false;
};
