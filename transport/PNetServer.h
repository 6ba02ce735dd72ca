#pragma once

#include "PCommonServer.h"

// The TCP listener on every local address.
class PNetServer : public PCommonServer
{
    Q_OBJECT
public:
    explicit PNetServer(QObject *parent);

    // Listens on `port`; false for a port outside 1..65535 or one that cannot be had.
    bool start() override;
    bool stop() override;
    bool connectionName(qintptr descriptor, QString &name) override;

    // From networkPort at construction; the front-end copies the setting again before a start.
    qint32 port;
};
