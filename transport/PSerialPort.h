#pragma once

#include "PDataPort.h"
#include "SerialDevice.h"

#include <QString>

#include <memory>

class PStopEvent;

// The data port of a USB cradle session: the serial port the cradle shows, with fixed line
// settings. Every wait is bounded by networkTimeout and ends at once when the poller's stop
// event or the port's own is set; once either is set every later transfer fails at once.
// Built, opened, used, closed and deleted on the session thread; only stop() may come from
// another thread.
class PSerialPort : public PDataPort
{
    Q_OBJECT
public:
    // `name` is the port's name under /dev; `serverStop` the poller's stop event of this run.
    PSerialPort(const QString &name, std::shared_ptr<PStopEvent> serverStop);
    ~PSerialPort() override;

    bool read(char *buffer, int length) override;
    bool write(const char *data, int length) override;
    // False when the port cannot be had, or when either stop event is unusable: a port that
    // could not be stopped would keep its session, and the program, from ending. Why the port
    // could not be had goes to the debug log.
    bool open() override;
    bool close() override;

    // Sets the own stop event. Any thread.
    void stop();
    const std::shared_ptr<PStopEvent> &ownStopEvent() const { return ownStop; }
    const QString &portName() const { return name; }
    // Why the last open failed.
    QString lastError() const { return device.lastError(); }

private:
    platform::SerialDevice device;
    const QString name;
    const std::shared_ptr<PStopEvent> serverStop;
    const std::shared_ptr<PStopEvent> ownStop;
};
