#include "VorelServer.h"

#include "PNetServer.h"
#include "PSettings.h"

VorelServer::VorelServer(QObject *parent)
    : QObject(parent)
{
    vorelServer = this;
    netServer = new PNetServer(this);
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
    if (started)
        running = true;
}

void VorelServer::stopButton()
{
    stopLinks();
}
