#include "VorelServer.h"

#include "PSettings.h"

VorelServer::VorelServer(QObject *parent)
    : QObject(parent)
{
    vorelServer = this;
    createLinks(this);
}

VorelServer::~VorelServer() = default;

void VorelServer::startButton()
{
    const PSettings current = settings.snapshot();
    startLinks(current, [this, &current](Link link) {
        if (report)
            report(startFailure(link, current));
    });
}

void VorelServer::stopButton()
{
    stopLinks();
}
