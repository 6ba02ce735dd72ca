#include "VorelServer.h"

#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
#include "PSettings.h"

VorelServer::VorelServer(QObject *parent)
    : QObject(parent)
{
    vorelServer = this;
    netServer = new PNetServer(this);
    btServer = new PBtServer(this);
    irdaServer = new PIrdaServer(this);
    ircommServer = new PIrdaServer(this);
    ircommServer->ircomm = true;
    serialServer = new PSerialServer(this);
}

VorelServer::~VorelServer() = default;

void VorelServer::startButton()
{
    const PSettings current = settings.snapshot();
    bool started = false;
    if (current.networkEnable == 1) {
        netServer->port = current.networkPort;
        started = netServer->start() || started;
    }
    if (current.bluetoothEnable == 1)
        started = btServer->start() || started;
    if (current.irdaNormalEnable == 1)
        started = irdaServer->start() || started;
    if (current.irdaIrcommEnable == 1)
        started = ircommServer->start() || started;
    if (current.casioN60Enable == 1)
        started = serialServer->start() || started;
    if (started)
        running = true;
}

void VorelServer::stopButton()
{
    stopLinks();
}
