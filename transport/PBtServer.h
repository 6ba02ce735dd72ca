#pragma once

#include "PCommonServer.h"

// The Bluetooth listener: an RFCOMM channel of the system's choosing, published as a Serial Port
// service for as long as the listener runs. Terminals that speak hex text are served too (the
// data port of a Bluetooth session switches by itself).
class PBtServer : public PCommonServer
{
    Q_OBJECT
public:
    explicit PBtServer(QObject *parent);

    // A new socket and a new record at every start; on false nothing is left open or published.
    bool start() override;
    bool stop() override;
    // "Bluetooth (" address ")", or "Bluetooth" alone (and false) when the address is unknown.
    bool connectionName(qintptr descriptor, QString &name) override;
};
