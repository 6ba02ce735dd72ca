#include "VorelServer.h"

#include "Helpers.h"
#include "PBtServer.h"
#include "PIrdaServer.h"
#include "PNetServer.h"
#include "PSerialServer.h"
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
    startLinks(current, [this, &current](const PLink *link) {
        if (report)
            report(startFailure(link, current));
    });
}

void VorelServer::stopButton()
{
    stopLinks();
}

QString VorelServer::startFailure(const PLink *link, const PSettings &current) const
{
    if (link == netServer)
        return QStringLiteral("Unable to start the network server on port %1")
            .arg(numberToString(current.networkPort));
    if (link == btServer)
        return QStringLiteral("Unable to start the bluetooth server");
    if (link == irdaServer)
        return QStringLiteral("Unable to start the irda server");
    if (link == ircommServer)
        return QStringLiteral("Unable to start the irda ircomm server");
    return QStringLiteral("Unable to start the serial server");
}
