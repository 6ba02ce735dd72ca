#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

// A terminal sitting in a cradle, played by the master side of a pseudo-terminal pair: the
// server opens the slave side ("/dev/pts/N", port name "pts/N") as its serial port. Every wait
// is bounded, so a server that hangs fails the test instead of stopping the suite.
class PtyTerminal
{
public:
    PtyTerminal();
    ~PtyTerminal();
    PtyTerminal(const PtyTerminal &) = delete;
    PtyTerminal &operator=(const PtyTerminal &) = delete;

    bool isOpen() const { return master >= 0; }
    // The port name as the listing gives it: the slave's path under /dev.
    QString portName() const { return name; }
    QString path() const { return QStringLiteral("/dev/") + name; }

    bool sendRaw(const QByteArray &bytes, int timeoutMs = 10000);
    bool sendPacket(const QByteArray &payload);
    bool readExact(int count, QByteArray &out, int timeoutMs = 10000);
    bool readPacket(QByteArray &payload);
    // sendPacket + readPacket; an empty array when either fails.
    QByteArray call(const QByteArray &payload);
    // True when nothing arrives within the time.
    bool silentFor(int timeoutMs);

    // The slave's line settings, read and written through the master.
    bool lineSettings(termios &out) const;
    bool setSpeed(speed_t speed);

    // The terminal leaves the cradle: the server's side sees a hang-up.
    void close();

private:
    int master = -1;
    QString name;
};
