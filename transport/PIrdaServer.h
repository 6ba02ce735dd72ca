#pragma once

#include "PCommonServer.h"

// The IrDA listener, under the server's own service name or, with `ircomm`, as an IrCOMM port.
class PIrdaServer : public PCommonServer
{
    Q_OBJECT
public:
    explicit PIrdaServer(QObject *parent);

    // A new socket at every start; on false nothing is left open.
    bool start() override;
    bool stop() override;
    // "Irda", " (ircomm)" in that mode, a blank, then the device in range if any; always true.
    bool connectionName(qintptr descriptor, QString &name) override;

    // Set by the front-end on its second IrDA listener before any start.
    bool ircomm = false;
};
